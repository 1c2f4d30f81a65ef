#include "text/messages.h"

#include <cstdio>
#include <cstring>

#include "analysis/error_list.h"
#include "join/join.h"
#include "stream/procedures.h"
#include "text/translate.h"

namespace mpg {

namespace {

// The one table. A switch without default: a message added to the enum and
// forgotten here is a compiler warning, and the build treats it as an error.
const char* sourceOf(Message message) {
    switch (message) {
        case Message::FileOpened:
            return MPG_TR_NOOP("Message", "файл открыт, заголовок найден");
        case Message::NeedFileName:
            return MPG_TR_NOOP("Message", "сюда надо положить имя файла");
        case Message::OpenFailed:
            return MPG_TR_NOOP("Message", "ошибка открытия файла");
        case Message::NotRegular:
            return MPG_TR_NOOP("Message", "это не обычный файл");
        case Message::NoSignature:
            return MPG_TR_NOOP("Message", "отсутствует сигнатура файла");
        case Message::NoSystemHeader:
            return MPG_TR_NOOP("Message", "отсутствует System Header");
        case Message::ReadFailed:
            return MPG_TR_NOOP("Message", "ошибка чтения файла");
        case Message::InputChanged:
            return MPG_TR_NOOP("Message", "входной файл изменился во время работы");
        case Message::NoIndex:
            return MPG_TR_NOOP("Message", "нет файла ошибок");
        case Message::BadIndex:
            return MPG_TR_NOOP("Message", "файл ошибок повреждён");
        case Message::ScanDone:
            return MPG_TR_NOOP("Message", "поиск завершен");
        case Message::StreamsFound:
            return MPG_TR_NOOP("Message", "найдены потоки:");
        case Message::SectorSize:
            return MPG_TR_NOOP("Message", "сектор");
        case Message::Stopped:
            return MPG_TR_NOOP("Message", "прервано пользователем");
        case Message::Saved:
            return MPG_TR_NOOP("Message", "файл сохранён");
        case Message::SaveFailed:
            return MPG_TR_NOOP("Message", "ошибка сохранения файла");
        case Message::OutputIsInput:
            return MPG_TR_NOOP("Message", "выходной файл совпадает с входным");
        case Message::FileExists:
            return MPG_TR_NOOP("Message", "файл уже существует");
        case Message::OverwriteQuestion:
            return MPG_TR_NOOP("Message", "файл уже существует. перезаписать?");
        case Message::JoinDone:
            return MPG_TR_NOOP("Message", "операция завершена");
        case Message::JoinBroken:
            return MPG_TR_NOOP("Message", "нарушена структура файла");
        case Message::JoinOutputIsInput:
            return MPG_TR_NOOP("Message", "выходной файл совпадает с одним из входных");
        case Message::NotScanned:
            return MPG_TR_NOOP("Message",
                               "ошибки не сохранены: поток не проверен после открытия или ремонта");
        case Message::NothingSaved:
            return MPG_TR_NOOP("Message", "проверять нечего: результат ещё не сохранён");
        case Message::OutputExists:
            return MPG_TR_NOOP("Message", "файл уже существует и не заменён");
        case Message::OutputExistsForce:
            return MPG_TR_NOOP("Message", "файл уже существует и не заменён; его заменяет --force");
        case Message::StoppedScan:
            return MPG_TR_NOOP("Message", "проверка была остановлена, поток пройден не до конца");
        case Message::OutOfMemory:
            return MPG_TR_NOOP("Message", "не хватает памяти");
        case Message::OutputFailed:
            return MPG_TR_NOOP("Message", "ошибка записи в стандартный вывод");
    }
    return "";
}

}  // namespace

std::string messageText(Message message) {
    return messageIn(message, currentLanguage());
}

std::string messageGloss(Message message) {
    return messageIn(message, Language::English);
}

std::string messageIn(Message message, Language language) {
    return translateTo(language, "Message", sourceOf(message));
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
        case FailureKind::NotADat:
        case FailureKind::NoRoomInDat:
        case FailureKind::NotSeekable:
            return Message::SaveFailed;
        case FailureKind::BadStructure:
        case FailureKind::CutShort:
        case FailureKind::EmptyPiece:
            return Message::JoinBroken;
        case FailureKind::NoIndex:
            return Message::NoIndex;
        case FailureKind::NotScanned:
            return Message::NotScanned;
        case FailureKind::NothingSaved:
            return Message::NothingSaved;
        case FailureKind::OutputExists:
            return Message::OutputExists;
        case FailureKind::StoppedScan:
            return Message::StoppedScan;
        case FailureKind::OutOfMemory:
            return Message::OutOfMemory;
    }
    return std::nullopt;
}

