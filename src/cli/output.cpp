#include "cli/output.h"

#include "cli/report.h"
#include "stream/file_io.h"

#include <unistd.h>

#include <algorithm>
#include <array>
#include <cstdio>
#include <functional>
#include <iostream>
#include <nlohmann/json.hpp>

namespace mpg::cli {

void printOut(std::string_view text) {
    if (!writeFully(STDOUT_FILENO, reinterpret_cast<const uint8_t*>(text.data()), text.size())) {
        throw OutputFailed{errno};
    }
}

namespace {

// Text gathered and printed a chunk at a time: a plan, a list or a JSON
// document can have millions of lines.
class ChunkedOut {
  public:
    ChunkedOut() = default;
    ChunkedOut(const ChunkedOut&) = delete;
    ChunkedOut& operator=(const ChunkedOut&) = delete;
    std::string& text() { return text_; }
    // After each line or value.
    void flushWhenFull() {
        if (text_.size() >= kChunk) flush();
    }
    void flush() {
        printOut(text_);
        text_.clear();
    }

  private:
    static constexpr size_t kChunk = size_t{1} << 16;
    std::string text_;
};

}  // namespace

std::string glossed(const std::function<std::string(Language)>& text) {
    std::string line = text(currentLanguage());
    if (currentLanguage() == Language::Russian) line += " (" + text(Language::English) + ")";
    return line;
}

void say(Message message, const std::string& detail) {
    // Here a file is replaced by --force.
    if (message == Message::OutputExists) message = Message::OutputExistsForce;
    std::cerr << messageText(message) << detail;
    if (currentLanguage() == Language::Russian) std::cerr << " (" << messageGloss(message) << ")";
    std::cerr << "\n";
}

void sayFailure(const Failure& failure) {
    if (const std::optional<Message> message = failureMessage(failure)) {
        say(*message, failureDetail(failure));
    }
}

CliSink::CliSink(bool quiet, uint64_t bytes)
    : show_(!quiet && ::isatty(STDERR_FILENO) != 0), bytes_(bytes), start_(Clock::now()) {}

CliSink::~CliSink() {
    if (drawn_) std::fputs("\r\033[K", stderr);
}

void CliSink::notify(const Notice& notice) {
    if (notice.kind == Notify::Progress || notice.kind == Notify::JoinProgress) {
        draw(notice.payload, progressLine(notice));
    }
}

void CliSink::draw(int32_t percent, const std::string& text) {
    if (!show_) return;
    const double seconds = std::chrono::duration<double>(Clock::now() - start_).count();
    const double rate =
        seconds > 0 ? double(bytes_) * std::min(percent, 100) / 100 / seconds / 1e6 : 0;
    const int filled = std::clamp(percent, 0, 100) / 4;
    std::fprintf(stderr, "\r[%-25s] %3d%%  %s  %.0f MB/s\033[K",
                 std::string(size_t(filled), '#').c_str(), percent, text.c_str(), rate);
    drawn_ = true;
}

void printRows(const BlockTable& table, const std::string& prefix, const RepairSession* at) {
    int number = 0;
    ChunkedOut out;
    std::string& lines = out.text();
    for (size_t i = 0; i < table.size(); ++i) {
        if (table[i].broken != kBrokenListed) continue;
        lines += prefix;
        ++number;
        BlockRecord shown = table[i];
        if (at != nullptr) shown.offset = at->shownPosition(shown.offset);
        for (int c = 0; c < kErrorColumns; ++c) {
            if (c > 0) lines += '\t';
            appendErrorCell(lines, c, number, static_cast<int64_t>(i), shown);
        }
        lines += '\n';
        out.flushWhenFull();
    }
    out.flush();
}

namespace {

// Calls `sector` for each faulty sector of a rip and `found` for each of the
// checks' findings, in stream order: the list keeps the order the checks
// found them in, a copy of it is sorted (a sector goes before a finding
// that begins where it does).
template <class Sector, class Found>
void forEachFinding(const AppState& state, Sector sector, Found found) {
    FindingList sorted = state.findings;
    sorted.sortByPosition();
    const std::vector<Finding>& items = sorted.items();
    size_t next = 0;
    for (const SectorFaultRow row : state.sectorFaults) {
        while (next < items.size() && items[next].begin < row.streamStart) found(items[next++]);
        sector(row);
    }
    while (next < items.size()) found(items[next++]);
}

std::string orDash(std::string text) {
    return text.empty() ? "-" : text;
}

void appendFindingRow(std::string& out, const Finding& f) {
    out += findingKindName(f.kind);
    out += '\t' + orDash(findingStreamText(f.stream, f.substream));
    out += '\t' + std::to_string(f.begin) + '\t' + std::to_string(f.end);
    out += '\t' + orDash(clockTimeText(f.timeFrom));
    out += '\t' + (f.frames > 0 ? std::to_string(f.frames) : "-");
    out += '\t' + orDash(findingCauseText(f.cause)) + '\n';
}

}  // namespace

void printFindingRows(const AppState& state, const std::string& prefix) {
    ChunkedOut out;
    forEachFinding(
        state,
        [&](const SectorFaultRow& row) {
            out.text() += prefix + "sector\t" + std::to_string(row.sector) + '\t' +
                          cdAddressText(row.address) + '\t' + sectorFaultText(row) + '\t' +
                          std::to_string(row.streamStart) + '\t' + std::to_string(row.streamEnd) +
                          "\n";
            out.flushWhenFull();
        },
        [&](const Finding& f) {
            out.text() += prefix;
            appendFindingRow(out.text(), f);
            out.flushWhenFull();
        });
    out.flush();
}

std::vector<size_t> countFindings(const AppState& state) {
    std::vector<size_t> counts = state.findings.countByKind();
    counts[static_cast<size_t>(FindingKind::BrokenBlock)] += countListed(state.table);
    counts[static_cast<size_t>(FindingKind::FaultySector)] += state.sectorFaults.size();
    return counts;
}

void sayFindingCounts(const AppState& state) {
    const std::vector<size_t> counts = countFindings(state);
    if (findingCountsText(counts).empty()) return;
    std::cerr << glossed([&](Language l) { return findingCountsText(counts, l); }) << "\n";
}

void printPlan(const RepairLog& repairs, const std::string& prefix) {
    ChunkedOut out;
    for (const BlockRepair& r : repairs) {
        out.text() += prefix + std::to_string(r.index) + '\t' + std::to_string(r.fileOffset) +
                      '\t' + formatCode(r.code) + '\t' + repairActionText(r) + '\t' +
                      repairCertaintyText(r.certainty) + "\n";
        out.flushWhenFull();
    }
    out.flush();
}

void saySummary(const RepairSummary& summary) {
    std::cerr << glossed([&](Language l) { return repairSummaryText(summary, l); }) << "\n";
}

void sayJunkLeftOut(const FindingList& findings) {
    if (junkLeftOutText(findings, Language::English).empty()) return;
    std::cerr << glossed([&](Language l) { return junkLeftOutText(findings, l); }) << "\n";
}

void sayOutputCheck(const OutputCheck& check, const std::vector<size_t>& inputFindings) {
    std::cerr << glossed([&](Language l) {
        return fillIn(
            translateTo(l, "Cli",
                        MPG_TR_NOOP("Cli", "записанный файл проверен: блоков %1, испорченных %2")),
            {countText(check.blocks), countText(check.broken)});
    }) << "\n";
    if (!check.brokenAt.empty()) {
        std::string at;
        for (const Position p : check.brokenAt) {
            at += ' ';
            at += countText(p);
        }
        if (check.broken > check.brokenAt.size()) at += " …";
        std::cerr << glossed([&](Language l) {
            return fillIn(
                translateTo(l, "Cli", MPG_TR_NOOP("Cli", "испорченные блоки с позиций:%1")), {at});
        }) << "\n";
    }
    if (check.findingCount() == 0) return;
    // What the checks of the content still find, beside what they found in
    // the input: a repair that left a hole or a damaged frame says so.
    std::cerr << glossed([&](Language l) {
        const std::string before = findingListText(inputFindings, l);
        return fillIn(translateTo(l, "Cli",
                                  MPG_TR_NOOP("Cli",
                                              "в записанном файле осталось: %1 (во "
                                              "входном: %2)")),
                      {findingListText(check.findingsByKind, l), before.empty() ? "-" : before});
    }) << "\n";
    std::string rows;
    for (const Finding& f : check.findings) {
        rows += "  ";
        appendFindingRow(rows, f);
    }
    if (check.findingCount() > check.findings.size()) rows += "  …\n";
    std::cerr << rows;
}

void sayUncheckable(const WrittenRepairs& written) {
    for (const WrittenBlock& b : written.blocks) {
        const char* said = b.how == WrittenAs::LengthRewritten
                               ? MPG_TR_NOOP("Cli", "длина переписана")
                           : b.how == WrittenAs::Padded
                               ? MPG_TR_NOOP("Cli", "дополнен нулями")
                               : MPG_TR_NOOP("Cli", "обрезан или дополнен до заявленного размера");
        std::cerr << glossed([&](Language l) {
            std::string line = translateTo(l, "Cli", said) + ": " +
                               fillIn(translateTo(l, "Cli", MPG_TR_NOOP("Cli", "блок %1")),
                                      {std::to_string(b.index)});
            if (b.at) {
                line += ", " + fillIn(translateTo(l, "Cli", MPG_TR_NOOP("Cli", "позиция %1")),
                                      {countText(*b.at)});
            }
            return line;
        }) << "\n";
    }
}

namespace {

using Json = nlohmann::ordered_json;

// Writes a JSON document whose arrays are too long to hold: every key and
// value is made by the library, the frame around them (brackets, commas) is
// written here, and the text goes out in chunks.
class JsonStream {
  public:
    JsonStream() : serializer_(nlohmann::detail::output_adapter<char>(out_.text()), ' ') {}

