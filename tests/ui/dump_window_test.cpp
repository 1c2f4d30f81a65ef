#include <QAction>
#include <QCheckBox>
#include <QPlainTextEdit>
#include <QRadioButton>
#include <QtTest>

#include "support/stream_builder.h"
#include "support/temp_dir.h"
#include "ui/program.h"

using namespace mpg;
using mpg::test::Program;

namespace {

// Scans the stream through the window and opens the dump of the list's
// current row, the stream's first broken block; the dump's lines.
QStringList scanAndDump(Program& p, const std::string& path) {
    p.setInput(path);
    p.get<QPushButton>("BitBtnGO")->click();
    if (!p.waitForJobEnd()) return {};
    p.main.findChild<QAction*>("MIdump")->trigger();
    if (!p.dump.isVisible()) return {};
    return p.dump.text().split('\n');
}

}  // namespace

class DumpWindowTest : public QObject {
    Q_OBJECT
  private slots:
    void startState();
    void dumpOfTheCurrentRow();
    void nothingWithoutABlockOrDuringAJob();
    void hugeBlockShowsItsEdges();
};

void DumpWindowTest::startState() {
    Program p;
    QCOMPARE(p.dump.windowTitle(), QStringLiteral("dump"));
    QCOMPARE(p.dump.size(), QSize(450, 256));
    QVERIFY(!p.dump.isVisible());
    QVERIFY(p.dump.findChild<QRadioButton*>("Radio16")->isChecked());
    auto* memo = p.dump.findChild<QPlainTextEdit*>("MemoH");
    QVERIFY(memo->isReadOnly());
    QCOMPARE(memo->lineWrapMode(), QPlainTextEdit::NoWrap);
    QCOMPARE(memo->palette().color(QPalette::Base), QColor(112, 112, 144));
    QCOMPARE(memo->palette().color(QPalette::Text), QColor(160, 255, 255));
    QVERIFY(QFontInfo(memo->font()).fixedPitch());
    p.dump.show();
    p.dump.resize(600, 400);
    QCOMPARE(memo->geometry(), QRect(0, 24, 600, 376));
}

void DumpWindowTest::dumpOfTheCurrentRow() {
    Program p;
    test::TempDir dir;
    const test::StreamBuilder b = test::damagedStream();
    const QStringList lines = scanAndDump(p, dir.write("d.mpg", b.bytes()));
    QCOMPARE(lines.size(), (2006 + 300 + 15) / 16);  // the real size, not the declared one
    QCOMPARE(lines[0].left(9),
             QStringLiteral("%1 ").arg(b.blocks()[6].offset, 8, 16, QLatin1Char('0')).toUpper());
    QVERIFY(lines[10].contains(
        QStringLiteral("00 00 00 00 | 00 00 00 00 | 00 00 00 00 | 00 00 00 00")));

    // Another width re-formats the same bytes; closing only hides the window.
    p.dump.findChild<QRadioButton*>("Radio32")->click();
    QCOMPARE(p.dump.text().split('\n').size(), (2306 + 31) / 32);
    p.dump.close();
    QVERIFY(!p.dump.isVisible());
    p.main.findChild<QAction*>("MIdump")->trigger();
    QVERIFY(p.dump.isVisible());
    QCOMPARE(p.dump.bytesPerLine(), 32);
}

void DumpWindowTest::nothingWithoutABlockOrDuringAJob() {
    Program p;
    test::TempDir dir;
    p.main.findChild<QAction*>("MIdump")->trigger();  // only the empty row
    QVERIFY(!p.dump.isVisible());
    p.setInput(dir.write("d.mpg", test::damagedStream().bytes()));
    p.get<QPushButton>("BitBtnGO")->click();
    QVERIFY(p.waitForJobEnd());
    p.get<QCheckBox>("CheckHP")->setChecked(false);
    p.answer(false);
    p.get<QPushButton>("BitBtnGO")->click();
    QTRY_VERIFY(!p.main.grid().cell(1, 0).empty());
    p.main.findChild<QAction*>("MIdump")->trigger();
    QVERIFY(!p.dump.isVisible());
    p.get<QCheckBox>("CheckHP")->setChecked(true);
    QVERIFY(p.waitForJobEnd());
    p.setInput(dir.file("missing.mpg"));  // the input cannot be opened
    p.main.findChild<QAction*>("MIdump")->trigger();
    QVERIFY(!p.dump.isVisible());
}

// A block of hundreds of megabytes would take minutes and gigabytes as text:
// its first and last 64 KiB are shown, with the gap line between.
void DumpWindowTest::hugeBlockShowsItsEdges() {
    Program p;
    test::TempDir dir;
    test::StreamBuilder b = test::typicalStream(6);
    b.insert(b.blocks()[6].offset + 100, 5'000'000, 0x00);
    const QStringList lines = scanAndDump(p, dir.write("d.mpg", b.bytes()));
    QCOMPARE(lines.size(), 2 * 65536 / 16 + 1);
    QCOMPARE(lines[4096], QStringLiteral("-------- пропущено 4'870'934 байт"));
    const uint32_t tailAt = static_cast<uint32_t>(b.blocks()[6].offset + 2006 + 5'000'000 - 65536);
    QCOMPARE(lines[4097].left(9),
             QStringLiteral("%1 ").arg(tailAt, 8, 16, QLatin1Char('0')).toUpper());
    p.dump.findChild<QRadioButton*>("Radio32")->click();
    QCOMPARE(p.dump.text().split('\n').size(), 2 * 65536 / 32 + 1);
}

QTEST_MAIN(DumpWindowTest)
#include "dump_window_test.moc"
