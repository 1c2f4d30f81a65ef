// The texts the programs show, at the edge: the core reports values (a
// CheckResult, a Failure, a join's result) and this layer turns them into the
// status texts of the window and the command line, in the language the
// programs speak (text/translate.h). The Russian sources are in one table; the
// command line prints the English behind a Russian text as a gloss.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "analysis/check_result.h"
#include "analysis/dump.h"
#include "analysis/job_sink.h"
#include "join/join.h"
#include "join/precheck.h"
#include "model/finding.h"
#include "repair/repair_report.h"
#include "repair/strategies.h"
#include "stream/cdxa.h"
#include "stream/failure.h"
#include "text/numbers.h"
#include "text/translate.h"

namespace mpg {

enum class Message {
    FileOpened,
    NeedFileName,
    OpenFailed,
    NotRegular,  // the reason behind a failure's file, not a headline
    NoSignature,
    NoSystemHeader,
    ReadFailed,
    InputChanged,
    NoIndex,
    BadIndex,
    ScanDone,
    StreamsFound,
    SectorSize,
    Stopped,
    Saved,
    SaveFailed,
    OutputIsInput,
    FileExists,
    OverwriteQuestion,
    JoinDone,
    JoinBroken,
    JoinOutputIsInput,
    NotScanned,
    NothingSaved,
    OutputExists,       // a file took the output's name: it stays
    OutputExistsForce,  // the same, with how the command line replaces it
    StoppedScan,
    OutOfMemory,
    OutputFailed,
};
inline constexpr int kMessageCount = static_cast<int>(Message::OutputFailed) + 1;

// A message in the current language, and in English for the gloss.
std::string messageText(Message message);
std::string messageGloss(Message message);
std::string messageIn(Message message, Language language);

// Core results to messages.
Message checkMessage(CheckResult result);
// Why a job or an open failed; none for a Failure that is none.
std::optional<Message> failureMessage(const Failure& failure);
// The outcome of a save, of the repaired stream or of the index file: Saved
// when nothing failed.
Message saveMessage(const Failure& failure);
// The outcome of a join: done when nothing failed.
Message joinMessage(const Failure& failure);

// ": path: reason" to put behind a status text, so that a user sees which file
// failed and why ("ошибка открытия файла: film.mpg: No such file or directory").
// A failed read names its position between the file and the reason, so that
// the user knows where the medium is damaged ("film.mpg: позиция 123'456:
// Input/output error"); a stopped job names the output it kept and its size
// ("out.mpg: 1'234 байт").
std::string failureDetail(const Failure& failure);

// The status texts of the results above, without the detail.
std::string checkResultText(CheckResult result);
std::string failureHeadline(const Failure& failure);  // "" for no failure
std::string saveResultText(const Failure& failure);
std::string joinResultText(const Failure& failure);

// A failure's headline with its detail, as a status line shows it.
std::string failureText(const Failure& failure);
// The detail of the view's failure where the check's result is that the
// file could not be opened or read, else nothing; and the status text with it.
std::string checkDetailText(CheckResult result, const Failure& failure);
std::string checkStatusText(CheckResult result, const Failure& failure);
// The kind of stream the open check found: "MPEG-1", "MPEG-1 VCD, сектор
// 2324", "MPEG-2 PS, сектор 2048"...
std::string streamKindText(const StreamKind& kind);
// The joining page's message for a join refused before it wrote anything:
// an input that cannot be opened (with its detail) or an output that is one
// of the inputs.
std::string joinRefusalText(const Failure& failure);
// A piece the check before a join found unsound: "кусок 2 (b.mpg): 3 блока с
// ошибками", or the failure that kept it from being read.
std::string pieceCheckText(const PieceCheck& check, Language language);

// An end code met inside a piece, which the join went on behind: "кусок 1
// (a.mpg): код конца потока на позиции 381'132 пропущен, соединение
// продолжено".
std::string innerEndCodeText(const InnerEndCode& end, const std::string& path,
                             Language language = currentLanguage());

// The packet codes in force after a scan by the sound rules, as the last
// byte of each in hex, consecutive ones as a range: " BD C0-C1 E0".
std::string streamCodesList(const StreamCodes& codes);

// What a scan's table holds: its blocks and the broken ones it lists, "3'412
// блоков, 4 с ошибками" (the blocks' word agrees with their count).
std::string blockCountsText(uint64_t blocks, uint64_t broken,
                            Language language = currentLanguage());
// The status line at a scan's end: "поиск завершен: 3'412 блоков, 4 с
// ошибками", and when the sound rules name the streams (codes given) "...;
// найдены потоки: BD E0"; a scan the user stopped says so with what it
// counted until then: "прервано пользователем: 1'200 блоков, 3 с ошибками".
std::string scanDoneText(uint64_t blocks, uint64_t broken, const StreamCodes* codes,
                         Language language = currentLanguage());
std::string scanStoppedText(uint64_t blocks, uint64_t broken,
                            Language language = currentLanguage());
// A video CD rip's faulty sectors as its scan counts them: "сбойных
// секторов: 2" (the Russian form names its count: no plural to agree).
std::string faultySectorsText(uint64_t sectors, Language language = currentLanguage());
// The same status lines for a video CD rip: its faulty sectors beside the
// broken blocks, "поиск завершен: 359 блоков, 0 с ошибками, сбойных секторов:
// 1; найдены потоки: C0 E0".
std::string scanDoneText(uint64_t blocks, uint64_t broken, uint64_t faultySectors,
                         const StreamCodes* codes, Language language = currentLanguage());
std::string scanStoppedText(uint64_t blocks, uint64_t broken, uint64_t faultySectors,
                            Language language = currentLanguage());

// What a repair leaves out of the stream it writes: the junk the scan found
// in front of the stream and behind it, "мусор вне потока не записан: в
// начале 1'234 байт, в конце 128 байт"; "" when the findings hold none.
std::string junkLeftOutText(const FindingList& findings, Language language = currentLanguage());

// The error list's column titles, from the row number to the longest run.
std::string errorListHeader(int column);

// The line beside the gauge for a progress notice: "1'234 >> 5'678" for a
// scan or a save, "идёт работа    [ k  >>  n ]" for a join, "ptr: row >>
// rows" for a repair's walk over the list (empty at its end).
std::string progressLine(const Notice& notice);
std::string strategyProgressText(size_t row, size_t rows);

// The line that stands for the bytes a dump leaves out:
// "-------- пропущено 1'234 байт".
std::string dumpGapLine(uint64_t skipped);
// A block's dump: the head's lines, then the gap line and the tail's lines
// (their offsets those of the tail's bytes in the stream) when there is a
// tail.
std::vector<std::string> dumpLines(const BlockDump& dump, int perLine,
                                   DumpCharset charset = DumpCharset::Cp1251);

// The automatic repair's account of one block, for the list's column and
// the command line's plan: "вырезано 12 байт 00 с позиции 1'234", "дополнен
// 40 байтами", "длина по файлу", "отброшен...", "оставлен"; several cuts are
// joined by "; ".
std::string repairActionText(const BlockRepair& repair, Language language = currentLanguage());
// "точно", "вероятно", "не решено" (or "exact", "probable", "unresolved").
std::string repairCertaintyText(RepairCertainty certainty, Language language = currentLanguage());

// What went wrong with a sector of a video CD rip; a Missing row names the
// number of sectors lost.
std::string sectorFaultText(const SectorFaultRow& row, Language language = currentLanguage());
// A disc address as minute:second:frame, "00:04:30".
std::string cdAddressText(uint32_t frames);
// The summary behind the hammer and at the end of a repair: "блоков: 4;
// восстановлено точно: 3, стали декодируемыми: 1, не решено: 0" (or "4
// blocks: 3 restored exactly, 1 made decodable, 0 unresolved"); the
// Russian form names its counts so that no plural needs agreeing.
std::string repairSummaryText(const RepairSummary& summary, Language language = currentLanguage());

// What a press of the hammer did: "исправлено строк: 3, вырезано 1'234 байт,
// осталось: 1" (the rows left are those of the rows given that are still
// broken); the rescan names the rows it shortened instead, the acceptance of
// real sizes cuts nothing and names no bytes, and the automatic repair gives
// its summary with the bytes it cut behind: "...; вырезано 1'234 байт".
std::string strategySummaryText(Strategy strategy, const StrategyOutcome& outcome,
                                Language language = currentLanguage());

// A finding's kind as the list's kind column names it: "дыра", "пропуск",
// ...; and the tooltip that explains what a kind of damage is and what it
// does to a player.
std::string findingKindText(FindingKind kind, Language language = currentLanguage());
std::string findingKindTip(FindingKind kind, Language language = currentLanguage());
// The tooltip of a row of that kind: the kind's explanation, and the cause
// behind it on a line of its own when there is one.
std::string findingTipText(FindingKind kind, FindingCause cause = FindingCause::None,
                           Language language = currentLanguage());
// When a finding's damage plays and what it touches: "0:01:23.45, кадров: 12",
// either part alone when only it is known, empty when neither is.
std::string findingWhenText(const Finding& finding, Language language = currentLanguage());
// Why a check made its finding: "SCR опережает позицию при заявленной
// скорости", ...; empty for none.
std::string findingCauseText(FindingCause cause, Language language = currentLanguage());
// The stream a finding touches as a title names it: "E0", "C0", "BD/80" (a
// private stream's substream behind a slash); empty for the system layer.
std::string findingStreamText(uint8_t stream, uint8_t substream);
// 90 kHz ticks as h:mm:ss.ff (hundredths): "0:01:23.45"; empty for kNoTime.
std::string clockTimeText(int64_t ticks);
// A scan's findings counted by kind, the kinds found only, in the kinds'
// order: "находки: испорченный блок 2, дыра 1" (the Russian form names its
// counts, so that no plural needs agreeing); empty when all are 0.
std::string findingCountsText(const std::vector<size_t>& counts,
                              Language language = currentLanguage());
// The same counts without the title: "испорченный блок 2, дыра 1".
std::string findingListText(const std::vector<size_t>& counts,
                            Language language = currentLanguage());

}  // namespace mpg
