// The error list as a user works with it: sorted by a column, filtered,
// walked from broken block to broken block, its numbers readable at any
// size. Whatever acts on a row must reach the block the row shows.
#include <QAction>
#include <QHeaderView>
#include <QRadioButton>
#include <QTableView>
#include <QtTest>

#include "support/temp_dir.h"
#include "ui/error_table.h"
#include "ui/program.h"
#include "ui/widgets.h"

using namespace mpg;
using namespace mpg::ui;
using mpg::test::Program;

namespace {

// Four broken blocks whose deltas differ in their number of digits (text
// order would differ from number order), three of the video stream and one
// of the audio stream, with runs of different bytes.
struct Damaged {
    size_t block;
    size_t count;
    uint8_t value;
};
constexpr Damaged kDamage[] = {{6, 7, 0x00}, {16, 300, 0x55}, {24, 1200, 0x00}, {33, 40, 0xFF}};

test::StreamBuilder fourBrokenBlocks() {
    test::StreamBuilder b = test::typicalStream(12);
    // From the back, so that the earlier places stay where they were.
    for (auto d = std::rbegin(kDamage); d != std::rend(kDamage); ++d)
        b.insert(b.blocks()[d->block].offset + 100, d->count, d->value);
    return b;
}

QTableView* list(Program& p) {
    return p.get<QTableView>("StringER");
}

QString cell(Program& p, int row, int column) {
    return list(p)->model()->index(row, column).data().toString();
}

// The table indexes of the rows, in the order shown.
QList<int> shownIndexes(Program& p) {
    QList<int> indexes;
    for (int r = 0; r < list(p)->model()->rowCount(); ++r)
        indexes << cell(p, r, 1).remove(QLatin1Char('\'')).toInt();
    return indexes;
}

QList<qlonglong> shownNumbers(Program& p, int column) {
    QList<qlonglong> numbers;
    for (int r = 0; r < list(p)->model()->rowCount(); ++r)
        numbers << cell(p, r, column).remove(QLatin1Char('\'')).toLongLong();
    return numbers;
}

void clickHeader(Program& p, int column) {
    QHeaderView* header = list(p)->horizontalHeader();
    QTest::mouseClick(
        header->viewport(), Qt::LeftButton, {},
        QPoint(header->sectionViewportPosition(column) + header->sectionSize(column) / 2, 5));
}

// One click on the title, or two: the list sorted by the column in `order`.
void sortBy(Program& p, int column, Qt::SortOrder order) {
    clickHeader(p, column);
    if (list(p)->horizontalHeader()->sortIndicatorOrder() != order) clickHeader(p, column);
}

void selectRow(Program& p, int row) {
    list(p)->selectionModel()->setCurrentIndex(
        list(p)->model()->index(row, 0),
        QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows);
}

int currentRow(Program& p) {
    return list(p)->selectionModel()->currentIndex().row();
}

bool scan(Program& p, const std::string& path) {
    p.setInput(path);
    p.get<QPushButton>("BitBtnGO")->click();
    return p.waitForJobEnd();
}

}  // namespace

class ListWindowTest : public QObject {
    Q_OBJECT
  private slots:
    void sortedRowsReachTheirBlocks();
    void filterShowsAPartAndTheHammerTakesAll();
    void nextAndPreviousBrokenByKey();
    void bigNumbersStayReadable();
    void columnWidthRule();
};

