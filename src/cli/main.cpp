// mpgmend-cli: the repair tool's core without a window, for batch work. Every
// command does what the window's commands do, in the same order and with the
// same texts, so that both give identical results.
#include <sys/stat.h>
#include <unistd.h>

#include <CLI/CLI.hpp>
#include <atomic>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <iostream>
#include <map>

#include "analysis/dump.h"
#include "analysis/error_list.h"
#include "analysis/progress_throttle.h"
#include "analysis/scan.h"
#include "analysis/scan_control.h"
#include "join/join.h"
#include "repair/index_file.h"
#include "repair/naming.h"
#include "repair/strategies.h"
#include "repair/writer.h"
#include "stream/file_io.h"

namespace {

using namespace mpg;

// Ctrl-C stops the running job the way the window's stop does.
std::atomic<bool>* gStop = nullptr;

extern "C" void onInterrupt(int) {
    if (gStop != nullptr) gStop->store(true);
}

// The program's status texts with a short English gloss, on standard error;
// a failure's detail (the file, a read's position, the system's reason)
// follows the text, before the gloss.
void say(const std::string& text, const std::string& detail = "") {
    static const std::map<std::string, const char*> gloss = {
        {"файл открыт, заголовок найден", "file opened, header found"},
        {"ошибка открытия файла", "cannot open the file"},
        {"отсутствует сигнатура файла", "no pack header at the start"},
        {"отсутствует System Header", "no system header after the pack header"},
        {kTooLargeText, "files of 4 GiB or more are not supported"},
        {"поиск завершен", "scan finished"},
        {kStoppedText, "stopped by the user"},
        {kSavedText, "file saved"},
        {kSaveFailedText, "error saving the file"},
        {kOutputIsInputText, "the output is the input"},
        {kReadFailedText, "cannot read the file"},
        {"файл уже существует", "the file already exists"},
        {"нет файла ошибок", "no index file"},
        {"файл ошибок повреждён", "the index file is damaged"},
        {kJoinDoneText, "join finished"},
        {kJoinBrokenText, "the structure of a file is broken"},
        {kJoinOutputIsInputText, "the output is one of the inputs"},
        {kInputChangedText, "the input file changed while the job ran"},
    };
    const auto it = gloss.find(text);
    std::cerr << text << detail;
    if (it != gloss.end()) std::cerr << " (" << it->second << ")";
    std::cerr << "\n";
}

// Fills the error list from the scan's notifications and draws a progress
// line with the rate on a terminal's standard error.
class CliSink : public ThrottledSink {
  public:
    CliSink(const AppState& state, ErrorGrid& grid, bool quiet, uint64_t bytes)
        : state_(state),
          grid_(grid),
          show_(!quiet && ::isatty(STDERR_FILENO) != 0),
          bytes_(bytes),
          start_(Clock::now()) {}
    ~CliSink() override {
        if (drawn_) std::fputs("\r\033[K", stderr);
    }

    void notify(Notify kind, int32_t payload) override {
        switch (kind) {
            case Notify::Broken:
                grid_.onBroken(payload, state_.table);
                break;
            case Notify::Resolved:
                grid_.onResolved(payload, state_.table);
                break;
            case Notify::Withdrawn:
                grid_.onWithdrawn(payload);
                break;
            case Notify::Progress:
            case Notify::JoinProgress:
                draw(payload);
                break;
        }
    }
    void setTitle(const std::string& text) override { say(text); }
    void clearErrorList() override { grid_.clear(); }
    // showMessage() stays silent: the join's messages say what its result
    // says, and that is printed once, at the end.

  private:
    void draw(int32_t percent) {
        if (!show_) return;
        const double seconds = std::chrono::duration<double>(Clock::now() - start_).count();
        const double rate =
            seconds > 0 ? double(bytes_) * std::min(percent, 100) / 100 / seconds / 1e6 : 0;
        const int filled = std::clamp(percent, 0, 100) / 4;
        std::fprintf(stderr, "\r[%-25s] %3d%%  %s  %.0f MB/s\033[K",
                     std::string(size_t(filled), '#').c_str(), percent,
                     state_.job.progressText.c_str(), rate);
        drawn_ = true;
    }

