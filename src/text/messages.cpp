#include "text/messages.h"

#include <cstdio>
#include <cstring>

#include "analysis/error_list.h"
#include "join/join.h"
#include "stream/procedures.h"

namespace mpg {

namespace {

struct MessageTexts {
    const char* text;
    const char* gloss;
};

// The one table. A switch without default: a message added to the enum and
// forgotten here is a compiler warning, and the build treats it as an error.
MessageTexts textsOf(Message message) {
    switch (message) {
        case Message::FileOpened:
            return {"файл открыт, заголовок найден", "file opened, header found"};
        case Message::NeedFileName:
            return {"сюда надо положить имя файла", "no file name given"};
        case Message::OpenFailed:
            return {"ошибка открытия файла", "cannot open the file"};
        case Message::NotRegular:
            return {"это не обычный файл", "not a regular file"};
        case Message::NoSignature:
            return {"отсутствует сигнатура файла", "no pack header at the start"};
        case Message::NoSystemHeader:
            return {"отсутствует System Header", "no system header after the pack header"};
        case Message::ReadFailed:
            return {"ошибка чтения файла", "cannot read the file"};
        case Message::InputChanged:
            return {"входной файл изменился во время работы",
                    "the input file changed while the job ran"};
        case Message::NoIndex:
            return {"нет файла ошибок", "no index file"};
        case Message::BadIndex:
            return {"файл ошибок повреждён", "the index file is damaged"};
        case Message::ScanDone:
            return {"поиск завершен", "scan finished"};
        case Message::StreamsFound:
            return {"найдены потоки:", "streams found"};
        case Message::SectorSize:
            return {"сектор", "sector size"};
        case Message::Stopped:
            return {"прервано пользователем", "stopped by the user"};
        case Message::Saved:
            return {"файл сохранён", "file saved"};
        case Message::SaveFailed:
            return {"ошибка сохранения файла", "error saving the file"};
        case Message::OutputIsInput:
            return {"выходной файл совпадает с входным", "the output is the input"};
        case Message::FileExists:
            return {"файл уже существует", "the file already exists"};
        case Message::OverwriteQuestion:
            return {"файл уже существует. перезаписать?", "the file exists; overwrite?"};
        case Message::JoinDone:
            return {"операция завершена", "join finished"};
        case Message::JoinBroken:
            return {"нарушена структура файла", "the structure of a file is broken"};
        case Message::JoinOutputIsInput:
            return {"выходной файл совпадает с одним из входных",
                    "the output is one of the inputs"};
    }
    return {"", ""};
}

}  // namespace

const char* messageText(Message message) {
    return textsOf(message).text;
}

const char* messageGloss(Message message) {
    return textsOf(message).gloss;
}

Message checkMessage(CheckResult result) {
    switch (result) {
        case CheckResult::Ok:
            return Message::FileOpened;
        case CheckResult::NoName:
            return Message::NeedFileName;
        case CheckResult::OpenFailed:
        case CheckResult::NotRegular:
            return Message::OpenFailed;
        case CheckResult::NoSignature:
            return Message::NoSignature;
        case CheckResult::NoSystemHeader:
            return Message::NoSystemHeader;
        case CheckResult::ReadFailed:
            return Message::ReadFailed;
    }
    return Message::OpenFailed;
}

std::optional<Message> failureMessage(const Failure& failure) {
    switch (failure.kind) {
        case FailureKind::None:
            return std::nullopt;
        case FailureKind::OpenFailed:
        case FailureKind::NotRegular:
            return Message::OpenFailed;
        case FailureKind::ReadFailed:
            return Message::ReadFailed;
        case FailureKind::InputChanged:
            return Message::InputChanged;
        case FailureKind::BadIndex:
            return Message::BadIndex;
        case FailureKind::Stopped:
            return Message::Stopped;
        case FailureKind::WriteFailed:
        case FailureKind::RenameFailed:
        case FailureKind::OutputIsInput:
            return Message::SaveFailed;
        case FailureKind::BadStructure:
            return Message::JoinBroken;
    }
    return std::nullopt;
}

Message saveMessage(const Failure& failure) {
    switch (failure.kind) {
        case FailureKind::None:
            return Message::Saved;
        case FailureKind::OutputIsInput:
            return Message::OutputIsInput;
        case FailureKind::Stopped:
            return Message::Stopped;
        case FailureKind::InputChanged:
            return Message::InputChanged;
        case FailureKind::ReadFailed:
            return Message::ReadFailed;
        default:
            return Message::SaveFailed;
    }
}

Message joinMessage(JoinResult result, const Failure& failure) {
    if (result == JoinResult::Done) return Message::JoinDone;
    if (result == JoinResult::Stopped) return Message::Stopped;
    switch (failure.kind) {
        case FailureKind::OutputIsInput:
            return Message::JoinOutputIsInput;
        case FailureKind::OpenFailed:
        case FailureKind::NotRegular:
            return Message::OpenFailed;
        case FailureKind::ReadFailed:
            return Message::ReadFailed;
        case FailureKind::WriteFailed:
        case FailureKind::RenameFailed:
            return Message::SaveFailed;
        default:
            return Message::JoinBroken;
    }
}

std::string failureDetail(const Failure& f) {
    std::string out;
    if (!f.path.empty()) out += ": " + f.path;
    if (f.kind == FailureKind::ReadFailed) {
        out += ": позиция " + groupDigits(std::to_string(f.position));
    }
    if (f.systemError != 0) {
        out += std::string(": ") + std::strerror(f.systemError);
    } else if (f.kind == FailureKind::NotRegular) {
        out += std::string(": ") + messageText(Message::NotRegular);
    } else if (f.kind == FailureKind::Stopped && !f.path.empty()) {
        out += ": " + groupDigits(std::to_string(f.position)) + " байт";
    }
    return out;
}

const char* checkResultText(CheckResult result) {
    return messageText(checkMessage(result));
}

const char* failureHeadline(const Failure& failure) {
    const std::optional<Message> message = failureMessage(failure);
    return message ? messageText(*message) : "";
}

const char* saveResultText(const Failure& failure) {
    return messageText(saveMessage(failure));
}

const char* joinResultText(JoinResult result, const Failure& failure) {
    return messageText(joinMessage(result, failure));
}

std::string failureText(const Failure& failure) {
    return failureHeadline(failure) + failureDetail(failure);
}

std::string checkDetailText(CheckResult result, const Failure& failure) {
    const bool inputFailed = result == CheckResult::OpenFailed ||
                             result == CheckResult::NotRegular || result == CheckResult::ReadFailed;
    return inputFailed ? failureDetail(failure) : std::string();
}

std::string checkStatusText(CheckResult result, const Failure& failure) {
    return checkResultText(result) + checkDetailText(result, failure);
}

std::string streamKindText(const StreamKind& kind) {
    // Video CD and SVCD sectors hold 2,324 bytes of stream.
    constexpr uint32_t kCdSector = 2324;
    std::string text = kind.mpeg2 ? "MPEG-2 PS" : "MPEG-1";
    if (kind.sectorSize == kCdSector) text += kind.mpeg2 ? " SVCD" : " VCD";
    if (kind.sectorSize > 0) {
        text += ", ";
        text += messageText(Message::SectorSize);
        text += " " + std::to_string(kind.sectorSize);
    }
    return text;
}

std::string joinRefusalText(const Failure& failure) {
    if (failure.kind == FailureKind::OutputIsInput) return messageText(Message::JoinOutputIsInput);
    return messageText(Message::OpenFailed) + failureDetail(failure);
}

std::string streamCodesList(const StreamCodes& codes) {
    const std::vector<uint32_t> list = codes.packetCodes();
    std::string text;
    char hex[8];
    for (size_t i = 0; i < list.size();) {
        size_t j = i;
        while (j + 1 < list.size() && list[j + 1] == list[j] + 1) ++j;
        std::snprintf(hex, sizeof hex, " %02X", list[i] & 0xFF);
        text += hex;
        if (j > i) {
            std::snprintf(hex, sizeof hex, "-%02X", list[j] & 0xFF);
            text += hex;
        }
        i = j + 1;
    }
    return text;
}

std::string streamsFoundText(const StreamCodes& codes) {
    std::string text = messageText(Message::ScanDone);
    text += "; ";
    text += messageText(Message::StreamsFound);
    text += streamCodesList(codes);
    return text;
}

const char* errorListHeader(int column) {
    static constexpr const char* kHeaders[kErrorColumns] = {
        "",       "#",         "id", "offset в файле", "размер заявленный", "размер реальный",
        "дельта", "max повтор"};
    return column >= 0 && column < kErrorColumns ? kHeaders[column] : "";
}

std::string strategyProgressText(size_t row, size_t rows) {
    return "ptr: " + std::to_string(row) + " >> " + std::to_string(rows);
}

std::string progressLine(const Notice& notice) {
    switch (notice.kind) {
        case Notify::Progress:
            return progressOf(notice.done, notice.total);
        case Notify::JoinProgress:
            return "идёт работа    [ " + std::to_string(notice.done) + "  >>  " +
                   std::to_string(notice.total) + " ]";
        case Notify::RowProgress:
            return notice.total == 0 ? std::string()
                                     : strategyProgressText(notice.done, notice.total);
        default:
            return std::string();
    }
}

std::string dumpGapLine(uint64_t skipped) {
    return "-------- пропущено " + groupDigits(std::to_string(skipped)) + " байт";
}

std::vector<std::string> dumpLines(const BlockDump& dump, int perLine) {
    std::vector<std::string> lines = dumpLines(dump.head, dump.offset, perLine);
    if (dump.tail.empty()) return lines;
    lines.push_back(dumpGapLine(dump.skipped()));
    const Position tailAt = dump.offset + dump.length - dump.tail.size();
    for (std::string& line : dumpLines(dump.tail, tailAt, perLine)) {
        lines.push_back(std::move(line));
    }
    return lines;
}

std::string repairActionText(const BlockRepair& r, bool english) {
    const auto number = [](uint64_t n) { return groupDigits(std::to_string(n)); };
    switch (r.action) {
        case RepairAction::LeftAlone:
            return english ? "left alone" : "оставлен";
        case RepairAction::Padded:
            return english ? "padded with " + number(r.padded) + " bytes"
                           : "дополнен " + number(r.padded) + " байтами";
        case RepairAction::LengthFromFile:
            return english ? "length set to what the file holds" : "длина по файлу";
        case RepairAction::FillBehind:
            return english ? "whole; sector fill behind it" : "цел; за ним заполнение сектора";
        case RepairAction::Dropped:
            return english ? "dropped: its header is cut short" : "отброшен: заголовок неполон";
        case RepairAction::CutRuns:
        case RepairAction::CutAtBreak:
            break;
    }
    std::string out;
    for (size_t k = 0; k < r.cutCount && k < r.cuts.size(); ++k) {
        const RepairCut& c = r.cuts[k];
        if (!out.empty()) out += "; ";
        char byte[8] = "";
        if (c.byte >= 0) std::snprintf(byte, sizeof byte, " %02X", unsigned(c.byte));
        out += english ? "cut " + number(c.length) + " bytes" + byte + " at " + number(c.fileOffset)
                       : "вырезано " + number(c.length) + " байт" + byte + " с позиции " +
                             number(c.fileOffset);
    }
    if (r.action == RepairAction::CutAtBreak) {
        out += english ? " (where the stream breaks)" : " (на разрыве потока)";
    }
    return out;
}

const char* repairCertaintyText(RepairCertainty certainty, bool english) {
    switch (certainty) {
        case RepairCertainty::Exact:
            return english ? "exact" : "точно";
        case RepairCertainty::Probable:
            return english ? "probable" : "вероятно";
        case RepairCertainty::Unresolved:
            break;
    }
    return english ? "unresolved" : "не решено";
}

std::string repairSummaryText(const RepairSummary& s, bool english) {
    const auto n = [](size_t v) { return groupDigits(std::to_string(v)); };
    if (english) {
        return n(s.blocks) + (s.blocks == 1 ? " block: " : " blocks: ") + n(s.exact) +
               " restored exactly, " + n(s.decodable) + " made decodable, " + n(s.unresolved) +
               " unresolved";
    }
    return "блоков: " + n(s.blocks) + "; восстановлено точно: " + n(s.exact) +
           ", стали декодируемыми: " + n(s.decodable) + ", не решено: " + n(s.unresolved);
}

}  // namespace mpg
