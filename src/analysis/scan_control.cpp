#include "analysis/scan_control.h"

#include "analysis/scan.h"
#include "stream/procedures.h"

namespace mpg {

namespace {

// A file that opened starts anew: nothing of the earlier one stays, however
// far the look at its head gets.
void forgetEarlierFile(AppState& state) {
    StreamView& view = state.view;
    view.resetCache();
    view.clearCuts();
    state.table.clear();
    state.codes = StreamCodes{state.rules.load()};
    state.kind = {};
    state.kind.cdxa = view.layout() != nullptr;
    state.sectorFaults.clear();
    state.findings.clear();
}

CheckResult checkStreamHead(AppState& state, const std::string& path) {
    if (path.empty()) return CheckResult::NoName;
    StreamView& view = state.view;
    switch (view.openStream(path)) {
        case OpenStatus::Opened:
            break;
        case OpenStatus::Failed:
            switch (view.failure().kind) {
                case FailureKind::NotRegular:
                    return CheckResult::NotRegular;
                case FailureKind::ReadFailed:  // its head, to tell a rip
                    forgetEarlierFile(state);
                    return CheckResult::ReadFailed;
                default:
                    return CheckResult::OpenFailed;
            }
    }
    forgetEarlierFile(state);

    CheckResult result = CheckResult::Ok;
    std::vector<uint8_t> bytes, firstPack;
    uint32_t code = 0;
    // Under the sound rules the stream may begin behind junk (a tag, a
    // partial sector); the strict walk takes a file that begins with it.
    const EdgeSearch found = streamStartOf(view, state.codes.rules());
    const Position start = found.at.value_or(0);
    if (found.failed || !view.readAt(start, kMpeg2PackHeaderSize, bytes)) {
        result = CheckResult::ReadFailed;
    } else if (!found.at || !readBE32(bytes, 0, code) || code != kPackStartCode) {
        result = CheckResult::NoSignature;
    } else {
        // An MPEG-2 stream needs no system header; an MPEG-1 stream starts
        // with one behind its first pack header, unless junk took its head.
        StreamCodes& codes = state.codes;
        const Position header = start + static_cast<Position>(codes.sizeOf(BlockKind::Pack, bytes));
        firstPack = bytes;
        const bool optional =
            codes.rules() == StreamRules::Sound && (isMpeg2Pack(bytes) || start > 0);
        codes.takePackHeader(bytes);
        if (!view.readAt(header, kSystemHeaderReadSize, bytes)) {
            result = CheckResult::ReadFailed;
        } else if (!readBE32(bytes, 0, code) || code != kSystemHeaderStartCode) {
            if (!optional) result = CheckResult::NoSystemHeader;
        } else {
            takeStreamCodes(codes, bytes);
        }
    }
    if (result == CheckResult::Ok && state.codes.rules() == StreamRules::Sound) {
        state.kind.mpeg2 = isMpeg2Pack(firstPack);
        if (const std::optional<uint32_t> sector = learnSectorSize(view, start)) {
            state.kind.sectorSize = *sector;
        } else {
            result = CheckResult::ReadFailed;
        }
    }
    view.closeFile();
    return result;
}

}  // namespace

OpenCheck openAndCheck(AppState& state, const std::string& path) {
    OpenCheck check{checkStreamHead(state, path), {}};
    if (check.result == CheckResult::OpenFailed || check.result == CheckResult::NotRegular ||
        check.result == CheckResult::ReadFailed) {
        check.failure = state.view.failure();
    }
    return check;
}

}  // namespace mpg
