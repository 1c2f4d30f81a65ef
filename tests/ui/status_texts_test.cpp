// What the repair page's status line says at the end of its commands: the
// scan's counts, what the hammer did, the index file's save and load, and
// the input field's empty state.
#include <QAction>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QtTest>
#include <random>
#include <set>

#include "support/damage.h"
#include "support/stream_builder.h"
#include "support/temp_dir.h"
#include "text/translate.h"
#include "ui/program.h"
#include "ui/widgets.h"

using namespace mpg;
using namespace mpg::ui;
using mpg::test::Program;

namespace {

QString grouped(uint64_t n) {
    return QString::fromStdString(countText(n));
}

Position cutBytes(const AppState& state) {
    Position sum = 0;
    for (const CutRegion& r : state.view.cuts()) sum += r.length;
    return sum;
}

size_t listed(const AppState& state) {
    size_t n = 0;
    for (size_t i = 0; i < state.table.size(); ++i) n += state.table[i].broken == kBrokenListed;
    return n;
}

// A fixture with a run of one byte value in each of fifty packets, written
// into `dir`; the blocks of the clean stream and the blocks hit.
struct DamagedFixture {
    std::string path;
    std::vector<uint8_t> bytes;
    size_t blocks = 0;
    size_t hit = 0;
};

DamagedFixture damagedFixture(const test::TempDir& dir, uint64_t seed) {
    const std::optional<test::CleanStream> clean = test::loadCleanStream(test::fixture("av.mpg"));
    if (!clean) qFatal("av.mpg does not scan clean");
    std::mt19937_64 rng(seed);
    const std::optional<test::DamagedStream> d =
        test::damageStream(*clean, test::DamageClass::FiftyRuns, rng, 16);
    if (!d) qFatal("av.mpg takes no fifty runs");
    std::set<size_t> hit;
    for (const test::DamageEdit& e : d->edits) hit.insert(e.block);
    return {dir.write("film.mpg", d->bytes), d->bytes, clean->blocks.size(), hit.size()};
}

void scan(Program& p, const std::string& path) {
    p.setInput(path);
    p.get<QPushButton>("BitBtnOP")->click();
    p.get<QPushButton>("BitBtnGO")->click();
    QVERIFY(p.waitForJobEnd());
}

}  // namespace

class StatusTextsTest : public QObject {
    Q_OBJECT
  private slots:
    void scanCountsItsBlocks();
    void hammerSaysWhatItDid();
    void indexSaveAndLoadNameTheFile();
    void emptyInputShowsWhatBelongsThere();
    void pictureButtonsExplainThemselves();
};

void StatusTextsTest::scanCountsItsBlocks() {
    Program p;
    test::TempDir dir;
    const DamagedFixture f = damagedFixture(dir, 7);
    scan(p, f.path);
    QCOMPARE(p.state.table.size(), f.blocks);
    QCOMPARE(f.hit, size_t{50});
    QCOMPARE(p.status(),
             QStringLiteral("поиск завершен: %1 блоков, 50 с ошибками; найдены потоки: C0 E0")
                 .arg(grouped(f.blocks)));
    // A stream without a broken block says so with its count.
    scan(p, test::fixture("av.mpg"));
    QCOMPARE(p.status(),
             QStringLiteral("поиск завершен: %1 блоков, 0 с ошибками; найдены потоки: C0 E0")
                 .arg(grouped(f.blocks)));
}

