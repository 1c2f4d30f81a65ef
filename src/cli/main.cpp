// mpgmend-cli: the repair tool's core without a window, for batch work.
#include <unistd.h>

#include <CLI/CLI.hpp>
#include <cstdio>
#include <iostream>

#include "analysis/error_list.h"
#include "analysis/progress_throttle.h"
#include "analysis/scan.h"
#include "analysis/scan_control.h"

namespace {

using namespace mpg;

// Fills the error list from the scan's notifications and draws a progress
// line on a terminal's standard error.
class CliSink : public ThrottledSink {
  public:
    CliSink(const AppState& state, ErrorGrid& grid)
        : state_(state), grid_(grid), showProgress_(::isatty(STDERR_FILENO) != 0) {}
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
            case Notify::Progress:
            case Notify::JoinProgress:
                if (showProgress_) {
                    std::fprintf(stderr, "\r%3d%%  %s\033[K", payload,
                                 state_.job.progressText.c_str());
                    drawn_ = true;
                }
                break;
        }
    }
    void setTitle(const std::string& text) override { std::cerr << text << "\n"; }
    void clearErrorList() override { grid_.clear(); }

  private:
    const AppState& state_;
    ErrorGrid& grid_;
    bool showProgress_;
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

int runScan(const std::string& path) {
    AppState state;
    const CheckResult check = openAndCheck(state, path);
    if (check != CheckResult::Ok) {
        std::cerr << path << ": " << checkResultText(check) << "\n";
        return 1;
    }
    if (state.view.openStream(path) != OpenStatus::Opened) {
        std::cerr << path << ": " << kOpenFailedText << "\n";
        return 1;
    }
    ErrorGrid grid;
    {
        CliSink sink(state, grid);
        state.resumeScan = '0';
        EnumPacks(state, sink);
    }
    state.view.closeFile();
    printRows(grid);
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    CLI::App app{"mpgmend-cli: finds and repairs broken blocks in MPEG-1 system streams"};
    app.set_version_flag("--version", "mpgmend-cli 000.21");
    app.require_subcommand(1);

    std::string scanFile;
    CLI::App* scan = app.add_subcommand("scan", "list the broken blocks of a stream");
    scan->add_option("FILE", scanFile, "the stream to scan")->required();

    CLI11_PARSE(app, argc, argv);
    if (*scan) return runScan(scanFile);
    return 2;
}
