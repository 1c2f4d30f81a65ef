#include "cli/report.h"

#include <nlohmann/json.hpp>
#include <optional>

namespace mpg::cli {

namespace {

using Json = nlohmann::ordered_json;

// The names stay fixed whatever the texts the window shows: scripts test
// them.
const char* actionName(RepairAction action) {
    switch (action) {
        case RepairAction::LeftAlone:
            return "left_alone";
        case RepairAction::CutRuns:
            return "cut_runs";
        case RepairAction::CutAtBreak:
            return "cut_at_break";
        case RepairAction::Padded:
            return "padded";
        case RepairAction::LengthFromFile:
            return "length_from_file";
        case RepairAction::FillBehind:
            return "fill_behind";
        case RepairAction::Dropped:
            break;
    }
    return "dropped";
}

const char* certaintyName(RepairCertainty certainty) {
    switch (certainty) {
        case RepairCertainty::Exact:
            return "exact";
        case RepairCertainty::Probable:
            return "probable";
        case RepairCertainty::Unresolved:
            break;
    }
    return "unresolved";
}

Json blockJson(const BlockRepair& r, const Position* at) {
    Json cuts = Json::array();
    for (size_t k = 0; k < r.cutCount && k < r.cuts.size(); ++k) {
        const RepairCut& c = r.cuts[k];
        cuts.push_back({{"file_offset", c.fileOffset},
                        {"length", c.length},
                        {"byte", c.byte >= 0 ? Json(c.byte) : Json(nullptr)}});
    }
    // A dropped block has no place in the output.
    const bool written = at != nullptr && r.action != RepairAction::Dropped;
    return {{"index", r.index},
            {"file_offset", r.fileOffset},
            {"code", r.code},
            {"declared_size", r.declaredSize},
            {"real_size", r.realSize},
            {"action", actionName(r.action)},
            {"certainty", certaintyName(r.certainty)},
            {"cuts", std::move(cuts)},
            {"padded", r.padded},
            {"output_offset", written ? Json(*at) : Json(nullptr)}};
}

bool appendText(OutputFile& file, const std::string& text) {
    return file.append(reinterpret_cast<const uint8_t*>(text.data()), text.size());
}

// Paths are bytes: one that is no valid UTF-8 is written with replacement
// characters rather than failing the report.
std::string dumped(const Json& value) {
    return value.dump(-1, ' ', false, Json::error_handler_t::replace);
}

}  // namespace

const char* sectorFaultName(SectorFault fault) {
    switch (fault) {
        case SectorFault::BadChecksum:
            return "bad_checksum";
        case SectorFault::Unreadable:
            return "unreadable";
        case SectorFault::Missing:
            return "missing";
        case SectorFault::Duplicate:
            return "duplicate";
        case SectorFault::OutOfOrder:
            return "out_of_order";
        case SectorFault::DamagedHeader:
            return "damaged_header";
        case SectorFault::SteppedOver:
            return "stepped_over";
        case SectorFault::CutShort:
            break;
    }
    return "cut_short";
}

bool writeReport(OutputFile& file, const ReportFiles& files, const RepairLog& repairs,
                 const PositionRuns& located) {
    const RepairSummary summary = summarize(repairs);
    const Json head = {{"input", files.input},
                       {"output", files.output.empty() ? Json(nullptr) : Json(files.output)},
                       {"summary",
                        {{"blocks", summary.blocks},
                         {"exact", summary.exact},
                         {"decodable", summary.decodable},
                         {"unresolved", summary.unresolved}}}};
    // The head without its closing brace, then the blocks one per line.
    std::string text = dumped(head);
    text.pop_back();
    text += ",\"blocks\":[";
    bool ok = appendText(file, text);
    auto place = located.begin();
    size_t k = 0;
    for (auto r = repairs.begin(); r != repairs.end() && ok; ++r, ++k) {
        std::optional<Position> at;
        if (k < located.size()) at = *place++;
        ok = appendText(file, (k == 0 ? "\n" : ",\n") + dumped(blockJson(*r, at ? &*at : nullptr)));
    }
    return ok && appendText(file, "\n]}\n") && !file.finish();
}

}  // namespace mpg::cli
