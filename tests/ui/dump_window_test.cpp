#include <unistd.h>

#include <QAction>
#include <QCheckBox>
#include <QPlainTextEdit>
#include <QRadioButton>
#include <QTableView>
#include <QTextBlock>
#include <QTextCursor>
#include <QtTest>

#include "analysis/error_list.h"
#include "support/stream_builder.h"
#include "support/temp_dir.h"
#include "text/translate.h"
#include "ui/program.h"
#include "ui/widgets.h"

using namespace mpg;
using mpg::test::Program;
using mpg::ui::TFormDU;

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
    void titleWidthAndMarks();
    void titleNamesThePlaceInTheInput();
    void escapeCloses();
    void goToAPosition();
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
    const std::string input = dir.write("d.mpg", test::damagedStream().bytes());
    p.setInput(input);
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
    // The dump reads the file the list was made of: gone, it shows nothing,
    // whatever the input field names now.
    QCOMPARE(::unlink(input.c_str()), 0);
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

namespace {

// The background a byte of the block shows with, in its hex digits and in
// its character; both must agree.
QColor backgroundOf(Program& p, Position at) {
    auto* memo = p.dump.findChild<QPlainTextEdit*>("MemoH");
    BlockDump d;
    d.length = 2306;
    d.head.resize(2306);
    const DumpCell cell = dumpCellOf(d, p.dump.bytesPerLine(), at);
    const QTextBlock line = memo->document()->findBlockByNumber(int(cell.line));
    const auto colourAt = [&](size_t column) {
        QTextCursor c(line);
        c.setPosition(line.position() + int(column) + 1);  // the format left of the cursor
        return c.charFormat().background().color();
    };
    const QColor hex = colourAt(cell.hexColumn), character = colourAt(cell.charColumn);
    return hex == character ? hex : QColor(1, 2, 3);
}

}  // namespace

// After a repair has cut a run out before a block still listed, the title
// names where that block stands in the input, as the list does.
void DumpWindowTest::titleNamesThePlaceInTheInput() {
    Program p;
    test::TempDir dir;
    test::StreamBuilder b = test::typicalStream(6);
    const size_t block = 15;
    b.insert(b.blocks()[block].offset + 100, 200, 0x55);  // no zeros: stays listed
    b.insert(b.blocks()[6].offset + 100, 300, 0x00);      // cut by the first strategy
    const std::string input = dir.write("d.mpg", b.bytes());
    QVERIFY(!scanAndDump(p, input).isEmpty());
    p.get<ui::TImage>("ImageHAMMER")->clicked();
    QVERIFY(p.waitForJobEnd());
    QVERIFY(!p.state.view.cuts().empty());
    p.get<QTableView>("StringER")->selectRow(0);
    p.main.findChild<QAction*>("MIdump")->trigger();
    const QString at = QString::fromStdString(countText(b.blocks()[block].offset + 300));
    QVERIFY2(p.dump.windowTitle().endsWith(QStringLiteral("позиция ") + at),
             qPrintable(p.dump.windowTitle()));
    QCOMPARE(p.get<QTableView>("StringER")->model()->index(0, kOffsetColumn).data().toString(), at);
}

// The title names the block; the window opens wide enough for a whole line;
// the run (300 zeros from byte 100) and the 300 bytes past the declared
// size have their backgrounds, which the legend shows and names.
void DumpWindowTest::titleWidthAndMarks() {
    Program p;
    test::TempDir dir;
    const test::StreamBuilder b = test::damagedStream();
    const std::string input = dir.write("d.mpg", b.bytes());
    const QStringList lines = scanAndDump(p, input);
    QVERIFY(!lines.isEmpty());
    QCOMPARE(p.dump.windowTitle(),
             QStringLiteral("блок 6, E0, позиция %1")
                 .arg(QString::fromStdString(countText(b.blocks()[6].offset))));
    auto* memo = p.dump.findChild<QPlainTextEdit*>("MemoH");
    QVERIFY(memo->viewport()->width() >= memo->fontMetrics().horizontalAdvance(lines[0]));
    QVERIFY(p.dump.width() <= p.dump.screen()->availableGeometry().width());

    const QColor plain = backgroundOf(p, 50);
    QVERIFY(plain != TFormDU::kRunBackground && plain != TFormDU::kPastDeclaredBackground);
    QCOMPARE(backgroundOf(p, 99), plain);
    QCOMPARE(backgroundOf(p, 100), TFormDU::kRunBackground);
    QCOMPARE(backgroundOf(p, 399), TFormDU::kRunBackground);
    QVERIFY(backgroundOf(p, 400) != TFormDU::kRunBackground);
    QCOMPARE(backgroundOf(p, 2005), plain);
    QCOMPARE(backgroundOf(p, 2006), TFormDU::kPastDeclaredBackground);
    QCOMPARE(backgroundOf(p, 2305), TFormDU::kPastDeclaredBackground);
    // The marks follow another width.
    p.dump.findChild<QRadioButton*>("Radio24")->click();
    QCOMPARE(backgroundOf(p, 100), TFormDU::kRunBackground);
    QCOMPARE(backgroundOf(p, 2006), TFormDU::kPastDeclaredBackground);
    auto* run = p.dump.findChild<QLabel*>("LabelRUN");
    auto* past = p.dump.findChild<QLabel*>("LabelPAST");
    QCOMPARE(run->palette().color(QPalette::Window), TFormDU::kRunBackground);
    QCOMPARE(past->palette().color(QPalette::Window), TFormDU::kPastDeclaredBackground);
    QVERIFY(!run->toolTip().isEmpty() && !past->toolTip().isEmpty());
    QVERIFY(test::readFile(input) == b.bytes());
}