    const AppState& state_;
    ErrorGrid& grid_;
    bool show_;
    uint64_t bytes_;
    Clock::time_point start_;
    bool drawn_ = false;
};

void printRows(const ErrorGrid& grid) {
    for (int r = 1; r < grid.rowCount(); ++r) {
        const ErrorRow& row = grid.row(r);
        if (row[0].empty()) continue;
        std::string line;
        for (int c = 0; c < kErrorColumns; ++c) {
            if (c > 0) line += '\t';
            line += row[static_cast<size_t>(c)];
        }
        std::cout << line << "\n";
    }
}

std::string jsonString(const std::string& s) {
    std::string out = "\"";
    for (const unsigned char c : s) {
        if (c == '"' || c == '\\') {
            out += '\\';
            out += static_cast<char>(c);
        } else if (c < 0x20) {
            char esc[8];
            std::snprintf(esc, sizeof esc, "\\u%04x", c);
            out += esc;
        } else {
            out += static_cast<char>(c);
        }
    }
    return out + "\"";
}

// The whole table, the stream codes and the rows as one JSON document,
// written as it is made: a stream of millions of tiny blocks gives a
// document of gigabytes, which is never held whole.
void printJson(const AppState& state, const ErrorGrid& grid) {
    constexpr size_t kFlushAt = size_t{1} << 16;
    std::string out = "{\"firstStreamCode\":" + std::to_string(state.codes.first) +
                      ",\"secondStreamCode\":" + std::to_string(state.codes.second) +
                      ",\"blocks\":[";
    const auto flushFull = [&] {
        if (out.size() < kFlushAt) return;
        std::cout.write(out.data(), static_cast<std::streamsize>(out.size()));
        out.clear();
    };
    for (size_t i = 0; i < state.table.size(); ++i) {
        const BlockRecord& e = state.table[i];
        if (i > 0) out += ',';
        out += "{\"code\":" + std::to_string(e.code) + ",\"offset\":" + std::to_string(e.offset) +
               ",\"declaredSize\":" + std::to_string(e.declaredSize) + ",\"broken\":" +
               jsonString(e.broken == kSound ? "" : std::string(1, char(e.broken))) +
               ",\"realSize\":" + std::to_string(e.realSize) +
               ",\"repeatByte\":" + std::to_string(e.repeatByte) +
               ",\"repeatLength\":" + std::to_string(e.repeatLength) +
               ",\"repeatStart\":" + std::to_string(e.repeatStart) + "}";
        flushFull();
    }
    out += "],\"rows\":[";
    bool first = true;
    for (int r = 1; r < grid.rowCount(); ++r) {
        if (grid.row(r)[0].empty()) continue;
        out += first ? "[" : ",[";
        first = false;
        for (int c = 0; c < kErrorColumns; ++c) out += (c ? "," : "") + jsonString(grid.cell(r, c));
        out += "]";
        flushFull();
    }
    out += "]}\n";
    std::cout.write(out.data(), static_cast<std::streamsize>(out.size()));
    std::cout.flush();
}

uint64_t fileSize(const std::string& path) {
    struct stat st {};
    return ::stat(path.c_str(), &st) == 0 ? static_cast<uint64_t>(st.st_size) : 0;
}

struct Session {
    AppState state;
    ErrorGrid grid;
    std::string path;
    bool quiet = false;
};

void sayFailure(const Failure& failure) {
    say(failureHeadline(failure), failureDetail(failure));
}

// The open check's result, with why the file could not be opened or read.
void sayCheck(const Session& s, CheckResult check) {
    say(checkResultText(check), checkDetailText(check, s.state.view.failure()));
}

// The open check, then a fresh scan at high priority; false (reported) when
// the file is refused, cannot be read, changed meanwhile, or the scan was
// stopped.
bool checkAndScan(Session& s) {
    const CheckResult check = openAndCheck(s.state, s.path);
    if (check != CheckResult::Ok) {
        sayCheck(s, check);
        return false;
    }
    Failure failure;
    {
        CliSink sink(s.state, s.grid, s.quiet, fileSize(s.path));
        failure = scanFileAfresh(s.state, s.path, sink);
    }
    if (failure) {
        sayFailure(failure);
        return false;
    }
    if (s.state.job.stopRequested) {
        say("прервано пользователем");
        return false;
    }
    return true;
}

int runScan(Session& s, bool saveIndex, bool json) {
    if (!checkAndScan(s)) return 1;
    if (saveIndex) {
        const Failure failure = saveIndexFile(s.state.table, indexFileName(s.path), {s.path});
        if (failure) {
            say(saveResultText(failure), failureDetail(failure));
            return 1;
        }
    }
    json ? printJson(s.state, s.grid) : printRows(s.grid);
    return 0;
}

struct RepairArgs {
    std::string output;
    bool force = false;
    std::vector<std::string> apply;
    bool anyByte = false, anyDelta = false, cutPad = false, fromIndex = false, json = false;
    std::string minRun = kDefaultMinRepeat;
};

struct NoProgress : RepairProgress {
    bool due() override { return false; }
    void show(const std::string&) override {}
};

// One press of the hammer per strategy, as the window does.
void hammer(Session& s, const std::string& strategy, RepairOptions& options) {
    NoProgress progress;
    if (strategy == "eq") removeRunsEqualToDelta(s.state, s.grid, options, progress);
    if (strategy == "rescan") removeRunsAndRemeasure(s.state, s.grid, options, s.path, progress);
    if (strategy == "sizes") acceptRealSizes(s.state, s.grid, progress);
    s.state.view.resetCache();
    s.grid.rebuildFromTable(s.state.table);
}

// Only a regular file has contents to lose: a device, a FIFO or standard
// output takes the stream as it comes.
bool mayOverwrite(const std::string& output, bool force) {
    struct stat st {};
    if (force || output == OutputFile::kStandardOutput || ::stat(output.c_str(), &st) != 0 ||
        !S_ISREG(st.st_mode)) {
        return true;
    }
    if (::isatty(STDIN_FILENO) == 0) {
        std::cerr << output << ": ";
        say("файл уже существует");
        return false;
    }
    std::cerr << output
              << ": файл уже существует. перезаписать? (the file exists; overwrite?) [y/N] ";
    std::string answer;
    std::getline(std::cin, answer);
    return answer == "y" || answer == "Y";
}

int runRepair(Session& s, RepairArgs& a) {
    if (a.fromIndex) {
        const CheckResult check = openAndCheck(s.state, s.path);
        if (check != CheckResult::Ok) {
            sayCheck(s, check);
            return 1;
        }
        Failure inputFailure;
        const IndexLoad load = loadIndexFile(indexFileName(s.path), s.path, s.state, &inputFailure);
        if (load == IndexLoad::InputFailed) sayFailure(inputFailure);
        if (load == IndexLoad::Missing) say(kNoIndexText);
        if (load == IndexLoad::Damaged || load == IndexLoad::Unreadable) say(kBadIndexText);
        if (load != IndexLoad::Loaded) return 1;
        s.grid.rebuildFromTable(s.state.table);
    } else if (!checkAndScan(s)) {
        return 1;
    }
    RepairOptions options{!a.anyByte, !a.anyDelta, a.minRun};
    if (a.apply.empty()) a.apply.push_back("eq");
    for (const std::string& strategy : a.apply) hammer(s, strategy, options);

    const std::string output = a.output.empty() ? outputNameFor(s.path) : a.output;
    if (!mayOverwrite(output, a.force)) return 1;
    s.state.headerFromRealSize = !a.cutPad;
    bool saved = false;
    {
        CliSink sink(s.state, s.grid, s.quiet, s.state.view.streamSize());
        saved = saveRepairedStream(s.state, {s.path, output}, sink);
    }
    s.state.view.closeFile();
    if (a.json) printJson(s.state, s.grid);
    const Failure& failure = s.state.job.failure;
    say(saveResultText(failure), failureDetail(failure));
    // The one line on standard output, for `out=$(mpgmend-cli repair f.mpg)`.
    if (saved && output != OutputFile::kStandardOutput) std::cout << output << "\n";
    return saved ? 0 : 1;
}

struct DumpArgs {
    int64_t block = -1;
    int width = 16;
    std::vector<std::string> apply;
};

int runDump(Session& s, const DumpArgs& a) {
    if (!checkAndScan(s)) return 1;
    RepairOptions options;
    for (const std::string& strategy : a.apply) hammer(s, strategy, options);
    BlockDump bytes;
    if (a.block < 0 || !readBlockForDump(s.state, s.path, static_cast<size_t>(a.block), bytes)) {
        std::cerr << "no block " << a.block << " (the stream has " << s.state.table.size() << ")\n";
        return 1;
    }
    for (const std::string& line : dumpLines(bytes, a.width)) std::cout << line << "\n";
    return 0;
}

struct JoinArgs {
    JoinParams params;
    bool force = false, glue = false;
};

int runJoin(Session& s, JoinArgs& a) {
    if (!mayOverwrite(a.params.output, a.force)) return 1;
    uint64_t bytes = 0;
    for (const std::string& in : a.params.inputs) bytes += fileSize(in);
    int32_t result = kJoinFailed;
    {
        CliSink sink(s.state, s.grid, s.quiet, bytes / std::max<size_t>(1, a.params.inputs.size()));
        result = a.glue ? glueFiles(s.state, a.params, sink) : joinStructured(s.state, a.params, sink);
    }
    const Failure& failure = s.state.job.failure;
    say(joinResultText(result, failure), result == kJoinDone ? "" : failureDetail(failure));
    return result == kJoinDone ? 0 : 1;
}

}  // namespace