    void openObject() { open('{'); }
    void closeObject() { close('}'); }
    void openArray() { open('['); }
    void closeArray() { close(']'); }
    void key(const char* name) {
        separate();
        serializer_.dump(Json(name), false, false, 0);
        out_.text() += ':';
        afterKey_ = true;
    }
    void value(const Json& value) {
        separate();
        serializer_.dump(value, false, false, 0);
        flushWhenFull();
    }
    // Before a value written in parts (text, number).
    void nextElement() { separate(); }
    // A value the library has already written, such as a member's key made
    // once for millions of objects.
    void text(std::string_view made) { out_.text() += made; }
    void number(uint64_t n) { serializer_.dump(Json(n), false, false, 0); }
    void number(int64_t n) { serializer_.dump(Json(n), false, false, 0); }
    void endLine() { out_.text() += '\n'; }
    void flushWhenFull() { out_.flushWhenFull(); }
    void flush() { out_.flush(); }

  private:
    // A comma before every member or element but the first of its object or
    // array; none between a key and its value.
    void separate() {
        if (afterKey_) {
            afterKey_ = false;
            return;
        }
        if (!first_) out_.text() += ',';
        first_ = false;
    }
    void open(char bracket) {
        separate();
        out_.text() += bracket;
        first_ = true;
    }
    void close(char bracket) {
        out_.text() += bracket;
        first_ = false;
    }