void DumpWindowTest::escapeCloses() {
    Program p;
    test::TempDir dir;
    QVERIFY(!scanAndDump(p, dir.write("d.mpg", test::damagedStream().bytes())).isEmpty());
    QTest::keyClick(p.dump.findChild<QPlainTextEdit*>("MemoH"), Qt::Key_Escape);
    QVERIFY(!p.dump.isVisible());
    p.main.findChild<QAction*>("MIdump")->trigger();
    QTest::keyClick(p.dump.findChild<QLineEdit*>("EditGO"), Qt::Key_Escape);
    QVERIFY(!p.dump.isVisible());
}

// A stream position, in decimal (digit groups allowed) or in hex with 0x,
// scrolls to its line and selects its byte; one outside the block is
// refused with a message, and so is what is no number; one in the middle
// a long block's dump leaves out goes to the gap line and says so.
void DumpWindowTest::goToAPosition() {
    Program p;
    test::TempDir dir;
    const test::StreamBuilder b = test::damagedStream();
    QVERIFY(!scanAndDump(p, dir.write("d.mpg", b.bytes())).isEmpty());
    auto* memo = p.dump.findChild<QPlainTextEdit*>("MemoH");
    auto* edit = p.dump.findChild<QLineEdit*>("EditGO");
    auto* message = p.dump.findChild<QLabel*>("LabelGO");
    QVERIFY(!edit->placeholderText().isEmpty());
    const Position at = b.blocks()[6].offset;
    const auto byteAt = [&](Position pos) {
        return QStringLiteral("%1").arg(b.bytes()[pos], 2, 16, QLatin1Char('0')).toUpper();
    };

    edit->setText(QString::fromStdString(countText(at + 1000)));
    QTest::keyClick(edit, Qt::Key_Return);
    QCOMPARE(memo->textCursor().blockNumber(), 1000 / 16);
    QCOMPARE(memo->textCursor().selectedText(), byteAt(at + 1000));
    QVERIFY(message->text().isEmpty());
    QVERIFY(p.dump.goToOffset(QStringLiteral("0x%1").arg(at + 2305, 0, 16)));
    QCOMPARE(memo->textCursor().blockNumber(), 2305 / 16);
    QCOMPARE(memo->textCursor().selectedText(), byteAt(at + 2305));

    for (const Position outside : {at - 1, at + 2306}) {
        QVERIFY(!p.dump.goToOffset(QString::number(outside)));
        QCOMPARE(message->text(), QStringLiteral("вне блока: %1 – %2")
                                      .arg(QString::fromStdString(countText(at)),
                                           QString::fromStdString(countText(at + 2305))));
        QCOMPARE(memo->textCursor().blockNumber(), 2305 / 16);  // stays where it was
    }
    QVERIFY(!p.dump.goToOffset(QStringLiteral("abc")));
    QVERIFY(!message->text().isEmpty());

    test::StreamBuilder huge = test::typicalStream(6);
    huge.insert(huge.blocks()[6].offset + 100, 5'000'000, 0x00);
    Program q;
    QVERIFY(!scanAndDump(q, dir.write("h.mpg", huge.bytes())).isEmpty());
    QVERIFY(q.dump.goToOffset(QString::number(at + 1'000'000)));
    auto* hugeMemo = q.dump.findChild<QPlainTextEdit*>("MemoH");
    QCOMPARE(hugeMemo->textCursor().block().text(),
             QStringLiteral("-------- пропущено 4'870'934 байт"));
    QVERIFY(!q.dump.findChild<QLabel*>("LabelGO")->text().isEmpty());
}

QTEST_MAIN(DumpWindowTest)
#include "dump_window_test.moc"
