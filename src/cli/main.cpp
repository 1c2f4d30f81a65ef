// mpgmend-cli: the repair tool's core without a window, for batch work. Every
// command does what the window's commands do, in the same order and with the
// same texts, so that both give identical results. Parsing and dispatch are
// here; each command is in its own file.
#include <cerrno>
#include <csignal>
#include <cstring>
#include <iostream>
#include <new>

#include "cli/command.h"
#include "cli/output.h"
#include "i18n/qt_translations.h"
#include "mpgmend_version.h"

int main(int argc, char** argv) {
    using namespace mpg::cli;
    CLI::App app{
        "mpgmend-cli: finds and repairs broken blocks in MPEG-1 system streams.\n"
        "The input file is only ever read."};
    app.set_version_flag("--version", "mpgmend-cli " MPGMEND_VERSION);
    app.require_subcommand(1);
    app.footer(
        "Exit status: 0 done, 1 failed or stopped, 2 usage error, 3 scan found broken blocks or "
        "repair --verify found blocks unresolved or the written file broken. Over several files: "
        "1 if any failed, else 3 if any gave 3, else 0.");
    app.fallthrough();
    Session s;
    app.add_flag("-q,--quiet", s.quiet, "no progress bar");
    std::string lang = "ru";
    app.add_option("--lang", lang,
                   "the language of the status texts: ru (the default, each text followed by its "
                   "English in brackets) or en")
        ->check([](const std::string& name) {
            return mpg::languageNamed(name) ? std::string() : "ru or en";
        });
    bool literal = false;
    app.add_flag("--literal", literal,
                 "the strict MPEG-1 walk: two stream codes per system header, sector fill listed "
                 "as broken");

    std::unique_ptr<Command> commands[] = {makeScanCommand(), makeRepairCommand(),
                                           makeDumpCommand(), makeJoinCommand()};
    std::vector<std::pair<CLI::App*, Command*>> table;
    for (const auto& command : commands) table.emplace_back(command->define(app, s), command.get());

    // The translations are compiled into the program; the Russian one gives
    // the plural forms of its own texts.
    static const mpg::QtTranslations translations;
    mpg::installTranslations(&translations);
    try {
        app.parse(argc, argv);
    } catch (const CLI::ParseError& e) {
        const int rc = app.exit(e);
        // The help and the version go to standard output too.
        if (!(std::cout << std::flush)) {
            say(mpg::Message::OutputFailed, std::string(": ") + std::strerror(errno));
            return 1;
        }
        return e.get_exit_code() == 0 ? rc : 2;
    }
    mpg::setLanguage(*mpg::languageNamed(lang));

    // A write beyond a file-size limit (ulimit -f) must fail like any other
    // write, be reported and leave nothing behind, not end the program.
    if (literal) s.state.rules = mpg::StreamRules::Literal;
    std::signal(SIGXFSZ, SIG_IGN);
    stopOnInterrupt(s.state.job.stopRequested);
    // A job that runs out of memory, or standard output that takes no
    // more, ends the command: the writer's temporary files go as the stack
    // unwinds, and the reason is told.
    try {
        for (const auto& [subcommand, command] : table) {
            if (*subcommand) return command->run(s);
        }
    } catch (const std::bad_alloc&) {
        say(mpg::Message::OutOfMemory);
        return 1;
    } catch (const OutputFailed& failed) {
        say(mpg::Message::OutputFailed, std::string(": ") + std::strerror(failed.systemError));
        return 1;
    }
    return 2;
}
