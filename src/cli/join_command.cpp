// join: pieces into one stream, block by block or as a plain concatenation.
#include <iostream>

#include "cli/command.h"
#include "cli/output.h"

namespace mpg::cli {

namespace {

class JoinCommand : public Command {
  public:
    CLI::App* define(CLI::App& app, Session&) override {
        CLI::App* join = app.add_subcommand("join", "join pieces into one stream");
        join->add_option("-o,--output", params_.output, "the joined file, - for standard output")
            ->required();
        join->add_flag("--force", force_, "overwrite an existing output");
        join->add_flag("--glue", glue_, "plain concatenation of the files");
        join->add_flag("--one-system-header", params_.oneSystemHeader,
                       "keep only the first system header");
        join->add_flag("--one-padding", params_.onePadding, "keep only the first padding packet");
        join->add_flag("--continuous", params_.continuous,
                       "shift each piece's clock (SCR/PTS/DTS) to run on from the previous one");
        join->add_flag("--check", check_,
                       "scan every piece first and name those with broken blocks; the structured "
                       "join then refuses them");
        join->add_option("FILE", params_.inputs, "the pieces, in order")->required();
        return join;
    }

    int run(Session& s) override {
        if (glue_ && (params_.oneSystemHeader || params_.onePadding || params_.continuous)) {
            std::cerr << "--glue copies the files as they are: no --one-system-header, "
                         "--one-padding or --continuous\n";
            return 2;
        }
        const std::optional<Existing> existing = overwriteChoice(params_.output, force_);
        if (!existing) return 1;
        params_.existing = *existing;
        uint64_t bytes = 0;
        for (const std::string& in : params_.inputs) bytes += fileSize(in);
        params_.rules = s.state.rules.load();
        // A broken block stops the structured join, so the check refuses it
        // there; the glue copies bytes and minds no structure, so with it
        // the check only names the pieces.
        if (check_ && !piecesAreSound(s.work) && !glue_) return 1;
        JoinOutcome joined;
        {
            CliSink sink(s.quiet, bytes);
            joined = s.work.join({params_, glue_}, sink);
        }
        for (const InnerEndCode& end : joined.innerEnds) {
            const std::string& path = params_.inputs[end.piece];
            std::cerr << glossed([&](Language l) { return innerEndCodeText(end, path, l); })
                      << '\n';
        }
        const Failure& failure = joined.failure;
        say(joinMessage(failure), failure ? failureDetail(failure) : "");
        return failure ? 1 : 0;
    }

  private:
    // The check before the join: each unsound piece named on standard
    // error, glossed; false when there was one.
    bool piecesAreSound(RepairSession& work) {
        const PieceCheckResult found = work.checkPieces({params_.inputs, params_.rules});
        for (const PieceCheck& piece : found.unsound) {
            std::cerr << glossed([&](Language l) { return pieceCheckText(piece, l); }) << '\n';
        }
        return found.unsound.empty();
    }

    JoinParams params_;
    bool force_ = false, glue_ = false, check_ = false;
};

}  // namespace

std::unique_ptr<Command> makeJoinCommand() {
    return std::make_unique<JoinCommand>();
}

}  // namespace mpg::cli