int main(int argc, char** argv) {
    CLI::App app{
        "mpgmend-cli: finds and repairs broken blocks in MPEG-1 system streams.\n"
        "The input file is only ever read."};
    app.set_version_flag("--version", "mpgmend-cli 000.21");
    app.require_subcommand(1);
    app.fallthrough();
    Session s;
    app.add_flag("-q,--quiet", s.quiet, "no progress bar");

    bool saveIndex = false, scanJson = false;
    CLI::App* scan = app.add_subcommand("scan", "list the broken blocks of a stream, one per line");
    scan->add_option("FILE", s.path, "the stream")->required();
    scan->add_flag("--save-index", saveIndex, "also write FILE.index");
    scan->add_flag("--json", scanJson, "print the whole block table as JSON");

    RepairArgs r;
    CLI::App* repair = app.add_subcommand("repair", "repair a stream into a new file");
    repair->add_option("FILE", s.path, "the stream")->required();
    repair->add_option("-o,--output", r.output,
                       "the repaired file, - for standard output (default: FILE with .001 "
                       "before the extension)");
    repair->add_flag("--force", r.force, "overwrite an existing output");
    repair
        ->add_option("--apply", r.apply,
                     "a repair, in the order given: eq, rescan or sizes (default: eq)")
        ->check(CLI::IsMember({"eq", "rescan", "sizes"}))
        ->take_last()
        ->multi_option_policy(CLI::MultiOptionPolicy::TakeAll);
    repair->add_flag("--any-byte", r.anyByte, "runs of any byte, not only zeros");
    repair->add_flag("--any-delta", r.anyDelta, "rescan: blocks shorter than declared too");
    repair->add_option("--min-run", r.minRun, "rescan: the least run length (default 100)")
        ->allow_extra_args(false);
    repair->add_flag("--cut-pad", r.cutPad, "cut or pad broken blocks to their declared size");
    repair->add_flag("--from-index", r.fromIndex,
                     "take the findings from FILE.index instead of a scan");
    repair->add_flag("--json", r.json, "print the block table after the repairs as JSON");

    DumpArgs d;
    CLI::App* dump =
        app.add_subcommand("dump", "the hex dump of one block after the scan and the repairs");
    dump->add_option("FILE", s.path, "the stream")->required();
    dump->add_option("--block", d.block,
                     "the block's index in the table (a block over 128 KiB shows its first and "
                     "last 64 KiB)")
        ->required();
    dump->add_option("--width", d.width, "bytes per line")->check(CLI::IsMember({16, 24, 32}));
    dump->add_option("--apply", d.apply, "a repair first: eq, rescan or sizes")
        ->check(CLI::IsMember({"eq", "rescan", "sizes"}))
        ->multi_option_policy(CLI::MultiOptionPolicy::TakeAll);

    JoinArgs j;
    CLI::App* join = app.add_subcommand("join", "join pieces into one stream");
    join->add_option("-o,--output", j.params.output, "the joined file, - for standard output")
        ->required();
    join->add_flag("--force", j.force, "overwrite an existing output");
    join->add_flag("--glue", j.glue, "plain concatenation of the files");
    join->add_flag("--one-system-header", j.params.oneSystemHeader,
                   "keep only the first system header");
    join->add_flag("--one-padding", j.params.onePadding, "keep only the first padding packet");
    join->add_option("FILE", j.params.inputs, "the pieces, in order")->required();

    try {
        app.parse(argc, argv);
    } catch (const CLI::ParseError& e) {
        const int rc = app.exit(e);
        return e.get_exit_code() == 0 ? rc : 2;
    }

    // A write beyond a file-size limit (ulimit -f) must fail like any other
    // write, be reported and leave nothing behind, not end the program.
    std::signal(SIGXFSZ, SIG_IGN);
    gStop = &s.state.job.stopRequested;
    std::signal(SIGINT, onInterrupt);
    if (*scan) return runScan(s, saveIndex, scanJson);
    if (*repair) {
        if (r.json && r.output == OutputFile::kStandardOutput) {
            std::cerr << "--json prints to standard output: not with -o -\n";
            return 2;
        }
        return runRepair(s, r);
    }
    if (*dump) return runDump(s, d);
    if (*join) {
        if (j.glue && (j.params.oneSystemHeader || j.params.onePadding)) {
            std::cerr
                << "--glue copies the files as they are: no --one-system-header or --one-padding\n";
            return 2;
        }
        return runJoin(s, j);
    }
    return 2;
}