// A click on a title sorts by its numbers, a second reverses them; the dump
// and the double click take the block of the row selected in that order.
void ListWindowTest::sortedRowsReachTheirBlocks() {
    Program p;
    test::TempDir dir;
    const test::StreamBuilder b = fourBrokenBlocks();
    const std::string input = dir.write("d.mpg", b.bytes());
    QVERIFY(scan(p, input));
    QCOMPARE(shownIndexes(p), (QList<int>{6, 16, 24, 33}));  // the scan's order until a click

    sortBy(p, kOffsetColumn, Qt::DescendingOrder);
    QCOMPARE(list(p)->horizontalHeader()->sortIndicatorSection(), kOffsetColumn);
    QCOMPARE(shownIndexes(p), (QList<int>{33, 24, 16, 6}));
    sortBy(p, 6, Qt::AscendingOrder);  // the delta: 7, 40, 300, 1'200 as numbers
    QCOMPARE(shownNumbers(p, 6), (QList<qlonglong>{7, 40, 300, 1200}));
    QCOMPARE(shownIndexes(p), (QList<int>{6, 33, 16, 24}));

    // The dump of the second row shown is block 33's.
    selectRow(p, 1);
    p.main.findChild<QAction*>("MIdump")->trigger();
    QVERIFY(p.dump.isVisible());
    QVERIFY2(p.dump.windowTitle().startsWith(QStringLiteral("блок 33, E0, позиция ")),
             qPrintable(p.dump.windowTitle()));
    // The builder's places are those before the insertions.
    const size_t at33 = b.blocks()[33].offset + 7 + 300 + 1200;
    QCOMPARE(p.dump.text().left(8),
             QStringLiteral("%1").arg(at33, 8, 16, QLatin1Char('0')).toUpper());
    p.dump.close();

    // A double click on the third row shows block 16's bytes.
    const QRect third = list(p)->visualRect(list(p)->model()->index(2, 2));
    // As a mouse makes it: a click, then the double click's event.
    QTest::mouseClick(list(p)->viewport(), Qt::LeftButton, {}, third.center());
    QTest::mouseDClick(list(p)->viewport(), Qt::LeftButton, {}, third.center());
    QVERIFY(p.dump.isVisible());
    QVERIFY2(p.dump.windowTitle().startsWith(QStringLiteral("блок 16, C0, ")),
             qPrintable(p.dump.windowTitle()));
    QVERIFY(test::readFile(input) == b.bytes());
}

// The filter shows a part of the rows and the count line says how many; a
// word not understood shows all and names the word. The hammer repairs
// every listed block, hidden or not, and the count follows the list through
// the repair and an index load.
void ListWindowTest::filterShowsAPartAndTheHammerTakesAll() {
    Program p;
    test::TempDir dir;
    const test::StreamBuilder b = fourBrokenBlocks();
    const std::string input = dir.write("d.mpg", b.bytes());
    auto* filter = p.get<QLineEdit>("EditFILTER");
    auto* count = p.get<QLabel>("LabelSHOWN");
    QVERIFY(!filter->placeholderText().isEmpty());
    QVERIFY(filter->toolTip().contains(QStringLiteral("молоток")));
    QCOMPARE(count->text(), QStringLiteral("показано 0 из 0"));
    QVERIFY(scan(p, input));
    QCOMPARE(count->text(), QStringLiteral("показано 4 из 4"));

    filter->setText(QStringLiteral("E0"));
    QCOMPARE(shownIndexes(p), (QList<int>{6, 24, 33}));
    QCOMPARE(count->text(), QStringLiteral("показано 3 из 4"));
    filter->setText(QStringLiteral("d>=300"));
    QCOMPARE(shownIndexes(p), (QList<int>{16, 24}));
    filter->setText(QStringLiteral("e0 d>=40"));
    QCOMPARE(shownIndexes(p), (QList<int>{24, 33}));
    filter->setText(QStringLiteral("r=55"));
    QCOMPARE(shownIndexes(p), (QList<int>{16}));
    filter->setText(QStringLiteral("E0 zz"));
    QCOMPARE(shownIndexes(p), (QList<int>{6, 16, 24, 33}));
    QCOMPARE(count->text(), QStringLiteral("непонятное слово «zz»; показано 4 из 4"));
    filter->setText(QStringLiteral("d>=300"));
    QCOMPARE(count->text(), QStringLiteral("показано 2 из 4"));

    // The index of the findings is kept for later; the hammer accepts the
    // real sizes of all four blocks, not the two shown.
    p.main.findChild<QAction*>("MIsoer")->trigger();
    p.get<QRadioButton>("RadioISALL")->setChecked(true);
    p.get<TImage>("ImageHAMMER")->clicked();
    QVERIFY(p.waitForJobEnd());
    for (const Damaged& d : kDamage) QCOMPARE(p.state.table[d.block].broken, kBrokenAccepted);
    QCOMPARE(count->text(), QStringLiteral("показано 0 из 0"));
    p.main.findChild<QAction*>("MIzaer")->trigger();
    QCOMPARE(count->text(), QStringLiteral("показано 2 из 4"));
    QCOMPARE(shownIndexes(p), (QList<int>{16, 24}));
    filter->clear();
    QCOMPARE(count->text(), QStringLiteral("показано 4 из 4"));
    QVERIFY(test::readFile(input) == b.bytes());
}

