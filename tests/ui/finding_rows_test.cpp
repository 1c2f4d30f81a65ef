// The rows of findings in the error list: their kind column and its
// tooltip, the kind words of the filter, and the hammer, which takes the
// blocks' rows alone.
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QRadioButton>
#include <QTableView>
#include <QtTest>

#include "repair/index_file.h"
#include "support/temp_dir.h"
#include "ui/error_table.h"
#include "ui/program.h"
#include "ui/widgets.h"

using namespace mpg;
using namespace mpg::ui;
using mpg::test::Program;

namespace {

QString cell(QTableView* list, int row, int column, int role = Qt::DisplayRole) {
    return list->model()->index(row, column).data(role).toString();
}

Finding finding(Position begin, FindingKind kind, FindingCause cause, uint8_t stream) {
    return {begin, begin + 100, 90000, 90000, 2, kind, cause, stream, 0};
}

}  // namespace

class FindingRowsTest : public QObject {
    Q_OBJECT
  private slots:
    void loadedFindingsShowTheirKind();
    void aHundredThousandRowsFilterAndSort();
};

void FindingRowsTest::loadedFindingsShowTheirKind() {
    Program p;
    test::TempDir dir;
    const test::StreamBuilder b = test::damagedStream();
    const std::string input = dir.write("d.mpg", b.bytes());
    p.setInput(input);
    p.get<QPushButton>("BitBtnGO")->click();
    QVERIFY(p.waitForJobEnd());
    const std::vector<Finding> findings = {
        finding(5000, FindingKind::Gap, FindingCause::ScrAhead, 0),
        finding(2000, FindingKind::Hole, FindingCause::ZeroRun, 0xE0)};
    QVERIFY(!saveIndexFile(p.state.table, indexFileName(input), {input}, 0, std::nullopt, false,
                           nullptr, findings));
    p.main.findChild<QAction*>("MIzaer")->trigger();
    auto* list = p.get<QTableView>("StringER");
    QCOMPARE(list->model()->rowCount(), 3);
    // The kind stands behind the row number.
    QCOMPARE(list->horizontalHeader()->visualIndex(kKindColumn), 1);
    QCOMPARE(cell(list, 0, kKindColumn), QStringLiteral("испорченный блок"));
    QCOMPARE(cell(list, 1, kKindColumn), QStringLiteral("дыра"));
    QCOMPARE(cell(list, 1, 2), QStringLiteral("E0"));
    QCOMPARE(cell(list, 1, 7), QStringLiteral("0:00:01.00, кадров: 2"));
    QCOMPARE(cell(list, 2, kKindColumn), QStringLiteral("пропуск"));
    QVERIFY(cell(list, 2, kKindColumn, Qt::ToolTipRole).contains(QStringLiteral("SCR")));
    QVERIFY(cell(list, 0, kKindColumn, Qt::ToolTipRole).contains(QStringLiteral("размер")));

    auto* filter = p.get<QLineEdit>("EditFILTER");
    filter->setText(QStringLiteral("hole gap"));
    QCOMPARE(list->model()->rowCount(), 2);
    filter->clear();
    // The hammer accepts the real size of the one block; the findings stay.
    p.get<QRadioButton>("RadioISALL")->setChecked(true);
    p.get<TImage>("ImageHAMMER")->clicked();
    QVERIFY(p.waitForJobEnd());
    QCOMPARE(list->model()->rowCount(), 2);
    QCOMPARE(cell(list, 0, kKindColumn), QStringLiteral("дыра"));
    QVERIFY(test::readFile(input) == b.bytes());
}

// A list of a hundred thousand findings is filtered and sorted through the
// model as a user does it: every row answers, none is lost.
void FindingRowsTest::aHundredThousandRowsFilterAndSort() {
    ErrorGrid grid;
    std::vector<Finding> many;
    for (int k = 0; k < 100000; ++k) {
        many.push_back(finding(Position(k) * 1000, k % 3 ? FindingKind::Gap : FindingKind::Hole,
                               FindingCause::StampJump, k % 2 ? 0xE0 : 0xC0));
    }
    grid.showFindings(many);
    ErrorTableModel model(grid);
    ErrorRowsShown shown(grid, &model);
    model.sync();
    QCOMPARE(shown.rowCount(), 100000);
    shown.setRowFilter(parseRowFilter("hole"));
    QCOMPARE(shown.rowCount(), 33334);
    shown.setRowFilter(parseRowFilter("gap C0"));
    QCOMPARE(shown.rowCount(), 33333);
    shown.setRowFilter(std::nullopt);
    shown.sort(kKindColumn, Qt::DescendingOrder);
    QCOMPARE(shown.index(0, kKindColumn).data().toString(), QStringLiteral("пропуск"));
    QCOMPARE(shown.index(99999, kKindColumn).data().toString(), QStringLiteral("дыра"));
}

QTEST_MAIN(FindingRowsTest)
#include "finding_rows_test.moc"
