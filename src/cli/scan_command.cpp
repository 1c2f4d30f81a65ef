// scan: the broken blocks of streams as rows, or a stream's whole table as
// JSON; on request also the index file of the findings.
#include <algorithm>
#include <iostream>

#include "cli/batch.h"
#include "cli/command.h"
#include "cli/output.h"

namespace mpg::cli {

namespace {

class ScanCommand : public Command {
  public:
    CLI::App* define(CLI::App& app, Session&) override {
        CLI::App* scan =
            app.add_subcommand("scan", "list the broken blocks of streams, one per line");
        scan->add_option("FILE", files_,
                         "the streams, or folders with --recursive; with several, each row "
                         "starts with its file's name and a tab")
            ->required();
        scan->add_flag("-r,--recursive", recursive_,
                       "take the stream files (.mpg .mpeg .vob .dat) below the folders named");
        scan->add_flag("--save-index", saveIndex_, "also write FILE.index beside each stream");
        scan->add_flag("--json", json_, "print the whole block table as JSON (one stream only)");
        scan->add_flag("--decode", decode_,
                       "also decode the video, MPEG audio and AC-3 streams and list the frames "
                       "the decoder finds damaged (slow: the whole stream is decoded)");
        scan->footer(
            "A video CD rip (.dat, RIFF CDXA) is scanned as the MPEG stream in its sectors; its "
            "faulty sectors follow the block rows, each line starting with \"sector\" and a tab, "
            "then the sector's number, its disc address mm:ss:ff, the fault and the stream range "
            "[start, end) (with --json: the \"sectors\" array).\n"
            "Damage that leaves the blocks whole follows too, in stream order, each line "
            "starting with its kind (junk, hole, gap, payload, decode) and a tab, then the "
            "stream (E0, BD/80, - for the system layer), the stream range [start, end), the "
            "time (h:mm:ss.ff), the frames touched and the cause; with --json every finding, "
            "broken blocks and faulty sectors included, is in the \"findings\" array with its "
            "\"kind\", and \"summary\" counts them by kind. Not with --literal, which checks "
            "the blocks only. With --decode the streams are also decoded (FFmpeg's "
            "libavcodec) and the frames the decoder finds damaged follow as \"decode\" rows.\n"
            "Exit status: 0 no broken block, 1 failed or stopped, 2 usage error, 3 broken blocks, "
            "faulty sectors or other damage found. Over several files: 1 if any failed, else 3 "
            "if any has damage, else 0.");
        return scan;
    }

    int run(Session& s) override {
        Inputs inputs;
        if (const std::string refusal = gatherInputs(files_, recursive_, inputs);
            !refusal.empty()) {
            std::cerr << refusal << "\n";
            return 2;
        }
        if (json_ && inputs.several) {
            std::cerr << "--json prints the table of one stream: not with several files or a "
                         "folder\n";
            return 2;
        }
        return runEach(s, inputs, false,
                       [&](Session& one) { return scanOne(one, inputs.several); });
    }

  private:
    FileOutcome scanOne(Session& s, bool several) const {
        FileOutcome outcome;
        outcome.status = 1;
        s.state.decodeCheck = decode_;
        const std::optional<ScanResult> scan = checkAndScan(s);
        if (!scan) return outcome;
        // The rows are the scan's, printed whether the index is written or not.
        const Failure indexFailure = saveIndex_ ? s.work.saveIndex().failure : Failure{};
        // The strict walk says nothing it never said.
        if (s.state.codes.rules() == StreamRules::Sound) {
            std::cerr << glossed([&](Language l) {
                return messageIn(Message::StreamsFound, l) + streamCodesList(s.state.codes);
            }) << "\n";
            sayFindingCounts(s.state);
        }
        if (json_) {
            printJson(s.state);
        } else {
            printRows(s.state.table, several ? s.path + "\t" : "");
            printFindingRows(s.state, several ? s.path + "\t" : "");
        }
        if (indexFailure) {
            say(saveMessage(indexFailure), failureDetail(indexFailure));
            return outcome;
        }
        outcome.counted = true;
        outcome.blocks = scan->blocks;
        outcome.broken = scan->broken;
        // A sector the disc gave wrong, or damage the checks of the content
        // found, is damage as a broken block is.
        outcome.status =
            outcome.broken > 0 || !s.state.sectorFaults.empty() || !s.state.findings.empty() ? 3
                                                                                             : 0;
        return outcome;
    }

    std::vector<std::string> files_;
    bool recursive_ = false;
    bool saveIndex_ = false;
    bool json_ = false;
    bool decode_ = false;
};

}  // namespace

std::unique_ptr<Command> makeScanCommand() {
    return std::make_unique<ScanCommand>();
}

}  // namespace mpg::cli
