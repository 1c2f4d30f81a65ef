// `mpgmend [FILE]`: the file a desktop or a shell names opens on the repair
// page at start; --help, --version and wrong arguments end the program
// before any window, with the project's version and the usage error status.
#include <QDir>
#include <QFileInfo>
#include <QLabel>
#include <QLineEdit>
#include <QProcess>
#include <QtTest>

#include "mpgmend_version.h"
#include "support/stream_builder.h"
#include "support/temp_dir.h"
#include "ui/program.h"
#include "ui/start_arguments.h"

using namespace mpg;
using namespace mpg::ui;
using mpg::test::Program;

namespace {

struct Run {
    int status = -1;
    QString out, err;
};

// A program run to its end offscreen, with no window system needed.
Run run(const QString& program, const QStringList& arguments) {
    QProcess process;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
    process.setProcessEnvironment(env);
    process.start(program, arguments);
    Run r;
    if (!process.waitForFinished(20000) || process.exitStatus() != QProcess::NormalExit) return r;
    r.status = process.exitCode();
    r.out = QString::fromUtf8(process.readAllStandardOutput());
    r.err = QString::fromUtf8(process.readAllStandardError());
    return r;
}

Run app(const QStringList& arguments) {
    return run(QStringLiteral(MPGMEND_APP), arguments);
}

QString file(const QString& name) {
    return QString::fromStdString(test::fixture(name.toStdString()));
}

}  // namespace

class StartArgumentsTest : public QObject {
    Q_OBJECT
  private slots:
    void aNamedFileOpensAtStart();
    void noFileLeavesTheWindowAsItStarts();
    void aFileThatCannotOpenSaysWhy();
    void helpAndVersionEndBeforeAnyWindow();
    void wrongArgumentsAreAUsageError();
};

void StartArgumentsTest::aNamedFileOpensAtStart() {
    Program p;
    const QString path = file(QStringLiteral("vcd-2324.mpg"));
    openFromArguments(p.main, startFile({QStringLiteral("mpgmend"), path}));
    QCOMPARE(p.get<QLineEdit>("EditIN")->text(), path);
    QCOMPARE(p.status(), QStringLiteral("файл открыт, заголовок найден: MPEG-1 VCD, сектор 2324"));
    QCOMPARE(p.state.codes.first(), 0x1E0u);
    // The input field proposes the output as a typed name does; the open
    // starts no scan.
    QVERIFY(p.get<QLineEdit>("EditOUT")->text().endsWith(QStringLiteral("/vcd-2324.001.mpg")));
    QVERIFY(!p.main.jobRunning());

    // After "--" a name that looks like an option is a file.
    test::TempDir dir;
    test::StreamBuilder ok;
    ok.pack().systemHeader({0xE0, 0xC0}).endCode();
    const QString odd = QString::fromStdString(dir.write("-odd.mpg", ok.bytes()));
    const QString saved = QDir::currentPath();
    QDir::setCurrent(QString::fromStdString(dir.path()));
    const QString named =
        startFile({QStringLiteral("mpgmend"), QStringLiteral("--"), QFileInfo(odd).fileName()});
    QCOMPARE(named, QStringLiteral("-odd.mpg"));
    openFromArguments(p.main, named);
    QDir::setCurrent(saved);
    QCOMPARE(p.status(), QStringLiteral("файл открыт, заголовок найден: MPEG-1"));
    QCOMPARE(test::readFile(odd.toStdString()), ok.bytes());
}

void StartArgumentsTest::noFileLeavesTheWindowAsItStarts() {
    Program p;
    const QString named = startFile({QStringLiteral("mpgmend")});
    QVERIFY(named.isEmpty());
    openFromArguments(p.main, named);
    QVERIFY(p.get<QLineEdit>("EditIN")->text().isEmpty());
    QVERIFY(p.status().isEmpty());
    QCOMPARE(p.state.view.fileHandle(), -1);
}

void StartArgumentsTest::aFileThatCannotOpenSaysWhy() {
    Program p;
    test::TempDir dir;
    const std::string missing = dir.file("missing.mpg");
    openFromArguments(p.main,
                      startFile({QStringLiteral("mpgmend"), QString::fromStdString(missing)}));
    QCOMPARE(p.status().toStdString(),
             "ошибка открытия файла: " + missing + ": No such file or directory");
    // A folder is no stream either.
    openFromArguments(p.main, QString::fromStdString(dir.path()));
    QCOMPARE(p.status().toStdString(),
             "ошибка открытия файла: " + dir.path() + ": это не обычный файл");
    QVERIFY(!p.main.jobRunning());
}

void StartArgumentsTest::helpAndVersionEndBeforeAnyWindow() {
    // Both programs name the project's version, the one the window's title shows.
    const QString version = QStringLiteral(MPGMEND_VERSION);
    QVERIFY(QRegularExpression(QStringLiteral("^\\d+\\.\\d+\\.\\d+$")).match(version).hasMatch());
    for (const QString& option : {QStringLiteral("--version"), QStringLiteral("-v")}) {
        const Run r = app({option});
        QCOMPARE(r.status, 0);
        QCOMPARE(r.out, QStringLiteral("mpgmend ") + version + QLatin1Char('\n'));
    }
    const Run cli = run(QStringLiteral(MPGMEND_CLI), {QStringLiteral("--version")});
    QCOMPARE(cli.status, 0);
    QCOMPARE(cli.out, QStringLiteral("mpgmend-cli ") + version + QLatin1Char('\n'));

    // --help wins over a file and opens nothing.
    const Run help = app({QStringLiteral("--help"), file(QStringLiteral("av.mpg"))});
    QCOMPARE(help.status, 0);
    QVERIFY2(help.out.contains(QStringLiteral("[FILE]")), qPrintable(help.out));
    QVERIFY(help.out.contains(QStringLiteral("--version")));
}

void StartArgumentsTest::wrongArgumentsAreAUsageError() {
    const QStringList cases[] = {
        {QStringLiteral("--no-such-option")},
        {file(QStringLiteral("av.mpg")), file(QStringLiteral("vcd.mpg"))},
    };
    for (const QStringList& arguments : cases) {
        const Run r = app(arguments);
        QCOMPARE(r.status, 2);
        QVERIFY(r.out.isEmpty());
        // Qt may warn on its own lines before ours.
        QVERIFY2(r.err.contains(QRegularExpression(QStringLiteral("(^|\n)mpgmend: .+\n$"))),
                 qPrintable(r.err));
    }
}

QTEST_MAIN(StartArgumentsTest)
#include "start_arguments_test.moc"