Message saveMessage(const Failure& failure) {
    switch (failure.kind) {
        case FailureKind::None:
            return Message::Saved;
        case FailureKind::OutputIsInput:
            return Message::OutputIsInput;
        case FailureKind::OutputExists:
            return Message::OutputExists;
        case FailureKind::Stopped:
            return Message::Stopped;
        case FailureKind::InputChanged:
            return Message::InputChanged;
        case FailureKind::ReadFailed:
            return Message::ReadFailed;
        case FailureKind::NotScanned:
            return Message::NotScanned;
        case FailureKind::StoppedScan:
            return Message::StoppedScan;
        case FailureKind::OutOfMemory:
            return Message::OutOfMemory;
        default:
            return Message::SaveFailed;
    }
}

Message joinMessage(const Failure& failure) {
    switch (failure.kind) {
        case FailureKind::None:
            return Message::JoinDone;
        case FailureKind::Stopped:
            return Message::Stopped;
        case FailureKind::OutputIsInput:
            return Message::JoinOutputIsInput;
        case FailureKind::OutputExists:
            return Message::OutputExists;
        case FailureKind::OpenFailed:
        case FailureKind::NotRegular:
            return Message::OpenFailed;
        case FailureKind::ReadFailed:
            return Message::ReadFailed;
        case FailureKind::InputChanged:
            return Message::InputChanged;
        case FailureKind::WriteFailed:
        case FailureKind::RenameFailed:
            return Message::SaveFailed;
        case FailureKind::OutOfMemory:
            return Message::OutOfMemory;
        default:
            return Message::JoinBroken;
    }
}

namespace {

// Where a join failed: the piece, the offset in it, the bytes found there
// and the reason, e.g. ": b.mpg, позиция 1'234: найдено 00 00 00 00 — не код
// начала блока".
std::string joinPlaceDetail(const Failure& f) {
    if (f.kind == FailureKind::EmptyPiece) {
        return ": " + f.path + ": " + translate("Message", "в куске нет ни одного блока потока");
    }
    std::string out =
        ": " + f.path + ", " + fillIn(translate("Message", "позиция %1"), {countText(f.position)});
    if (f.kind == FailureKind::BadStructure || f.kind == FailureKind::CutShort) {
        std::string bytes;
        char hex[4];
        for (size_t k = 0; k < f.foundCount; ++k) {
            std::snprintf(hex, sizeof hex, " %02X", unsigned(f.found[k]));
            bytes += hex;
        }
        out += ": " + fillIn(translate("Message", "найдено%1"), {bytes}) + " — ";
        out += f.kind == FailureKind::CutShort
                   ? translate("Message", "кусок обрывается, блок не полон")
                   : translate("Message", "не код начала блока");
    } else if (f.kind == FailureKind::WriteFailed) {
        out += " — " + translate("Message", "ошибка записи");
    }
    if (f.systemError != 0) out += std::string(": ") + std::strerror(f.systemError);
    return out;
}

}  // namespace

std::string failureDetail(const Failure& f) {
    if (f.piece >= 0 && !f.path.empty()) return joinPlaceDetail(f);
    std::string out;
    if (!f.path.empty()) out += ": " + f.path;
    if (f.kind == FailureKind::ReadFailed) {
        out += ": " + fillIn(translate("Message", "позиция %1"), {countText(f.position)});
    }
    if (f.systemError != 0) {
        out += std::string(": ") + std::strerror(f.systemError);
    } else if (f.kind == FailureKind::NotRegular) {
        out += ": " + messageText(Message::NotRegular);
    } else if (f.kind == FailureKind::Stopped && !f.path.empty()) {
        out += ": " + translate("Message", "%n байт", nullptr, int64_t(f.position));
    } else if (f.kind == FailureKind::NotADat) {
        out +=
            ": " + translate("Message", "это не образ .dat (CDXA): заворачивать в секторы нечего");
    } else if (f.kind == FailureKind::NoRoomInDat) {
        out += ": " +
               translate("Message", "поток не помещается в .dat (4 ГиБ RIFF или 100 минут диска)");
    } else if (f.kind == FailureKind::NotSeekable) {
        out += ": " + translate("Message",
                                "сюда .dat не записать: размеры заголовка RIFF пишутся в его "
                                "начало в конце, а в канал или на терминал вернуться нельзя");
    }
    return out;
}

