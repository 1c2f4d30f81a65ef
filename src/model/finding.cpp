#include "model/finding.h"

#include <algorithm>

namespace mpg {

const char* findingKindName(FindingKind kind) {
    switch (kind) {
        case FindingKind::BrokenBlock:
            return "block";
        case FindingKind::Junk:
            return "junk";
        case FindingKind::Hole:
            return "hole";
        case FindingKind::Gap:
            return "gap";
        case FindingKind::PayloadDamage:
            return "payload";
        case FindingKind::FaultySector:
            return "sector";
        case FindingKind::DecodeError:
            break;
    }
    return "decode";
}

std::optional<FindingKind> findingKindNamed(std::string_view name) {
    for (int k = 0; k < kFindingKinds; ++k) {
        const auto kind = static_cast<FindingKind>(k);
        if (name == findingKindName(kind)) return kind;
    }
    return std::nullopt;
}

const char* findingCauseName(FindingCause cause) {
    switch (cause) {
        case FindingCause::None:
            return "none";
        case FindingCause::LeadingJunk:
            return "leading_junk";
        case FindingCause::TrailingJunk:
            return "trailing_junk";
        case FindingCause::ScrAhead:
            return "scr_ahead";
        case FindingCause::ScrBehind:
            return "scr_behind";
        case FindingCause::StampJump:
            return "stamp_jump";
        case FindingCause::StampBack:
            return "stamp_back";
        case FindingCause::ZeroRun:
            return "zero_run";
        case FindingCause::AudioChain:
            return "audio_chain";
        case FindingCause::AudioCrc:
            return "audio_crc";
        case FindingCause::Ac3Sync:
            return "ac3_sync";
        case FindingCause::Ac3Crc:
            return "ac3_crc";
        case FindingCause::VideoOrder:
            return "video_order";
        case FindingCause::SliceOrder:
            return "slice_order";
        case FindingCause::TemporalReference:
            return "temporal_reference";
        case FindingCause::Decoder:
            return "decoder";
        case FindingCause::SectorFault:
            return "sector_fault";
        case FindingCause::Stop:
            break;
    }
    return "stop";
}

void FindingList::add(const Finding& finding) {
    // The last finding of the same kind, cause and stream: a few findings of
    // other streams may lie between, as packets of several streams
    // interleave.
    for (size_t k = items_.size(), looked = 0; k-- > 0 && looked < 8; ++looked) {
        Finding& last = items_[k];
        if (last.kind != finding.kind || last.cause != finding.cause ||
            last.stream != finding.stream || last.substream != finding.substream) {
            continue;
        }
        if (finding.begin < last.begin || finding.begin > last.end + kMergeDistance) break;
        last.end = std::max(last.end, finding.end);
        if (finding.timeTo != kNoTime) last.timeTo = std::max(last.timeTo, finding.timeTo);
        if (last.timeFrom == kNoTime) last.timeFrom = finding.timeFrom;
        last.frames += finding.frames;
        return;
    }
    items_.push_back(finding);
}

void FindingList::sortByPosition() {
    std::stable_sort(items_.begin(), items_.end(),
                     [](const Finding& a, const Finding& b) { return a.begin < b.begin; });
}

std::vector<size_t> FindingList::countByKind() const {
    std::vector<size_t> counts(kFindingKinds, 0);
    for (const Finding& finding : items_) ++counts[static_cast<size_t>(finding.kind)];
    return counts;
}

}  // namespace mpg
