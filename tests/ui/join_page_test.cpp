#include <QCheckBox>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QTabWidget>
#include <QThread>
#include <QtTest>
#include <atomic>

#include "support/stream_builder.h"
#include "support/temp_dir.h"
#include "text/messages.h"
#include "text/translate.h"
#include "ui/join_page.h"
#include "ui/program.h"
#include "ui/widgets.h"

using namespace mpg;
using namespace mpg::ui;
using mpg::test::entries;
using mpg::test::Program;

class JoinPageTest : public QObject {
    Q_OBJECT
  private slots:
    void pageShowsItsInformation();
    void dragAndDropReorders();
    void deleteSelected();
    void modePair();
    void emptyListMessages();
    void outputName();
    void joinJob();
    void refusedAndFailedJoins();
    void checkBeforeJoining();
    void unsoundPieceAsks();
    void stopDuringCheckStartsNoJoin();
};

namespace {

// Pieces of one test in a folder of their own: a sound one and a copy of it
// with ten stray bytes in a packet, as a bad read leaves them: the packet's
// length no longer leads to the next start code, one broken block.
struct Pieces {
    test::TempDir dir;
    std::vector<uint8_t> sound = test::readFile(test::fixture("av.mpg"));
    std::vector<uint8_t> damaged = [this] {
        std::vector<uint8_t> bytes = sound;
        bytes.insert(bytes.begin() + 5000, 10, 0xFF);
        return bytes;
    }();
    std::string a = dir.write("a.mpg", sound);
    std::string b = dir.write("b.mpg", damaged);
    std::string out = dir.file("joined.mpg");
    bool unchanged() const { return test::readFile(a) == sound && test::readFile(b) == damaged; }
};

// Puts `paths` on the list, the output in its field, and presses "склеить".
void join(Program& p, const QStringList& paths, const std::string& out) {
    auto* list = p.get<QListWidget>("JList");
    list->clear();
    list->addItems(paths);
    p.get<QLineEdit>("EditSUM")->setText(QString::fromStdString(out));
    p.get<QPushButton>("BitBtnSUM")->click();
}

QString q(const std::string& s) {
    return QString::fromStdString(s);
}

}  // namespace

void JoinPageTest::pageShowsItsInformation() {
    Program p;
    p.get<QLabel>("LabelME")->setText("old");
    p.get<QTabWidget>("PageControl1")->setCurrentIndex(1);
    QVERIFY(p.get<QLabel>("LabelME")->text().isEmpty());
    QCOMPARE(p.get<QLabel>("LabelJINFO")->text(),
             QStringLiteral(
                 "перед запуском процесса сборки убедитесь,\r\nчто все файлы исправны и являются "
                 "кусками\r\nодного фильма.\r\n"));
}

void JoinPageTest::dragAndDropReorders() {
    Program p;
    auto* list = p.get<QListWidget>("JList");
    const QStringList abcd = {"a", "b", "c", "d"};
    list->addItems(abcd);
    p.main.joinPage()->rememberDragStart(0);
    p.main.joinPage()->moveDraggedFile(2);
    QCOMPARE(entries(list), QStringList({"b", "c", "a", "d"}));
    QCOMPARE(list->currentRow(), 2);
    QVERIFY(list->item(2)->isSelected());

    list->clear();
    list->addItems(abcd);
    p.main.joinPage()->rememberDragStart(3);
    p.main.joinPage()->moveDraggedFile(1);
    QCOMPARE(entries(list), QStringList({"a", "d", "b", "c"}));

    // Below the last entry, or a drag that started there: nothing moves.
    p.main.joinPage()->rememberDragStart(1);
    p.main.joinPage()->moveDraggedFile(-1);
    p.main.joinPage()->rememberDragStart(-1);
    p.main.joinPage()->moveDraggedFile(2);
    QCOMPARE(entries(list), QStringList({"a", "d", "b", "c"}));

    // The entry taken is the one pressed, even when the pointer has moved on
    // to the next row by the time the drag begins.
    auto* jlist = static_cast<TJList*>(list);
    p.main.show();
    const QRect third = list->visualItemRect(list->item(2));
    QTest::mousePress(list->viewport(), Qt::LeftButton, {}, third.center());
    QCursor::setPos(list->viewport()->mapToGlobal(list->visualItemRect(list->item(3)).center()));
    QCOMPARE(jlist->rowToDrag(), 2);
    QTest::mouseRelease(list->viewport(), Qt::LeftButton, {}, third.center());
}

