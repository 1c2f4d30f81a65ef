#include "analysis/scan_control.h"

#include "analysis/scan.h"
#include "stream/procedures.h"

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
        case CheckResult::NotRegular:
            return kOpenFailedText;
        case CheckResult::ReadFailed:
            return kReadFailedText;
    }
    return "";
}

const char* failureHeadline(const Failure& failure) {
    switch (failure.kind) {
        case FailureKind::None:
            return "";
        case FailureKind::OpenFailed:
            return kOpenFailedText;
        case FailureKind::NotRegular:
            return kOpenFailedText;
        case FailureKind::ReadFailed:
            return kReadFailedText;
        case FailureKind::InputChanged:
            return kInputChangedText;
        case FailureKind::BadIndex:
            return kBadIndexText;
        case FailureKind::Stopped:
            return "прервано пользователем";
        case FailureKind::WriteFailed:
        case FailureKind::RenameFailed:
        case FailureKind::OutputIsInput:
            return "ошибка сохранения файла";
        case FailureKind::BadStructure:
            return "нарушена структура файла";
    }
    return "";
}

std::string failureText(const Failure& failure) {
    return failureHeadline(failure) + failureDetail(failure);
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
            return view.failure().kind == FailureKind::NotRegular ? CheckResult::NotRegular
                                                                  : CheckResult::OpenFailed;
    }
    view.resetCache();
    view.clearCuts();
    state.table.clear();
    state.codes = StreamCodes{};

    CheckResult result = CheckResult::Ok;
    std::vector<uint8_t> bytes;
    uint32_t code = 0;
    if (!view.readAt(0, kPackHeaderSize, bytes)) {
        result = CheckResult::ReadFailed;
    } else if (!readBE32(bytes, 0, code) || code != kPackStartCode) {
        result = CheckResult::NoSignature;
    } else if (!view.readAt(kPackHeaderSize, 40, bytes)) {
        result = CheckResult::ReadFailed;
    } else if (!readBE32(bytes, 0, code) || code != kSystemHeaderStartCode) {
        result = CheckResult::NoSystemHeader;
    } else {
        takeStreamCodes(state.codes, bytes);
    }
    view.closeFile();
    return result;
}

std::string checkDetailText(CheckResult result, const Failure& failure) {
    const bool inputFailed = result == CheckResult::OpenFailed ||
                             result == CheckResult::NotRegular || result == CheckResult::ReadFailed;
    return inputFailed ? failureDetail(failure) : std::string();
}

std::string checkStatusText(CheckResult result, const Failure& failure) {
    return checkResultText(result) + checkDetailText(result, failure);
}

}  // namespace mpg
