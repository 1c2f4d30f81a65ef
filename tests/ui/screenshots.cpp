// Takes pictures of the windows as a user sees them: run under a real X
// server (Xvfb) by scripts/screenshots.sh. The repair page shows the list of
// a scanned fixture; the dialog is captured while it asks its question.
#include <QApplication>
#include <QLineEdit>
#include <QPushButton>
#include <QTabWidget>
#include <QTimer>
#include <QtTest>

#include "ui/form_du.h"
#include "ui/form_yes_no.h"
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

bool save(QWidget* w, const QString& path) {
    settle();
    const bool ok = w->grab().save(path);
    std::printf("%s %s\n", ok ? "wrote" : "FAILED", qPrintable(path));
    return ok;
}

}  // namespace

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    QApplication::setFont(windowFont());
    if (argc < 3) {
        std::fprintf(stderr, "usage: screenshots OUT_DIR STREAM\n");
        return 2;
    }
    const QString out = QString::fromLocal8Bit(argv[1]);
    mpg::AppState state;
    TFormMain main(state);
    TFormYesNo yesNo;
    TFormDU dump;
    main.setForms(&yesNo, &dump);
    main.show();
    settle();

    main.findChild<QLineEdit*>("EditIN")->setText(QString::fromLocal8Bit(argv[2]));
    main.findChild<QPushButton*>("BitBtnOP")->click();
    main.findChild<QPushButton*>("BitBtnGO")->click();
    while (main.jobRunning()) QTest::qWait(10);

    bool ok = true;
    auto* pages = main.findChild<QTabWidget*>("PageControl1");
    const char* names[] = {"repair", "join", "settings"};
    for (int i = 0; i < pages->count(); ++i) {
        pages->setCurrentIndex(i);
        ok &= save(&main, out + "/" + names[i] + ".png");
    }
    pages->setCurrentIndex(0);

    // The continue question, captured while it is open, then answered "сначала".
    QTimer::singleShot(300, [&] {
        ok &= save(&yesNo, out + "/question.png");
        yesNo.findChild<QPushButton*>("BitBtnNet")->click();
    });
    main.findChild<QPushButton*>("BitBtnGO")->click();
    while (main.jobRunning()) QTest::qWait(10);
    return ok ? 0 : 1;
}