void JoinPageTest::deleteSelected() {
    Program p;
    auto* list = p.get<QListWidget>("JList");
    list->addItems({"0", "1", "2", "3", "4"});
    list->item(1)->setSelected(true);
    list->item(3)->setSelected(true);
    p.main.joinPage()->removeSelectedFiles();
    QCOMPARE(entries(list), QStringList({"0", "2", "4"}));
    p.main.joinPage()->clearList();
    QCOMPARE(list->count(), 0);
}

void JoinPageTest::modePair() {
    Program p;
    auto* structured = p.get<QCheckBox>("CheckMS1");
    auto* glue = p.get<QCheckBox>("CheckGlue");
    auto* onePP = p.get<QCheckBox>("Check1PP");
    auto* oneSH = p.get<QCheckBox>("Check1SH");
    auto* continuous = p.get<QCheckBox>("CheckCont");
    onePP->setChecked(true);
    continuous->setChecked(true);
    auto* check = p.get<QCheckBox>("CheckPre");
    QVERIFY(check->isChecked() && check->isEnabled());
    glue->click();
    QVERIFY(glue->isChecked() && !structured->isChecked());
    QVERIFY(!check->isChecked() && !check->isEnabled());
    QVERIFY(!onePP->isChecked() && !oneSH->isChecked());
    QVERIFY(!continuous->isChecked() && !continuous->isEnabled());
    QVERIFY(!onePP->isEnabled() && !oneSH->isEnabled() && !p.get<QLabel>("LabelMS1")->isEnabled());
    glue->click();  // clicking the checked one keeps it
    QVERIFY(glue->isChecked());
    structured->click();
    QVERIFY(structured->isChecked() && !glue->isChecked());
    // The check comes back as it was; turned off, it stays off.
    QVERIFY(check->isChecked() && check->isEnabled());
    check->click();
    glue->click();
    structured->click();
    QVERIFY(!check->isChecked() && check->isEnabled());
    QVERIFY(onePP->isEnabled() && !onePP->isChecked() && p.get<QLabel>("Label1SH")->isEnabled());
    structured->click();
    QVERIFY(structured->isChecked());
}

void JoinPageTest::emptyListMessages() {
    Program p;
    p.get<TImage>("ImageSUM")->clicked();
    QCOMPARE(p.get<QLabel>("LabelME")->text(),
             QStringLiteral("правая кнопка мыши в левом окне - вызов меню"));
    p.get<QPushButton>("BitBtnSUM")->click();
    QCOMPARE(p.get<QLabel>("LabelME")->text(),
             QStringLiteral("нечего клеить. добавьте файлы в список"));
    QVERIFY(!p.main.jobRunning());
}

void JoinPageTest::outputName() {
    Program p;
    auto* list = p.get<QListWidget>("JList");
    const auto nameFor = [&](const QString& first) {
        list->clear();
        list->addItem(first);
        p.get<TImage>("ImageSUM")->clicked();
        return p.get<QLineEdit>("EditSUM")->text();
    };
    QCOMPARE(nameFor("/video/film1.mpg"), QStringLiteral("/video/film1.joined.mpg"));
    QCOMPARE(nameFor("/a.b/x"), QStringLiteral("/a.b/x.joined"));
    QCOMPARE(nameFor("/v/.mpg"), QStringLiteral("/v/.mpg.joined.mpg"));
    // Rips join into a plain stream.
    QCOMPARE(nameFor("/cd/MPEGAV/AVSEQ01.DAT"), QStringLiteral("/cd/MPEGAV/AVSEQ01.joined.mpg"));
}

