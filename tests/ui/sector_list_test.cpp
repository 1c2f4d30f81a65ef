// A video CD rip's faulty sectors in the window: the list below the blocks
// after a scan, emptied by a new open and a fresh scan, kept by a resumed
// one, counted in the status line and opening the dump at a sector's bytes.
#include <QPlainTextEdit>
#include <QPushButton>
#include <QScrollBar>
#include <QTableView>
#include <QTextBlock>
#include <QtTest>

#include "support/temp_dir.h"
#include "ui/language.h"
#include "ui/program.h"
#include "ui/sector_table.h"

using namespace mpg;
using namespace mpg::ui;
using mpg::test::Program;

namespace {

constexpr Position kPayload = 2324;

// The damaged copies of the clean rip, the fault each names at the sector
// its sidecar gives, in Russian and English.
struct Damage {
    const char* key;
    const char* russian;
    const char* english;
};
constexpr Damage kDamages[] = {
    {"flip", "контрольная сумма (EDC) не сходится", "checksum (EDC) does not match"},
    {"zero", "сектор не прочитан (одни нули)", "sector not read (all zeros)"},
    {"missing", "пропущено секторов: 1", "sectors missing: 1"},
    {"duplicate", "повтор предыдущего сектора, пропущен", "repeats the previous sector, left out"},
    {"sync", "повреждён заголовок сектора", "damaged sector header"},
};

QString cell(QTableView* list, int row, int column) {
    return list->model()->index(row, column).data().toString();
}

// The row of the list that names `sector`; -1 for none.
int rowOfSector(QTableView* list, const std::string& sector) {
    for (int r = 0; r < list->model()->rowCount(); ++r) {
        if (cell(list, r, SectorTableModel::SectorColumn).remove(QLatin1Char('\'')).toStdString() ==
            sector) {
            return r;
        }
    }
    return -1;
}

void openAndScan(Program& p, const std::string& path) {
    p.setInput(path);
    p.get<QPushButton>("BitBtnOP")->click();
    p.get<QPushButton>("BitBtnGO")->click();
    QVERIFY(p.waitForJobEnd());
}

}  // namespace

class SectorListTest : public QObject {
    Q_OBJECT
  private slots:
    void cleanup() { useLanguage(Language::Russian); }
    void eachDamageIsListedAtItsSector();
    void cleanRipAndPlainStreamShowNone();
    void newOpenAndFreshScanClearResumeKeeps();
    void doubleClickShowsTheDumpAtTheSector();
    void manySectorsScrollInTheirThird();
};

void SectorListTest::eachDamageIsListedAtItsSector() {
    const auto values = test::fixtureValues("vcd-dat.txt");
    Program p;
    auto* list = p.get<QTableView>("StringSE");
    for (const Damage& d : kDamages) {
        const std::string key = d.key;
        const std::string file = test::fixture(values.at(key + "_file"));
        p.setInput(file);
        p.get<QPushButton>("BitBtnOP")->click();
        QVERIFY2(p.status().contains(QStringLiteral("VCD .dat (CDXA)")), qPrintable(p.status()));
        p.get<QPushButton>("BitBtnGO")->click();
        QVERIFY(p.waitForJobEnd());
        QVERIFY2(list->isVisibleTo(&p.main), d.key);
        const int row = rowOfSector(list, values.at(key + "_sector"));
        QVERIFY2(row >= 0, d.key);
        QCOMPARE(cell(list, row, SectorTableModel::AddressColumn).toStdString(),
                 values.at(key + "_address"));
        QCOMPARE(cell(list, row, SectorTableModel::FaultColumn), QString::fromUtf8(d.russian));
        // The count beside the broken blocks names every row.
        QVERIFY2(p.status().contains(
                     QStringLiteral(", сбойных секторов: %1").arg(list->model()->rowCount())),
                 qPrintable(p.status()));
        // Every sector before the damage is sound: its stream bytes start
        // where theirs end. A lost sector covers none.
        const Position sector = std::stoull(values.at(key + "_sector"));
        QCOMPARE(p.state.sectorFaults[static_cast<size_t>(row)].streamStart, sector * kPayload);
        QCOMPARE(
            cell(list, row, SectorTableModel::BytesColumn),
            key == "missing" || key == "duplicate" ? QStringLiteral("0") : QStringLiteral("2'324"));

        useLanguage(Language::English);
        QCOMPARE(cell(list, row, SectorTableModel::FaultColumn), QString::fromUtf8(d.english));
        QCOMPARE(
            list->model()->headerData(SectorTableModel::FaultColumn, Qt::Horizontal).toString(),
            QStringLiteral("sector fault"));
        useLanguage(Language::Russian);
    }
}

