// The window program: creates its three windows (the main window, the
// confirmation dialog, the dump window, in this order), shows the main one
// and runs until it is closed. The one setting it keeps is the language the
// user chose (ui/language.h); every other option starts from the window's
// design values. Its one argument, a file, is opened at once
// (`mpgmend [FILE]`, ui/start_arguments.h).
#include <QApplication>
#include <csignal>

#include "analysis/app_state.h"
#include "ui/form_du.h"
#include "ui/form_yes_no.h"
#include "ui/language.h"
#include "ui/main_window.h"
#include "ui/start_arguments.h"
#include "ui/widgets.h"

int main(int argc, char** argv) {
    // A write beyond a file-size limit (ulimit -f) must fail like any other
    // write and be reported, not end the program with the job half done.
    std::signal(SIGXFSZ, SIG_IGN);
    QApplication app(argc, argv);
    QApplication::setFont(mpg::ui::windowFont());
    QApplication::setWindowIcon(QIcon(QStringLiteral(":/pictures/app.svg")));
    // The system's language, or the one chosen on the settings page.
    mpg::ui::useLanguage(mpg::ui::startLanguage());
    // --help, --version and wrong arguments end here, before any window.
    const QString file = mpg::ui::startFile(QApplication::arguments());

    // The state shared by the windows and the worker: the stream view, the
    // block table, the stream codes and the job state. Released at exit.
    auto state = std::make_unique<mpg::AppState>();
    {
        mpg::ui::TFormMain formMain(*state);
        mpg::ui::TFormYesNo formYesNo;
        mpg::ui::TFormDU formDU;
        formMain.setForms(&formYesNo, &formDU);
        formMain.show();
        mpg::ui::openFromArguments(formMain, file);
        app.exec();
    }
    state.reset();
    return 0;
}