void JoinPageTest::joinJob() {
    Program p;
    test::TempDir dir;
    const std::string a = test::fixture("av.mpg"), b = test::fixture("video-only.mpg");
    auto* list = p.get<QListWidget>("JList");
    list->addItems({QString::fromStdString(a), QString::fromStdString(b)});
    const std::string out = dir.file("joined.mpg");
    p.get<QLineEdit>("EditSUM")->setText(QString::fromStdString(out));
    p.get<QPushButton>("BitBtnSUM")->click();
    list->clear();  // the job took its own copy of the list
    QVERIFY(p.waitForJobEnd());
    QCOMPARE(p.get<QLabel>("LabelME")->text(), QStringLiteral("операция завершена"));
    QVERIFY(!p.get<TGauge>("GaugeZ")->isVisibleTo(&p.main));
    QVERIFY(!p.get<TImage>("ImageZ")->isVisibleTo(&p.main));
    const auto joined = test::readFile(out);
    const auto first = test::readFile(a);
    QVERIFY(joined.size() > first.size());
    QVERIFY(std::equal(first.begin(), first.end(), joined.begin()));
    QVERIFY(std::vector<uint8_t>(joined.end() - 4, joined.end()) ==
            std::vector<uint8_t>({0, 0, 1, 0xB9}));

    // With a continuous clock: the same blocks, the second piece's stamps
    // shifted.
    list->addItems({QString::fromStdString(a), QString::fromStdString(b)});
    const std::string timed = dir.file("timed.mpg");
    p.get<QLineEdit>("EditSUM")->setText(QString::fromStdString(timed));
    p.get<QCheckBox>("CheckCont")->click();
    p.get<QPushButton>("BitBtnSUM")->click();
    list->clear();
    QVERIFY(p.waitForJobEnd());
    const auto continuous = test::readFile(timed);
    QCOMPARE(continuous.size(), joined.size());
    QVERIFY(continuous != joined);
    QVERIFY(std::equal(first.begin(), first.end(), continuous.begin()));
    QVERIFY(test::readFile(a) == first);
    p.get<QLineEdit>("EditSUM")->setText(QString::fromStdString(out));

    // The glue, over the existing output after "да".
    list->addItems({QString::fromStdString(a), QString::fromStdString(b)});
    p.get<QCheckBox>("CheckGlue")->click();
    p.answer(true);
    p.get<QPushButton>("BitBtnSUM")->click();
    QCOMPARE(p.captions, QStringLiteral("да/нет"));
    QVERIFY(p.waitForJobEnd());
    auto both = first;
    const auto second = test::readFile(b);
    both.insert(both.end(), second.begin(), second.end());
    QVERIFY(test::readFile(out) == both);

    // "нет" leaves the output alone and starts nothing.
    p.answer(false);
    p.get<QPushButton>("BitBtnSUM")->click();
    QVERIFY(!p.main.jobRunning());
    QVERIFY(test::readFile(out) == both);
}

void JoinPageTest::refusedAndFailedJoins() {
    Program p;
    // The join's own refusals and failures, which the check would catch first.
    p.get<QCheckBox>("CheckPre")->click();
    test::TempDir dir;
    const auto bytes = test::typicalStream(3).bytes();
    const std::string input = dir.write("in.mpg", bytes);
    auto* list = p.get<QListWidget>("JList");
    list->addItems({QString::fromStdString(input)});
    p.get<QLineEdit>("EditSUM")->setText(QString::fromStdString(dir.path() + "/./in.mpg"));
    p.get<QPushButton>("BitBtnSUM")->click();
    QVERIFY(!p.main.jobRunning());
    QCOMPARE(p.get<QLabel>("LabelME")->text(),
             QStringLiteral("выходной файл совпадает с одним из входных"));
    QVERIFY(test::readFile(input) == bytes);

    // An input that cannot be opened keeps its own text after the job.
    const std::string missing = dir.file("missing.mpg");
    list->addItem(QString::fromStdString(missing));
    p.get<QLineEdit>("EditSUM")->setText(QString::fromStdString(dir.file("out.mpg")));
    p.get<QPushButton>("BitBtnSUM")->click();
    QVERIFY(p.waitForJobEnd());
    QCOMPARE(p.get<QLabel>("LabelME")->text(), QStringLiteral("ошибка открытия файла: ") +
                                                   QString::fromStdString(missing) +
                                                   QStringLiteral(": No such file or directory"));

    // A broken structure.
    list->clear();
    const std::string bad = dir.write("bad.mpg", test::StreamBuilder::pattern(100));
    list->addItem(QString::fromStdString(bad));
    p.answer(true);
    p.get<QPushButton>("BitBtnSUM")->click();
    QVERIFY(p.waitForJobEnd());
    // The status line names the piece, the offset in it, the bytes found and why.
    QCOMPARE(p.get<QLabel>("LabelME")->text(),
             QStringLiteral("нарушена структура файла: ") + QString::fromStdString(bad) +
                 QStringLiteral(", позиция 0: найдено 11 18 1F 26 — не код начала блока"));
    QVERIFY(test::readFile(bad) == test::StreamBuilder::pattern(100));
}

// Sound pieces pass the check and join as they would without it; the check
// reports its progress over the pieces, leaves the repair page's table
// alone, and without the box there is no check at all.
void JoinPageTest::checkBeforeJoining() {
    Program p;
    Pieces f;
    std::vector<std::string> texts;
    p.main.jobs().setJobThreadHook([&](const Notice& n) {
        if (n.kind == Notify::PieceCheck) texts.push_back(progressLine(n));
    });
    join(p, {q(f.a), q(f.a)}, f.out);
    QVERIFY(p.waitForJobEnd());
    QCOMPARE(p.get<QLabel>("LabelME")->text(), QStringLiteral("операция завершена"));
    QVERIFY(!texts.empty());
    QCOMPARE(texts.front(), std::string("проверка кусков: 1 из 2"));
    QCOMPARE(texts.back(), std::string("проверка кусков: 2 из 2"));
    QCOMPARE(p.state.table.size(), size_t(0));
    const auto checked = test::readFile(f.out);

    texts.clear();
    p.get<QCheckBox>("CheckPre")->click();
    const std::string plain = f.dir.file("plain.mpg");
    join(p, {q(f.a), q(f.a)}, plain);
    QVERIFY(p.waitForJobEnd());
    QVERIFY(texts.empty());
    QVERIFY(test::readFile(plain) == checked);
    QCOMPARE(checked.size(), 2 * f.sound.size() + 4);
    QVERIFY(f.unchanged());
}

