// Takes pictures of the windows as a user sees them: run under a real X
// server (Xvfb) by scripts/screenshots.sh. The repair page shows the list of
// a scanned fixture; the dialog is captured while it asks its question.
#include <unistd.h>

#include <QAction>
#include <QApplication>
#include <QDir>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QScrollBar>
#include <QTabWidget>
#include <QTableView>
#include <QTimer>
#include <QtTest>

#include "ui/form_du.h"
#include "ui/form_yes_no.h"
#include "ui/language.h"
#include "ui/main_window.h"
#include "ui/widgets.h"

using namespace mpg::ui;

namespace {

void settle() {
    for (int i = 0; i < 20; ++i) {
        QCoreApplication::processEvents();
        QTest::qWait(10);
    }
}

bool save(QWidget* w, const QString& path, bool wait = true) {
    if (wait) settle();
    const bool ok = w->grab().save(path);
    std::printf("%s %s\n", ok ? "wrote" : "FAILED", qPrintable(path));
    return ok;
}

// The windows as the program creates them, shown after a scan of `stream`.
struct ScannedWindows {
    mpg::AppState state;
    TFormMain main{state};
    TFormYesNo yesNo;
    TFormDU dump;

    explicit ScannedWindows(const QString& stream) {
        main.setForms(&yesNo, &dump);
        main.show();
        settle();
        main.findChild<QLineEdit*>("EditIN")->setText(stream);
        main.findChild<QPushButton*>("BitBtnOP")->click();
        main.findChild<QPushButton*>("BitBtnGO")->click();
        while (main.jobRunning()) QTest::qWait(10);
    }
};

// The window after a scan of `stream`: its three pages and the dump of the
// second listed block scrolled to its end. Each picture's name ends in
// `suffix`.
bool shootPages(const QString& out, const QString& stream, const QString& suffix) {
    ScannedWindows w(stream);
    TFormMain& main = w.main;
    TFormDU& dump = w.dump;

    bool ok = true;
    auto* pages = main.findChild<QTabWidget*>("PageControl1");
    const char* names[] = {"repair", "join", "settings"};
    for (int i = 0; i < pages->count(); ++i) {
        pages->setCurrentIndex(i);
        ok &= save(&main, out + "/" + names[i] + suffix + ".png");
    }
    pages->setCurrentIndex(0);

    auto* grid = main.findChild<QTableView*>("StringER");
    grid->selectionModel()->setCurrentIndex(
        grid->model()->index(1, 0),
        QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows);
    main.findChild<QAction*>("MIdump")->trigger();
    auto* memo = dump.findChild<QPlainTextEdit*>("MemoH");
    memo->verticalScrollBar()->setValue(memo->verticalScrollBar()->maximum());
    ok &= save(&dump, out + "/dump" + suffix + ".png");
    dump.hide();
    return ok;
}

}  // namespace

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    QApplication::setFont(windowFont());
    if (argc < 3) {
        std::fprintf(stderr, "usage: screenshots OUT_DIR STREAM [PIECE LARGE_PIECE]\n");
        return 2;
    }
    const QString out = QString::fromLocal8Bit(argv[1]);
    const QString stream = QString::fromLocal8Bit(argv[2]);
    // The pages in Russian, the programs' own language, and in English.
    useLanguage(mpg::Language::English);
    bool ok = shootPages(out, stream, QStringLiteral("-en"));
    useLanguage(mpg::Language::Russian);
    ok &= shootPages(out, stream, QString());

    ScannedWindows w(stream);
    TFormMain& main = w.main;
    TFormYesNo& yesNo = w.yesNo;
    auto* pages = main.findChild<QTabWidget*>("PageControl1");

    // The joining page while a join runs, caught at its first progress
    // report: the second piece is a large synthetic stream.
    if (argc > 4) {
        const QString joined =
            QDir::temp().filePath(QStringLiteral("mpgmend-shot-%1.mpg").arg(::getpid()));
        pages->setCurrentIndex(1);
        auto* list = main.findChild<QListWidget*>("JList");
        list->addItems({QString::fromLocal8Bit(argv[3]), QString::fromLocal8Bit(argv[4])});
        list->item(1)->setSelected(true);
        main.findChild<QLineEdit*>("EditSUM")->setText(joined);
        auto* message = main.findChild<QLabel*>("LabelME");
        main.findChild<QPushButton*>("BitBtnSUM")->click();
        while (main.jobRunning() && !message->text().contains(QStringLiteral("2  >>  2"))) {
            QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
        }
        ok &= save(&main, out + "/join-running.png", false);
        while (main.jobRunning()) QTest::qWait(10);
        ::unlink(joined.toLocal8Bit().constData());
        pages->setCurrentIndex(0);
    }

    // The continue question, captured while it is open, then answered "сначала".
    QTimer::singleShot(300, [&] {
        ok &= save(&yesNo, out + "/question.png");
        yesNo.findChild<QPushButton*>("BitBtnNet")->click();
    });
    main.findChild<QPushButton*>("BitBtnGO")->click();
    while (main.jobRunning()) QTest::qWait(10);
    return ok ? 0 : 1;
}