// F8 and Shift+F8 move to the next and previous row still listed broken, in
// the order shown, and stop at the ends; after an automatic repair they pass
// over the rows it made sound.
void ListWindowTest::nextAndPreviousBrokenByKey() {
    Program p;
    test::TempDir dir;
    const test::StreamBuilder b = fourBrokenBlocks();
    const std::string input = dir.write("d.mpg", b.bytes());
    QVERIFY(scan(p, input));
    p.main.activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(&p.main));
    auto* next = p.main.findChild<QAction*>("MInext");
    QCOMPARE(next->shortcut(), QKeySequence(Qt::Key_F8));
    QCOMPARE(p.main.findChild<QAction*>("MIprev")->shortcut(),
             QKeySequence(Qt::SHIFT | Qt::Key_F8));

    sortBy(p, kOffsetColumn, Qt::DescendingOrder);
    QCOMPARE(shownIndexes(p), (QList<int>{33, 24, 16, 6}));
    list(p)->setFocus();
    selectRow(p, 0);
    QTest::keyClick(list(p), Qt::Key_F8);
    QCOMPARE(currentRow(p), 1);
    QTest::keyClick(list(p), Qt::Key_F8);
    QTest::keyClick(list(p), Qt::Key_F8);
    QCOMPARE(currentRow(p), 3);
    QTest::keyClick(list(p), Qt::Key_F8);  // the last stays
    QCOMPARE(currentRow(p), 3);
    QTest::keyClick(list(p), Qt::Key_F8, Qt::ShiftModifier);
    QCOMPARE(currentRow(p), 2);
    // Only the selection moves.
    QVERIFY(list(p)->selectionModel()->isRowSelected(2, {}));
    QCOMPARE(list(p)->selectionModel()->selectedRows().size(), 1);

    // After an automatic repair the list also holds the blocks it made
    // sound: block 24 here, as the repair leaves a block it resolved.
    p.get<QRadioButton>("RadioAUTO")->setChecked(true);
    p.get<TImage>("ImageHAMMER")->clicked();
    QVERIFY(p.waitForJobEnd());
    p.state.table[24].broken = kSound;
    p.get<TImage>("ImageHAMMER")->clicked();
    QVERIFY(p.waitForJobEnd());
    QCOMPARE(shownIndexes(p), (QList<int>{33, 24, 16, 6}));
    QList<int> visited;
    selectRow(p, 0);
    for (int i = 0; i < 4; ++i) {
        QTest::keyClick(list(p), Qt::Key_F8);
        visited << shownIndexes(p)[currentRow(p)];
    }
    QCOMPARE(visited, (QList<int>{16, 6, 6, 6}));
    QTest::keyClick(list(p), Qt::Key_F8, Qt::ShiftModifier);
    QTest::keyClick(list(p), Qt::Key_F8, Qt::ShiftModifier);
    QCOMPARE(currentRow(p), 0);  // block 33
    QVERIFY(test::readFile(input) == b.bytes());
}

// Row numbers and indexes of thousands outgrow the columns' first widths:
// the columns widen until the largest shows whole.
void ListWindowTest::bigNumbersStayReadable() {
    constexpr int kBroken = 1500;
    Program p;
    test::TempDir dir;
    QVERIFY(scan(p, dir.write("many.mpg", test::strayByteStream(kBroken).bytes())));
    QCOMPARE(list(p)->model()->rowCount(), kBroken);
    const QFontMetrics metrics = list(p)->fontMetrics();
    for (int column : {0, 1, kOffsetColumn}) {
        const QString largest = cell(p, kBroken - 1, column);
        QVERIFY2(largest.contains(QLatin1Char('\'')), qPrintable(largest));
        // The cell's text starts 2 pixels in.
        QVERIFY2(list(p)->columnWidth(column) >= metrics.horizontalAdvance(largest) + 2,
                 qPrintable(largest));
    }
    QCOMPARE(cell(p, kBroken - 1, 0), QStringLiteral("1'500"));
    // A list that shrinks gives the room back.
    p.setInput(dir.write("d.mpg", fourBrokenBlocks().bytes()));
    p.get<QPushButton>("BitBtnOP")->click();  // a new table: no question
    QVERIFY(scan(p, dir.file("d.mpg")));
    QCOMPARE(list(p)->columnWidth(0), kInitialColumnWidths[0]);
}

void ListWindowTest::columnWidthRule() {
    const ColumnWidths w = columnWidthsFor(597, kInitialColumnWidths);
    QVERIFY(w == (ColumnWidths{31, 47, 84, 87, 87, 87, 87, 79}));
    const ColumnWidths narrow = columnWidthsFor(150, kInitialColumnWidths);
    QCOMPARE(narrow[3], -2);  // (150 - 162) / 5, truncated toward zero
    QCOMPARE(narrow[7], 150 - (162 - 8) - 8);
}

QTEST_MAIN(ListWindowTest)
#include "list_window_test.moc"
