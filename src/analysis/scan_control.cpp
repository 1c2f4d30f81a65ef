#include "analysis/scan_control.h"

#include "analysis/scan.h"

namespace mpg {

const char* checkResultText(CheckResult result) {
    switch (result) {
        case CheckResult::Ok:
            return "файл открыт, заголовок найден";
        case CheckResult::NoName:
            return kNeedFileNameText;
        case CheckResult::OpenFailed:
            return kOpenFailedText;
        case CheckResult::TooLarge:
            return kTooLargeText;
        case CheckResult::NoSignature:
            return kNoSignatureText;
        case CheckResult::NoSystemHeader:
            return "отсутствует System Header";
    }
    return "";
}

CheckResult openAndCheck(AppState& state, const std::string& path) {
    if (path.empty()) return CheckResult::NoName;
    StreamView& view = state.view;
    switch (view.openStream(path)) {
        case OpenStatus::Opened:
            break;
        case OpenStatus::TooLarge:
            return CheckResult::TooLarge;
        case OpenStatus::Failed:
            return CheckResult::OpenFailed;
    }
    view.resetCache();
    view.clearCuts();
    state.table.clear();

    CheckResult result = CheckResult::Ok;
    std::vector<uint8_t> bytes;
    uint32_t code = 0;
    view.readAt(0, kPackHeaderSize, bytes);
    if (!readBE32(bytes, 0, code) || code != kPackStartCode) {
        result = CheckResult::NoSignature;
    } else {
        view.readAt(kPackHeaderSize, 40, bytes);
        if (!readBE32(bytes, 0, code) || code != kSystemHeaderStartCode) {
            result = CheckResult::NoSystemHeader;
        } else {
            takeStreamCodes(state.codes, bytes);
        }
    }
    view.closeFile();
    return result;
}

}  // namespace mpg