std::string checkResultText(CheckResult result) {
    return messageText(checkMessage(result));
}

std::string failureHeadline(const Failure& failure) {
    const std::optional<Message> message = failureMessage(failure);
    return message ? messageText(*message) : std::string();
}

std::string saveResultText(const Failure& failure) {
    return messageText(saveMessage(failure));
}

std::string joinResultText(const Failure& failure) {
    return messageText(joinMessage(failure));
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
    std::string text = kind.cdxa ? "VCD .dat (CDXA): " : "";
    text += kind.mpeg2 ? "MPEG-2 PS" : "MPEG-1";
    if (kind.sectorSize == kCdSector) text += kind.mpeg2 ? " SVCD" : " VCD";
    if (kind.sectorSize > 0) {
        text += ", " + messageText(Message::SectorSize) + " " + std::to_string(kind.sectorSize);
    }
    return text;
}

std::string joinRefusalText(const Failure& failure) {
    if (failure.kind == FailureKind::OutputIsInput) return messageText(Message::JoinOutputIsInput);
    return messageText(Message::OpenFailed) + failureDetail(failure);
}

std::string pieceCheckText(const PieceCheck& check, Language language) {
    const std::string piece = countText(check.piece + 1);
    if (check.failure) {
        return fillIn(
                   translateTo(language, "Message", MPG_TR_NOOP("Message", "кусок %1 не прочитан")),
                   {piece}) +
               failureDetail(check.failure);
    }
    return fillIn(translateTo(language, "Message",
                              MPG_TR_N_NOOP("Message", "кусок %1 (%2): %n блоков с ошибками"),
                              nullptr, static_cast<int64_t>(check.broken)),
                  {piece, check.path});
}