void SectorListTest::cleanRipAndPlainStreamShowNone() {
    Program p;
    auto* list = p.get<QTableView>("StringSE");
    openAndScan(p, test::fixture("vcd-mplex.dat"));
    QCOMPARE(list->model()->rowCount(), 0);
    QVERIFY(!list->isVisibleTo(&p.main));
    QVERIFY2(p.status().startsWith(QStringLiteral("поиск завершен: ")), qPrintable(p.status()));
    QVERIFY2(p.status().contains(QStringLiteral(" с ошибками, сбойных секторов: 0; ")),
             qPrintable(p.status()));
    // The blocks' list keeps the room a plain stream gives it.
    auto* blocks = p.get<QTableView>("StringER");
    const int blocksHeight = blocks->height();

    openAndScan(p, test::fixture("vcd-mplex.mpg"));
    QCOMPARE(list->model()->rowCount(), 0);
    QVERIFY(!list->isVisibleTo(&p.main));
    QVERIFY2(!p.status().contains(QStringLiteral("сектор")), qPrintable(p.status()));
    QCOMPARE(blocks->height(), blocksHeight);
}

void SectorListTest::newOpenAndFreshScanClearResumeKeeps() {
    Program p;
    auto* list = p.get<QTableView>("StringSE");
    auto* blocks = p.get<QTableView>("StringER");
    const int blocksHeight = blocks->height();
    openAndScan(p, test::fixture("vcd-dat-zero.dat"));
    const int rows = list->model()->rowCount();
    QVERIFY(rows > 0);
    // The sectors take room below the blocks, at most a third.
    QVERIFY(blocks->height() < blocksHeight);
    QVERIFY(list->height() <= (blocksHeight + 1) / 3);
    QCOMPARE(list->geometry().top(), blocks->geometry().bottom() + 1);

    p.answer(true);  // "продолжить": the walk is not made again, its rows stay
    p.get<QPushButton>("BitBtnGO")->click();
    QCOMPARE(list->model()->rowCount(), rows);
    QVERIFY(p.waitForJobEnd());
    QCOMPARE(list->model()->rowCount(), rows);
    QVERIFY(list->isVisibleTo(&p.main));

    p.answer(false);  // "сначала": the rows go at once, the walk finds them again
    p.get<QPushButton>("BitBtnGO")->click();
    QCOMPARE(list->model()->rowCount(), 0);
    QVERIFY(p.waitForJobEnd());
    QCOMPARE(list->model()->rowCount(), rows);

    // Opening another file, a sound rip, empties the list before any scan.
    p.setInput(test::fixture("vcd-mplex.dat"));
    p.get<QPushButton>("BitBtnOP")->click();
    QCOMPARE(list->model()->rowCount(), 0);
    QVERIFY(!list->isVisibleTo(&p.main));
    QCOMPARE(blocks->height(), blocksHeight);
}