    ChunkedOut out_;
    // One serializer, appending to out_, for all values: dump() would make
    // a new one and a new string for each of millions of blocks.
    nlohmann::detail::serializer<Json> serializer_;
    bool first_ = true;
    bool afterKey_ = false;
};

// The block objects of the table. A table can hold tens of millions of
// blocks, so the keys, each with the bracket or comma before it, and the
// texts of the broken mark are made once: a block costs its numbers.
class BlockWriter {
  public:
    BlockWriter() {
        static constexpr const char* kKeys[kMembers] = {
            "code",     "offset",     "declaredSize", "broken",
            "realSize", "repeatByte", "repeatLength", "repeatStart"};
        for (size_t i = 0; i < kMembers; ++i) {
            // The names are plain identifiers, quoted as they are. Made
            // without std::string's operator+, for which gcc 12 reports a
            // false -Wrestrict in an optimised build.
            char key[32];
            std::snprintf(key, sizeof key, "%c\"%s\":", i == 0 ? '{' : ',', kKeys[i]);
            keys_[i] = key;
        }
    }

    void write(JsonStream& json, const BlockRecord& e) {
        json.text(keys_[0]);
        json.number(uint64_t{e.code});
        json.text(keys_[1]);
        json.number(uint64_t{e.offset});
        json.text(keys_[2]);
        json.number(int64_t{e.declaredSize});
        json.text(keys_[3]);
        json.text(brokenText(e.broken));
        json.text(keys_[4]);
        json.number(int64_t{e.realSize});
        json.text(keys_[5]);
        json.number(uint64_t{e.repeatByte});
        json.text(keys_[6]);
        json.number(uint64_t{e.repeatLength});
        json.text(keys_[7]);
        json.number(uint64_t{e.repeatStart});
        json.text("}");
        json.flushWhenFull();
    }

  private:
    static constexpr size_t kMembers = 8;

    // "" for a sound block, else the mark as a one-letter string.
    const std::string& brokenText(uint8_t mark) {
        std::string& made = broken_[mark];
        if (made.empty()) {
            made = Json(mark == kSound ? std::string() : std::string(1, char(mark)))
                       .dump(-1, ' ', false, Json::error_handler_t::replace);
        }
        return made;
    }