std::string innerEndCodeText(const InnerEndCode& end, const std::string& path, Language language) {
    return fillIn(translateTo(language, "Message",
                              MPG_TR_NOOP("Message",
                                          "кусок %1 (%2): код конца потока на позиции "
                                          "%3 пропущен, соединение продолжено")),
                  {countText(end.piece + 1), path, countText(end.position)});
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

std::string blockCountsText(uint64_t blocks, uint64_t broken, Language language) {
    // The broken ones need no agreeing word: "4 с ошибками", "4 broken".
    return fillIn(
        translateTo(language, "Message", MPG_TR_N_NOOP("Message", "%n блоков, %1 с ошибками"),
                    nullptr, static_cast<int64_t>(blocks)),
        {countText(broken)});
}

namespace {

// "поиск завершен: " and the counts, then the streams when named.
std::string scanDoneWith(const std::string& counts, const StreamCodes* codes, Language language) {
    std::string text = messageIn(Message::ScanDone, language) + ": " + counts;
    if (codes != nullptr) {
        text += "; " + messageIn(Message::StreamsFound, language) + streamCodesList(*codes);
    }
    return text;
}

}  // namespace

std::string scanDoneText(uint64_t blocks, uint64_t broken, const StreamCodes* codes,
                         Language language) {
    return scanDoneWith(blockCountsText(blocks, broken, language), codes, language);
}

std::string scanStoppedText(uint64_t blocks, uint64_t broken, Language language) {
    return messageIn(Message::Stopped, language) + ": " + blockCountsText(blocks, broken, language);
}

std::string faultySectorsText(uint64_t sectors, Language language) {
    return fillIn(translateTo(language, "Message", MPG_TR_NOOP("Message", "сбойных секторов: %1")),
                  {countText(sectors)});
}

std::string junkLeftOutText(const FindingList& findings, Language language) {
    Position leading = 0, trailing = 0;
    for (const Finding& finding : findings.items()) {
        if (finding.kind != FindingKind::Junk) continue;
        (finding.cause == FindingCause::LeadingJunk ? leading : trailing) +=
            finding.end - finding.begin;
    }
    if (leading == 0 && trailing == 0) return "";
    return fillIn(translateTo(language, "Message",
                              MPG_TR_NOOP("Message",
                                          "мусор вне потока не записан: в начале %1 байт, в "
                                          "конце %2 байт")),
                  {countText(leading), countText(trailing)});
}

std::string scanDoneText(uint64_t blocks, uint64_t broken, uint64_t faultySectors,
                         const StreamCodes* codes, Language language) {
    return scanDoneWith(blockCountsText(blocks, broken, language) + ", " +
                            faultySectorsText(faultySectors, language),
                        codes, language);
}

std::string scanStoppedText(uint64_t blocks, uint64_t broken, uint64_t faultySectors,
                            Language language) {
    return scanStoppedText(blocks, broken, language) + ", " +
           faultySectorsText(faultySectors, language);
}

std::string errorListHeader(int column) {
    static constexpr const char* kHeaders[kErrorColumns] = {
        "",
        "#",
        MPG_TR_NOOP("Message", "id"),
        MPG_TR_NOOP("Message", "offset в файле"),
        MPG_TR_NOOP("Message", "размер заявленный"),
        MPG_TR_NOOP("Message", "размер реальный"),
        MPG_TR_NOOP("Message", "дельта"),
        MPG_TR_NOOP("Message", "max повтор")};
    if (column < 0 || column >= kErrorColumns) return std::string();
    return *kHeaders[column] == 0 || column == 1 ? kHeaders[column]
                                                 : translate("Message", kHeaders[column]);
}

std::string strategyProgressText(size_t row, size_t rows) {
    return "ptr: " + std::to_string(row) + " >> " + std::to_string(rows);
}

std::string progressLine(const Notice& notice) {
    switch (notice.kind) {
        case Notify::Progress:
            return progressOf(notice.done, notice.total);
        case Notify::JoinProgress:
            return fillIn(translate("Message", "идёт работа    [ %1  >>  %2 ]"),
                          {std::to_string(notice.done), std::to_string(notice.total)});
        case Notify::RowProgress:
            return notice.total == 0 ? std::string()
                                     : strategyProgressText(notice.done, notice.total);
        case Notify::PieceCheck:
            return fillIn(translate("Message", "проверка кусков: %1 из %2"),
                          {std::to_string(notice.done), std::to_string(notice.total)});
        default:
            return std::string();
    }
}

std::string dumpGapLine(uint64_t skipped) {
    return translate("Message", "-------- пропущено %n байт", nullptr, int64_t(skipped));
}

std::vector<std::string> dumpLines(const BlockDump& dump, int perLine, DumpCharset charset) {
    std::vector<std::string> lines = dumpLines(dump.head, dump.offset, perLine, charset);
    if (dump.tail.empty()) return lines;
    lines.push_back(dumpGapLine(dump.skipped()));
    const Position tailAt = dump.offset + dump.length - dump.tail.size();
    for (std::string& line : dumpLines(dump.tail, tailAt, perLine, charset)) {
        lines.push_back(std::move(line));
    }
    return lines;
}

std::string repairActionText(const BlockRepair& r, Language language) {
    const auto text = [language](const char* source, int64_t n = -1) {
        return translateTo(language, "Message", source, nullptr, n);
    };
    switch (r.action) {
        case RepairAction::LeftAlone:
            return text(MPG_TR_NOOP("Message", "оставлен"));
        case RepairAction::Padded:
            return text(MPG_TR_N_NOOP("Message", "дополнен %n байтами"), int64_t(r.padded));
        case RepairAction::LengthFromFile:
            return text(MPG_TR_NOOP("Message", "длина по файлу"));
        case RepairAction::FillBehind:
            return text(MPG_TR_NOOP("Message", "цел; за ним заполнение сектора"));
        case RepairAction::Dropped:
            return text(MPG_TR_NOOP("Message", "отброшен: заголовок неполон"));
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
        // The byte's value goes behind the count: "вырезано 12 байт 00 с позиции 1'234".
        out += fillIn(
            text(MPG_TR_N_NOOP("Message", "вырезано %n байт%1 с позиции %2"), int64_t(c.length)),
            {byte, countText(c.fileOffset)});
    }
    if (r.action == RepairAction::CutAtBreak)
        out += text(MPG_TR_NOOP("Message", " (на разрыве потока)"));
    return out;
}

std::string repairCertaintyText(RepairCertainty certainty, Language language) {
    switch (certainty) {
        case RepairCertainty::Exact:
            return translateTo(language, "Message", MPG_TR_NOOP("Message", "точно"));
        case RepairCertainty::Probable:
            return translateTo(language, "Message", MPG_TR_NOOP("Message", "вероятно"));
        case RepairCertainty::Unresolved:
            break;
    }
    return translateTo(language, "Message", MPG_TR_NOOP("Message", "не решено"));
}

std::string sectorFaultText(const SectorFaultRow& row, Language language) {
    const auto text = [&](const char* source) { return translateTo(language, "Message", source); };
    switch (row.fault) {
        case SectorFault::BadChecksum:
            return text(MPG_TR_NOOP("Message", "контрольная сумма (EDC) не сходится"));
        case SectorFault::Unreadable:
            return text(MPG_TR_NOOP("Message", "сектор не прочитан (одни нули)"));
        case SectorFault::Missing:
            return fillIn(text(MPG_TR_NOOP("Message", "пропущено секторов: %1")),
                          {countText(row.count)});
        case SectorFault::Duplicate:
            return text(MPG_TR_NOOP("Message", "повтор предыдущего сектора, пропущен"));
        case SectorFault::OutOfOrder:
            return text(MPG_TR_NOOP("Message", "адрес сектора не по порядку"));
        case SectorFault::DamagedHeader:
            return text(MPG_TR_NOOP("Message", "повреждён заголовок сектора"));
        case SectorFault::SteppedOver:
            return text(MPG_TR_NOOP("Message", "байты вне сетки секторов, пропущены"));
        case SectorFault::CutShort:
            break;
    }
    return text(MPG_TR_NOOP("Message", "последний сектор обрезан"));
}

std::string cdAddressText(uint32_t frames) {
    char text[16];
    std::snprintf(text, sizeof text, "%02u:%02u:%02u", frames / kCdFramesPerSecond / 60,
                  frames / kCdFramesPerSecond % 60, frames % kCdFramesPerSecond);
    return text;
}

std::string repairSummaryText(const RepairSummary& s, Language language) {
    // The Russian form names its counts, so that no plural needs agreeing.
    const char* const source = MPG_TR_N_NOOP(
        "Message", "блоков: %1; восстановлено точно: %2, стали декодируемыми: %3, не решено: %4");
    return fillIn(
        translateTo(language, "Message", source, nullptr, int64_t(s.blocks)),
        {countText(s.blocks), countText(s.exact), countText(s.decodable), countText(s.unresolved)});
}

std::string strategySummaryText(Strategy strategy, const StrategyOutcome& o, Language language) {
    const auto text = [language](const char* source, int64_t n = -1) {
        return translateTo(language, "Message", source, nullptr, n);
    };
    const int64_t cut = static_cast<int64_t>(o.bytesCut);
    switch (strategy) {
        case Strategy::RemoveRunsEqualToDelta:
            return fillIn(
                text(MPG_TR_N_NOOP("Message",
                                   "исправлено строк: %1, вырезано %n байт, осталось: %2"),
                     cut),
                {countText(o.fixed), countText(o.left)});
        case Strategy::RemoveRunsAndRemeasure:
            // Shortened blocks stay listed: their next run may be the one to cut.
            return fillIn(text(MPG_TR_N_NOOP("Message",
                                             "укорочено строк: %1, вырезано %n байт, осталось: %2"),
                               cut),
                          {countText(o.remeasured), countText(o.left)});
        case Strategy::AcceptRealSizes:
            return fillIn(text(MPG_TR_NOOP("Message", "исправлено строк: %1, осталось: %2")),
                          {countText(o.fixed), countText(o.left)});
        case Strategy::Automatic:
            break;
    }
    return repairSummaryText(o.summary, language) + "; " +
           text(MPG_TR_N_NOOP("Message", "вырезано %n байт"), cut);
}

}  // namespace mpg
