// The window program as a test drives it: the main window with its dialog
// and dump window, as start-up creates them, and helpers to answer questions
// and wait for jobs.
#pragma once

#include <QApplication>
#include <QElapsedTimer>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMessageBox>
#include <QPushButton>
#include <QTimer>
#include <QtTest>
#include <memory>

#include "support/stream_builder.h"
#include "ui/form_du.h"
#include "ui/form_yes_no.h"
#include "ui/main_window.h"

namespace mpg::test {

// A stream whose video packet, block 6, carries 300 inserted zero bytes.
inline StreamBuilder damagedStream() {
    StreamBuilder b = typicalStream(6);
    b.insert(b.blocks()[6].offset + 100, 300, 0x00);
    return b;
}

// A stream of `broken` video packets, each with a stray byte behind it:
// that many broken blocks, the first at index 2.
inline StreamBuilder strayByteStream(int broken) {
    StreamBuilder b;
    b.pack().systemHeader({0xE0});
    for (int i = 0; i < broken; ++i) b.packet(0xE0, 20).raw({0x55});
    b.endCode();
    return b;
}

// The main window with its dialog, as the program creates them.
struct Program {
    using TFormMain = ui::TFormMain;
    using TFormYesNo = ui::TFormYesNo;
    using TFormDU = ui::TFormDU;
    AppState state;
    TFormMain main{state};
    TFormYesNo yesNo;
    TFormDU dump;
    Program() {
        main.setForms(&yesNo, &dump);
        main.show();
        QVERIFY(QTest::qWaitForWindowExposed(&main));
    }
    template <class W>
    W* get(const char* name) {
        W* w = main.findChild<W*>(QString::fromLatin1(name));
        if (w == nullptr) qFatal("no control %s", name);
        return w;
    }
    QString status() { return get<QLabel>("LabelST")->text(); }
    void setInput(const std::string& path) {
        get<QLineEdit>("EditIN")->setText(QString::fromStdString(path));
    }
    // Answers the next question of the confirmation dialog with its first
    // (yes) or second button, once it shows; records its button captions.
    void answer(bool yes, int afterMs = 0) {
        auto* timer = new QTimer(&main);
        auto since = std::make_shared<QElapsedTimer>();
        since->start();
        QObject::connect(timer, &QTimer::timeout, [this, timer, since, yes, afterMs] {
            if (!yesNo.isVisible() || since->elapsed() < afterMs) return;
            captions = yesNo.findChild<QPushButton*>("BitBtnDa")->text() + "/" +
                       yesNo.findChild<QPushButton*>("BitBtnNet")->text();
            yesNo.findChild<QPushButton*>(yes ? "BitBtnDa" : "BitBtnNet")->click();
            timer->deleteLater();
        });
        timer->start(5);
    }
    // Answers the next three-way question of the joining page's check with
    // the button of that object name, once it shows; records its text.
    void choose(const char* button) {
        auto* timer = new QTimer(&main);
        QObject::connect(timer, &QTimer::timeout, [this, timer, button] {
            auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
            if (box == nullptr || box->objectName() != QStringLiteral("FormPreCheck")) return;
            question = box->text();
            box->findChild<QPushButton*>(QString::fromLatin1(button))->click();
            timer->deleteLater();
        });
        timer->start(5);
    }
    bool waitForJobEnd(int ms = 20000) {
        QElapsedTimer t;
        t.start();
        while (main.jobRunning() && t.elapsed() < ms) QTest::qWait(5);
        return !main.jobRunning();
    }
    QString captions;
    QString question;
};

// The texts of a list's entries, in order.
inline QStringList entries(QListWidget* list) {
    QStringList out;
    for (int i = 0; i < list->count(); ++i) out << list->item(i)->text();
    return out;
}

}  // namespace mpg::test