    std::array<std::string, kMembers> keys_;
    std::array<std::string, 256> broken_;
};

Json nullIfEmpty(const std::string& text) {
    return text.empty() ? Json(nullptr) : Json(text);
}

Json timeJson(int64_t ticks) {
    return ticks == kNoTime ? Json(nullptr) : Json(ticks);
}

Json findingJson(const Finding& f) {
    return {{"kind", findingKindName(f.kind)},
            {"cause", findingCauseName(f.cause)},
            {"stream", nullIfEmpty(findingStreamText(f.stream, f.substream))},
            {"start", f.begin},
            {"end", f.end},
            {"time", nullIfEmpty(clockTimeText(f.timeFrom))},
            {"time_from", timeJson(f.timeFrom)},
            {"time_to", timeJson(f.timeTo)},
            {"frames", f.frames > 0 ? Json(f.frames) : Json(nullptr)}};
}

Json sectorFindingJson(const SectorFaultRow& r) {
    return {{"kind", findingKindName(FindingKind::FaultySector)},
            {"cause", sectorFaultName(r.fault)},
            {"stream", nullptr},
            {"start", r.streamStart},
            {"end", r.streamEnd},
            {"sector", r.sector}};
}

Json blockFindingJson(const BlockRecord& e, size_t index, int row) {
    return {{"kind", findingKindName(FindingKind::BrokenBlock)},
            {"cause", nullptr},
            {"stream", formatShortCode(e.code)},
            {"start", e.offset},
            {"end", e.offset + static_cast<Position>(std::max(e.realSize, 0))},
            {"index", index},
            {"row", row}};
}

// Every finding in stream order, each with its kind: the broken blocks the
// rows list, the checks' findings and a rip's faulty sectors; and their
// counts by kind.
void writeFindings(JsonStream& json, const AppState& state) {
    std::vector<std::pair<Position, Json>> others;
    forEachFinding(
        state,
        [&](const SectorFaultRow& r) { others.emplace_back(r.streamStart, sectorFindingJson(r)); },
        [&](const Finding& f) { others.emplace_back(f.begin, findingJson(f)); });
    json.key("findings");
    json.openArray();
    size_t next = 0;
    int row = 0;
    for (size_t i = 0; i < state.table.size(); ++i) {
        const BlockRecord& e = state.table[i];
        if (e.broken != kBrokenListed) continue;
        for (; next < others.size() && others[next].first < e.offset; ++next)
            json.value(others[next].second);
        json.value(blockFindingJson(e, i, ++row));
    }
    for (; next < others.size(); ++next) json.value(others[next].second);
    json.closeArray();
    json.key("summary");
    const std::vector<size_t> counts = countFindings(state);
    Json summary = Json::object();
    for (int k = 0; k < kFindingKinds; ++k)
        summary[findingKindName(static_cast<FindingKind>(k))] = counts[static_cast<size_t>(k)];
    json.value(summary);
}

}  // namespace

void printJson(const AppState& state) {
    JsonStream json;
    json.openObject();
    json.key("firstStreamCode");
    json.value(state.codes.first());
    json.key("secondStreamCode");
    json.value(state.codes.second());
    if (state.codes.rules() == StreamRules::Sound) {
        json.key("streamCodes");
        json.value(Json(state.codes.packetCodes()));
    }

    json.key("blocks");
    json.openArray();
    BlockWriter blocks;
    for (size_t i = 0; i < state.table.size(); ++i) {
        json.nextElement();
        blocks.write(json, state.table[i]);
    }
    json.closeArray();

    json.key("rows");
    json.openArray();
    int number = 0;
    for (size_t i = 0; i < state.table.size(); ++i) {
        if (state.table[i].broken != kBrokenListed) continue;
        ++number;
        Json row = Json::array();
        for (int c = 0; c < kErrorColumns; ++c) {
            row.push_back(errorCell(c, number, static_cast<int64_t>(i), state.table[i]));
        }
        json.value(row);
    }
    json.closeArray();
    // A video CD rip's faulty sectors, in full.
    if (state.kind.cdxa) {
        json.key("sectors");
        json.openArray();
        for (const SectorFaultRow r : state.sectorFaults) {
            json.value(Json{{"sector", r.sector},
                            {"address", cdAddressText(r.address)},
                            {"fault", sectorFaultName(r.fault)},
                            {"count", r.count},
                            {"stream_start", r.streamStart},
                            {"stream_end", r.streamEnd},
                            {"file_start", r.fileStart},
                            {"file_end", r.fileEnd}});
        }
        json.closeArray();
    }
    // The strict walk runs no check of the content: its document stays as
    // it always was.
    if (state.codes.rules() == StreamRules::Sound) writeFindings(json, state);
    json.closeObject();
    json.endLine();
    json.flush();
}

}  // namespace mpg::cli
