#include "ui/start_arguments.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <cstdio>
#include <cstdlib>

#include "mpgmend_version.h"
#include "ui/main_window.h"
#include "ui/repair_page.h"

namespace mpg::ui {

namespace {

// Same as a usage error of mpgmend-cli.
constexpr int kUsageError = 2;

[[noreturn]] void usageError(const QString& why) {
    std::fputs(qUtf8Printable(QCoreApplication::applicationName() + QStringLiteral(": ") + why +
                              QLatin1Char('\n')),
               stderr);
    std::exit(kUsageError);
}

}  // namespace

QString startFile(const QStringList& arguments) {
    QCoreApplication::setApplicationName(QStringLiteral("mpgmend"));
    QCoreApplication::setApplicationVersion(QStringLiteral(MPGMEND_VERSION));
    QCommandLineParser parser;
    parser.setApplicationDescription(
        QCoreApplication::translate("mpg::ui::StartArguments", "ремонт файлов в формате MPEG1"));
    parser.addHelpOption();
    parser.addVersionOption();
    parser.addPositionalArgument(
        QStringLiteral("FILE"),
        QCoreApplication::translate("mpg::ui::StartArguments",
                                    "поток MPEG, который открыть на странице ремонта"),
        QStringLiteral("[FILE]"));
    if (!parser.parse(arguments)) usageError(parser.errorText());
    if (parser.isSet(QStringLiteral("version"))) parser.showVersion();
    if (parser.isSet(QStringLiteral("help"))) parser.showHelp(0);
    const QStringList files = parser.positionalArguments();
    if (files.size() > 1)
        usageError(QCoreApplication::translate("mpg::ui::StartArguments",
                                               "можно открыть только один файл"));
    return files.isEmpty() ? QString() : files.first();
}

void openFromArguments(TFormMain& window, const QString& file) {
    if (!file.isEmpty()) window.repairPage()->openFile(file);
}

}  // namespace mpg::ui