void SectorListTest::doubleClickShowsTheDumpAtTheSector() {
    const auto values = test::fixtureValues("vcd-dat.txt");
    Program p;
    auto* list = p.get<QTableView>("StringSE");
    openAndScan(p, test::fixture(values.at("flip_file")));
    // A flipped bit in a slice breaks no block: only the sector tells.
    QCOMPARE(p.status(), QStringLiteral("поиск завершен: 359 блоков, 0 с ошибками, сбойных "
                                        "секторов: 1; найдены потоки: C0 E0"));
    const int row = rowOfSector(list, values.at("flip_sector"));
    QVERIFY(row >= 0);
    QVERIFY(!p.dump.isVisible());
    emit list->doubleClicked(list->model()->index(row, 0));
    QVERIFY(p.dump.isVisible());
    // The block that holds the sector's first byte, that byte selected: the
    // first of the 2,324 the sector carries.
    const Position start = std::stoull(values.at("flip_sector")) * kPayload;
    const QString title = p.dump.windowTitle();
    const QString at = title.section(QLatin1Char(' '), -1).remove(QLatin1Char('\''));
    QVERIFY2(at.toULongLong() <= start, qPrintable(title));
    auto* memo = p.dump.findChild<QPlainTextEdit*>("MemoH");
    QCOMPARE(memo->textCursor().selectedText().size(), 2);
    // The line's offset, in hex, is that of the byte's line.
    const auto selectedLineHolds = [&](Position pos) {
        const QString line = memo->textCursor().block().text();
        const qulonglong lineOffset = line.left(8).toULongLong(nullptr, 16);
        return lineOffset <= pos && pos < lineOffset + qulonglong(p.dump.bytesPerLine());
    };
    QVERIFY(selectedLineHolds(start));

    // Once a repair has cut bytes out before the sector, the stream holds
    // its first byte that much earlier.
    p.dump.hide();
    p.state.view.addCut(1000, kPayload);
    emit list->doubleClicked(list->model()->index(row, 0));
    QVERIFY(p.dump.isVisible());
    QCOMPARE(memo->textCursor().selectedText().size(), 2);
    QVERIFY(selectedLineHolds(start - kPayload));
}

// A rip with every other sector zeroed: each is a row, in sector order, and
// the list keeps to its third of the room and scrolls.
void SectorListTest::manySectorsScrollInTheirThird() {
    const auto values = test::fixtureValues("vcd-dat.txt");
    const size_t dataOffset = std::stoul(values.at("data_offset"));
    const size_t sectorSize = std::stoul(values.at("sector_size"));
    const size_t sectors = std::stoul(values.at("sector_count"));
    std::vector<uint8_t> rip = test::readFile(test::fixture("vcd-mplex.dat"));
    std::vector<size_t> zeroed;
    for (size_t k = 2; k + 1 < sectors; k += 2) {
        std::fill_n(rip.begin() + std::ptrdiff_t(dataOffset + k * sectorSize), sectorSize, 0);
        zeroed.push_back(k);
    }
    test::TempDir dir;
    const std::string path = dir.write("holes.dat", rip);
    Program p;
    auto* list = p.get<QTableView>("StringSE");
    auto* blocks = p.get<QTableView>("StringER");
    const int room = blocks->height();
    openAndScan(p, path);
    QCOMPARE(list->model()->rowCount(), int(zeroed.size()));
    for (size_t r = 0; r < zeroed.size(); ++r) {
        QCOMPARE(cell(list, int(r), SectorTableModel::SectorColumn), QString::number(zeroed[r]));
        QCOMPARE(cell(list, int(r), SectorTableModel::FaultColumn),
                 QStringLiteral("сектор не прочитан (одни нули)"));
    }
    QCOMPARE(list->height(), room / 3);
    QCOMPARE(blocks->height() + list->height(), room);
    QVERIFY(list->verticalScrollBar()->maximum() > 0);
    QVERIFY2(p.status().contains(QStringLiteral("сбойных секторов: %1").arg(zeroed.size())),
             qPrintable(p.status()));
    QVERIFY(test::readFile(path) == rip);
}

QTEST_MAIN(SectorListTest)
#include "sector_list_test.moc"