// The counts of each strategy's summary against the table and the cut list
// before and after the press.
void StatusTextsTest::hammerSaysWhatItDid() {
    Program p;
    test::TempDir dir;
    const DamagedFixture f = damagedFixture(dir, 11);
    scan(p, f.path);
    for (const char* radio : {"RadioEQ", "RadioRERE", "RadioISALL"}) {
        const std::vector<BlockRecord> old = p.state.table.entries();
        const size_t before = listed(p.state);
        const Position cutBefore = cutBytes(p.state);
        p.get<QRadioButton>(radio)->setChecked(true);
        p.get<TImage>("ImageHAMMER")->clicked();
        QVERIFY(p.waitForJobEnd());
        const size_t after = listed(p.state);
        const QString cut = grouped(cutBytes(p.state) - cutBefore);
        if (QByteArray(radio) == "RadioRERE") {
            // Shortened blocks stay listed.
            QCOMPARE(after, before);
            size_t shortened = 0;
            for (size_t i = 0; i < old.size(); ++i)
                shortened +=
                    old[i].broken == kBrokenListed && p.state.table[i].realSize < old[i].realSize;
            QVERIFY(shortened > 0);
            QCOMPARE(p.status(),
                     QStringLiteral("укорочено строк: %1, вырезано %2 байт, осталось: %3")
                         .arg(grouped(shortened), cut, grouped(after)));
        } else if (QByteArray(radio) == "RadioEQ") {
            QVERIFY(after < before);
            QCOMPARE(p.status(),
                     QStringLiteral("исправлено строк: %1, вырезано %2 байт, осталось: %3")
                         .arg(grouped(before - after), cut, grouped(after)));
        } else {
            QCOMPARE(after, size_t{0});
            QCOMPARE(p.status(),
                     QStringLiteral("исправлено строк: %1, осталось: 0").arg(grouped(before)));
        }
    }
}

void StatusTextsTest::indexSaveAndLoadNameTheFile() {
    Program p;
    test::TempDir dir;
    const DamagedFixture f = damagedFixture(dir, 3);
    const QString index = QString::fromStdString(f.path + ".index");
    scan(p, f.path);
    // Loading before there is an index names the one looked for.
    p.main.findChild<QAction*>("MIzaer")->trigger();
    QCOMPARE(p.status(), QStringLiteral("нет файла ошибок: ") + index);
    p.main.findChild<QAction*>("MIsoer")->trigger();
    QCOMPARE(p.status(), QStringLiteral("ошибки сохранены: film.mpg.index"));
    QVERIFY(QFileInfo::exists(index));
    QCOMPARE(test::readFile(f.path), f.bytes);
    p.main.findChild<QAction*>("MIzaer")->trigger();
    QCOMPARE(p.status(), QStringLiteral("ошибки загружены: film.mpg.index, 50 строк"));
    // A damaged index is refused with its name.
    std::vector<uint8_t> bytes = test::readFile(index.toStdString());
    bytes.resize(bytes.size() - 3);
    dir.write("film.mpg.index", bytes);
    p.main.findChild<QAction*>("MIzaer")->trigger();
    QCOMPARE(p.status(), QStringLiteral("файл ошибок повреждён: ") + index);
    // A failed save names the file and the reason.
    QVERIFY(QFile::remove(index));
    QVERIFY(QDir().mkdir(index));
    p.answer(true);  // "да" to replacing what has the index's name
    p.main.findChild<QAction*>("MIsoer")->trigger();
    QVERIFY2(p.status().startsWith(QStringLiteral("ошибка сохранения файла: ") + index + ": "),
             qPrintable(p.status()));
    QCOMPARE(test::readFile(f.path), f.bytes);
}

void StatusTextsTest::emptyInputShowsWhatBelongsThere() {
    Program p;
    auto* input = p.get<QLineEdit>("EditIN");
    QVERIFY(input->text().isEmpty());
    QCOMPARE(input->placeholderText(), QStringLiteral("сюда надо положить имя файла"));
    p.get<QPushButton>("BitBtnOP")->click();
    QCOMPARE(p.status(), QStringLiteral("сюда надо положить имя файла"));
    QVERIFY(input->text().isEmpty());
    p.get<QLabel>("LabelST")->clear();
    p.get<QPushButton>("BitBtnGO")->click();
    QCOMPARE(p.status(), QStringLiteral("сюда надо положить имя файла"));
    QVERIFY(input->text().isEmpty());
    QVERIFY(!p.main.jobRunning());
    // No output name is proposed for an empty input.
    QVERIFY(p.get<QLineEdit>("EditOUT")->text().isEmpty());
}

void StatusTextsTest::pictureButtonsExplainThemselves() {
    Program p;
    for (const char* name :
         {"ImageFI", "ImageHAMMER", "ImageSA", "ImageEX", "ImageSUM", "ImageZ", "ImageVL"}) {
        QVERIFY2(!p.get<TImage>(name)->toolTip().isEmpty(), name);
    }
}

QTEST_MAIN(StatusTextsTest)
#include "status_texts_test.moc"
