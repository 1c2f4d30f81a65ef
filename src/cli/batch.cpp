#include "cli/batch.h"

#include <sys/stat.h>

#include <algorithm>
#include <filesystem>
#include <iostream>
#include <memory>
#include <set>
#include <utility>

#include "cli/output.h"
#include "text/translate.h"

namespace mpg::cli {

namespace {

namespace fs = std::filesystem;

using Identity = std::pair<dev_t, ino_t>;

// Where a name leads, through any link; false when it leads nowhere.
bool identify(const std::string& path, struct stat& st) {
    return ::stat(path.c_str(), &st) == 0;
}

class FolderWalk {
  public:
    explicit FolderWalk(Inputs& out) : out_(out) {}

    void walk(const std::string& folder) {
        std::vector<std::string> found;
        collect(folder, found);
        std::sort(found.begin(), found.end());
        for (std::string& file : found) out_.files.push_back(std::move(file));
    }

  private:
    // A folder reached again through a link is not entered twice: a link to
    // a folder above it would otherwise be walked for ever.
    void collect(const std::string& folder, std::vector<std::string>& found) {
        struct stat st {};
        if (!identify(folder, st) || !folders_.insert({st.st_dev, st.st_ino}).second) return;
        std::error_code error;
        fs::directory_iterator entries(folder, error);
        if (error) {
            out_.unreadable.push_back(folder + ": " + error.message());
            return;
        }
        std::vector<std::string> names;
        for (; entries != fs::directory_iterator(); entries.increment(error)) {
            names.push_back(entries->path().string());
        }
        if (error) out_.unreadable.push_back(folder + ": " + error.message());
        std::sort(names.begin(), names.end());
        for (const std::string& name : names) {
            // A dangling link, or an entry gone since the listing, is passed.
            if (!identify(name, st)) continue;
            if (S_ISDIR(st.st_mode)) {
                collect(name, found);
            } else if (isStreamName(fs::path(name).filename().string()) &&
                       files_.insert({st.st_dev, st.st_ino}).second) {
                found.push_back(name);
            }
        }
    }