// A piece with a broken block: the question names it with its count, and
// each answer does what it says. An unreadable piece leaves nothing to ask.
void JoinPageTest::unsoundPieceAsks() {
    Program p;
    Pieces f;
    p.choose("BitBtnCancel");
    join(p, {q(f.a), q(f.b)}, f.out);
    QVERIFY(p.waitForJobEnd());
    // One broken block in the second piece, named as the core names it.
    const QString line = q(pieceCheckText({1, f.b, 0, 1, {}}, currentLanguage()));
    QVERIFY(line.startsWith(QStringLiteral("кусок 2 (") + q(f.b) + QStringLiteral("): 1 ")));
    QCOMPARE(p.question, QStringLiteral("в кусках есть блоки с ошибками:\n") + line +
                             QStringLiteral("\nчто делать?"));
    QCOMPARE(p.get<QLabel>("LabelME")->text(), QStringLiteral("сборка отменена"));
    QVERIFY(!QFile::exists(q(f.out)));
    QVERIFY(!p.get<TImage>("ImageZ")->isVisibleTo(&p.main));

    // As it is: glued, byte for byte.
    p.choose("BitBtnGlue");
    join(p, {q(f.a), q(f.b)}, f.out);
    QVERIFY(p.waitForJobEnd());
    QCOMPARE(p.get<QLabel>("LabelME")->text(), QStringLiteral("операция завершена"));
    auto both = f.sound;
    both.insert(both.end(), f.damaged.begin(), f.damaged.end());
    QVERIFY(test::readFile(f.out) == both);
    QVERIFY(p.get<QCheckBox>("CheckMS1")->isChecked());

    // Repair first: the piece opens on the repair page; nothing is written.
    QFile::remove(q(f.out));
    auto* tabs = p.get<QTabWidget>("PageControl1");
    tabs->setCurrentIndex(1);
    p.choose("BitBtnRepair");
    join(p, {q(f.b), q(f.a), q(f.b)}, f.out);
    QVERIFY(p.waitForJobEnd());
    QVERIFY(p.question.contains(QStringLiteral("\nкусок 3 (") + q(f.b)));
    QCOMPARE(p.get<QLabel>("LabelME")->text(),
             QStringLiteral("сборка не начата: кусок 1 открыт для ремонта"));
    QTRY_COMPARE(tabs->currentIndex(), 0);
    QCOMPARE(p.get<QLineEdit>("EditIN")->text(), q(f.b));

    // A piece that cannot be read: its text instead of a question, no join.
    p.question.clear();
    p.choose("BitBtnCancel");
    const std::string missing = f.dir.file("missing.mpg");
    join(p, {q(f.b), q(missing)}, f.out);
    QVERIFY(p.waitForJobEnd());
    QCOMPARE(p.get<QLabel>("LabelME")->text(), QStringLiteral("кусок 2 не прочитан: ") +
                                                   q(missing) +
                                                   QStringLiteral(": No such file or directory"));
    QVERIFY(p.question.isEmpty());
    QVERIFY(!QFile::exists(q(f.out)));
    QVERIFY(f.unchanged());
}

// The skull stops the check as it stops a join, and no join follows.
void JoinPageTest::stopDuringCheckStartsNoJoin() {
    Program p;
    Pieces f;
    std::atomic<bool> held{true};
    p.main.jobs().setJobThreadHook([&](const Notice& n) {
        while (n.kind == Notify::PieceCheck && held) QThread::msleep(1);
    });
    p.get<QTabWidget>("PageControl1")->setCurrentIndex(1);
    join(p, {q(f.a), q(f.a)}, f.out);
    QVERIFY(p.get<TImage>("ImageZ")->isVisibleTo(&p.main));
    p.answer(true);
    p.get<TImage>("ImageZ")->clicked();
    held = false;
    QVERIFY(p.waitForJobEnd());
    QCOMPARE(p.get<QLabel>("LabelME")->text(), QStringLiteral("прервано пользователем"));
    QVERIFY(!QFile::exists(q(f.out)));
    QVERIFY(f.unchanged());
}

QTEST_MAIN(JoinPageTest)
#include "join_page_test.moc"
