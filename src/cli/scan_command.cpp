// scan: the broken blocks of a stream as rows, or the whole table as JSON;
// on request also the index file of the findings.
#include "cli/command.h"
#include "cli/output.h"
#include "repair/index_file.h"

namespace mpg::cli {

namespace {

class ScanCommand : public Command {
  public:
    CLI::App* define(CLI::App& app, Session& s) override {
        CLI::App* scan =
            app.add_subcommand("scan", "list the broken blocks of a stream, one per line");
        scan->add_option("FILE", s.path, "the stream")->required();
        scan->add_flag("--save-index", saveIndex_, "also write FILE.index");
        scan->add_flag("--json", json_, "print the whole block table as JSON");
        return scan;
    }

    int run(Session& s) override {
        if (!checkAndScan(s)) return 1;
        if (saveIndex_) {
            const Failure failure = saveIndexFile(s.state.table, indexFileName(s.path), {s.path},
                                                  s.state.view.streamSize());
            if (failure) {
                say(saveMessage(failure), failureDetail(failure));
                return 1;
            }
        }
        // The strict walk says nothing it never said.
        if (s.state.codes.rules() == StreamRules::Sound)
            say(Message::StreamsFound, streamCodesList(s.state.codes));
        json_ ? printJson(s.state) : printRows(s.state.table);
        return 0;
    }

  private:
    bool saveIndex_ = false;
    bool json_ = false;
};

}  // namespace

std::unique_ptr<Command> makeScanCommand() {
    return std::make_unique<ScanCommand>();
}

}  // namespace mpg::cli