    Inputs& out_;
    std::set<Identity> folders_;
    std::set<Identity> files_;
};

// The column texts of the table, in the language the program speaks and,
// behind a Russian one, the English: a header is a status text like any.
std::string header(const char* source) {
    return glossed([&](Language l) { return translateTo(l, "Cli", source); });
}

// The characters a cell takes on a terminal: its UTF-8 lead bytes.
size_t shownWidth(const std::string& text) {
    return static_cast<size_t>(std::count_if(text.begin(), text.end(), [](char c) {
        return (static_cast<unsigned char>(c) & 0xC0) != 0x80;
    }));
}

}  // namespace

bool isStreamName(std::string_view name) {
    const size_t dot = name.rfind('.');
    if (dot == std::string_view::npos || dot == 0) return false;
    std::string extension(name.substr(dot + 1));
    std::transform(extension.begin(), extension.end(), extension.begin(),
                   [](char c) { return c >= 'A' && c <= 'Z' ? char(c - 'A' + 'a') : c; });
    return extension == "mpg" || extension == "mpeg" || extension == "vob" || extension == "dat";
}

std::string gatherInputs(const std::vector<std::string>& named, bool recursive, Inputs& out) {
    out = Inputs{};
    out.several = named.size() > 1;
    FolderWalk walk(out);
    for (const std::string& name : named) {
        struct stat st {};
        if (!identify(name, st) || !S_ISDIR(st.st_mode)) {
            out.files.push_back(name);
            continue;
        }
        if (!recursive) {
            return name + " is a folder: give --recursive to take the stream files below it";
        }
        out.several = true;
        walk.walk(name);
    }
    return "";
}

int overallStatus(const std::vector<FileOutcome>& outcomes) {
    int status = 0;
    for (const FileOutcome& o : outcomes) {
        if (o.status == 1) return 1;
        if (o.status == 3) status = 3;
    }
    return status;
}

int runEach(Session& shared, const Inputs& inputs, bool repair,
            const std::function<FileOutcome(Session&)>& one) {
    for (const std::string& folder : inputs.unreadable) {
        std::cerr << glossed([&](Language l) {
            return fillIn(translateTo(l, "Cli", MPG_TR_NOOP("Cli", "папка не читается: %1")),
                          {folder});
        }) << "\n";
    }
    std::vector<FileOutcome> outcomes;
    for (const std::string& file : inputs.files) {
        if (shared.state.job.stopRequested) break;
        // A session of its own: no table, cut or stop of the file before
        // carries over.
        auto s = std::make_unique<Session>();
        s->quiet = shared.quiet;
        s->state.rules = shared.state.rules.load();
        s->path = file;
        stopOnInterrupt(s->state.job.stopRequested);
        if (inputs.several) std::cerr << file << ":\n";
        FileOutcome outcome = one(*s);
        outcome.rip = s->state.kind.cdxa;
        outcome.faultySectors = s->state.sectorFaults.size();
        // Ctrl-C must never reach the flag of a session that is gone.
        stopOnInterrupt(shared.state.job.stopRequested);
        outcome.file = file;
        outcomes.push_back(std::move(outcome));
        if (s->state.job.stopRequested) {
            outcomes.back().status = 1;
            break;
        }
    }
    if (shared.state.job.stopRequested) say(Message::Stopped);
    if (outcomes.size() > 1) {
        for (const std::string& line : summaryLines(outcomes, repair)) std::cerr << line << "\n";
    }
    const int status = overallStatus(outcomes);
    return inputs.unreadable.empty() && !shared.state.job.stopRequested ? status : 1;
}

std::vector<std::string> summaryLines(const std::vector<FileOutcome>& outcomes, bool repair) {
    std::vector<std::vector<std::string>> rows;
    std::vector<std::string> head = {header(MPG_TR_NOOP("Cli", "файл")),
                                     header(MPG_TR_NOOP("Cli", "блоков")),
                                     header(MPG_TR_NOOP("Cli", "испорченных"))};
    const bool rips =
        std::any_of(outcomes.begin(), outcomes.end(), [](const FileOutcome& o) { return o.rip; });
    if (rips) head.push_back(header(MPG_TR_NOOP("Cli", "сбойных секторов")));
    // The file and the output are left-aligned, the counts right-aligned.
    const size_t outputColumn = head.size() + 1;
    if (repair) {
        head.push_back(header(MPG_TR_NOOP("Cli", "исправлено")));
        head.push_back(header(MPG_TR_NOOP("Cli", "результат")));
    }
    rows.push_back(std::move(head));
    const std::string failed = translate("Cli", "ошибка");
    for (const FileOutcome& o : outcomes) {
        const auto count = [&](uint64_t n) { return o.counted ? countText(n) : "-"; };
        std::vector<std::string> row = {o.file, count(o.blocks), count(o.broken)};
        if (rips) row.push_back(o.rip ? count(o.faultySectors) : "-");
        if (repair) {
            row.push_back(count(o.fixed));
            row.push_back(o.status == 1      ? failed
                          : o.output.empty() ? translate("Cli", "не записан")
                                             : o.output);
        } else if (o.status == 1) {
            row.back() = failed;
        }
        rows.push_back(std::move(row));
    }
    std::vector<size_t> widths(rows.front().size(), 0);
    for (const auto& row : rows) {
        for (size_t c = 0; c < row.size(); ++c) widths[c] = std::max(widths[c], shownWidth(row[c]));
    }
    // The last column is not padded.
    std::vector<std::string> lines;
    for (size_t r = 0; r < rows.size(); ++r) {
        std::string line;
        for (size_t c = 0; c < rows[r].size(); ++c) {
            const std::string& cell = rows[r][c];
            const std::string pad(widths[c] - shownWidth(cell), ' ');
            const bool text = c == 0 || c == outputColumn;
            const bool last = c + 1 == rows[r].size();
            if (c > 0) line += "  ";
            line += text ? cell + (last ? "" : pad) : pad + cell;
        }
        lines.push_back(std::move(line));
    }
    return lines;
}

}  // namespace mpg::cli
