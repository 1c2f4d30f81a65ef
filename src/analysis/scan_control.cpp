#include "analysis/scan_control.h"

#include "analysis/scan.h"
#include "stream/procedures.h"

namespace mpg {

CheckResult openAndCheck(AppState& state, const std::string& path) {
    if (path.empty()) return CheckResult::NoName;
    StreamView& view = state.view;
    switch (view.openStream(path)) {
        case OpenStatus::Opened:
            break;
        case OpenStatus::TooLarge:
            return CheckResult::TooLarge;
        case OpenStatus::Failed:
            return view.failure().kind == FailureKind::NotRegular ? CheckResult::NotRegular
                                                                  : CheckResult::OpenFailed;
    }
    view.resetCache();
    view.clearCuts();
    state.table.clear();
    state.codes = StreamCodes{state.rules.load()};

    CheckResult result = CheckResult::Ok;
    std::vector<uint8_t> bytes;
    uint32_t code = 0;
    if (!view.readAt(0, kPackHeaderSize, bytes)) {
        result = CheckResult::ReadFailed;
    } else if (!readBE32(bytes, 0, code) || code != kPackStartCode) {
        result = CheckResult::NoSignature;
    } else if (!view.readAt(kPackHeaderSize, kSystemHeaderReadSize, bytes)) {
        result = CheckResult::ReadFailed;
    } else if (!readBE32(bytes, 0, code) || code != kSystemHeaderStartCode) {
        result = CheckResult::NoSystemHeader;
    } else {
        takeStreamCodes(state.codes, bytes);
    }
    view.closeFile();
    return result;
}

}  // namespace mpg
