// The automatic repair as the window offers it: the fourth round button,
// the hammer's summary in the status line, the list's action column, and the
// verification of a saved file. The repair itself is judged elsewhere; these
// tests hold whatever it resolves: the counts it reports add up, every block
// it was given keeps a row that says what became of it.
#include <QAbstractButton>
#include <QProcess>
#include <QRadioButton>
#include <QRegularExpression>
#include <QTableView>
#include <QTemporaryDir>
#include <QtTest>
#include <algorithm>
#include <atomic>
#include <fstream>

#include "support/temp_dir.h"
#include "text/messages.h"
#include "ui/error_table.h"
#include "ui/program.h"
#include "ui/widgets.h"

using namespace mpg;
using namespace mpg::ui;
using mpg::test::Program;

namespace {

std::vector<uint8_t> readAll(const QString& path) {
    return test::readFile(path.toStdString());
}

void writeAll(const QString& path, const std::vector<uint8_t>& bytes) {
    std::ofstream out(path.toStdString(), std::ios::binary);
    out.write(reinterpret_cast<const char*>(bytes.data()), std::streamsize(bytes.size()));
}

// Where the packets of stream `code` begin, in file order.
std::vector<size_t> packetsOf(const std::vector<uint8_t>& bytes, uint8_t code) {
    std::vector<size_t> at;
    for (size_t i = 0; i + 4 <= bytes.size(); ++i) {
        if (bytes[i] == 0 && bytes[i + 1] == 0 && bytes[i + 2] == 1 && bytes[i + 3] == code)
            at.push_back(i);
    }
    return at;
}

// A copy of fixture `name` in `dir`, damaged as rips are: a run of zeros
// inserted into a video packet, stray bytes of several values into an audio
// packet, and bytes lost from a later video packet. Returns its path.
QString damagedCopy(const QTemporaryDir& dir, const char* name) {
    std::vector<uint8_t> bytes = test::readFile(test::fixture(name));
    const std::vector<size_t> video = packetsOf(bytes, 0xE0), audio = packetsOf(bytes, 0xC0);
    if (video.size() < 8 || audio.size() < 3) qFatal("fixture %s is too small", name);
    // From the back, so that the earlier places stay where they were found.
    const size_t lost = video[7] + 60;
    bytes.erase(bytes.begin() + std::ptrdiff_t(lost), bytes.begin() + std::ptrdiff_t(lost + 40));
    const size_t stray = std::max(audio[2], video[3]) + 30;
    const std::vector<uint8_t> noise = {0x12, 0x34, 0x56, 0x78, 0x9A, 0xBC, 0xDE, 0xF0, 0x11};
    bytes.insert(bytes.begin() + std::ptrdiff_t(stray), noise.begin(), noise.end());
    bytes.insert(bytes.begin() + std::ptrdiff_t(video[2] + 100), 300, 0x00);
    const QString path = dir.filePath(QString::fromLatin1(name));
    writeAll(path, bytes);
    return path;
}

// The counts of a summary text; whether the text is exactly the one the
// repair's texts make of them.
struct Summary {
    RepairSummary counts;
    bool valid = false;
};

Summary summaryIn(const QString& status) {
    static const QRegularExpression pattern(QStringLiteral(
        "блоков: ([\\d']+); восстановлено точно: ([\\d']+), стали декодируемыми: ([\\d']+), "
        "не решено: ([\\d']+)"));
    const QRegularExpressionMatch m = pattern.match(status);
    Summary s;
    if (!m.hasMatch()) return s;
    const auto n = [&](int i) { return m.captured(i).remove(QLatin1Char('\'')).toULongLong(); };
    s.counts = {n(1), n(2), n(3), n(4)};
    s.valid = QString::fromStdString(repairSummaryText(s.counts)) == m.captured(0);
    return s;
}

// The broken blocks the command line finds in a file, under the rules the
// window uses by default.
int cliBrokenRows(const QString& path) {
    QProcess cli;
    cli.start(QStringLiteral(MPGMEND_CLI), {QStringLiteral("scan"), path});
    // 3: broken blocks found.
    if (!cli.waitForFinished(20000) || (cli.exitCode() != 0 && cli.exitCode() != 3)) return -1;
    return int(cli.readAllStandardOutput().count('\n'));
}

QStringList actionColumn(Program& p) {
    auto* model = p.get<QTableView>("StringER")->model();
    QStringList texts;
    for (int r = 0; r < model->rowCount(); ++r)
        texts << model->index(r, kActionColumn).data().toString();
    return texts;
}

// The offset, real size, delta and run the list shows for each block, by
// its index.
QMap<QString, QStringList> cellsByIndex(Program& p) {
    const QAbstractItemModel* model = p.get<QTableView>("StringER")->model();
    QMap<QString, QStringList> cells;
    for (int r = 0; r < model->rowCount(); ++r) {
        QStringList row;
        for (int c : {kOffsetColumn, 5, 6, 7}) row << model->index(r, c).data().toString();
        cells.insert(model->index(r, 1).data().toString(), row);
    }
    return cells;
}

std::vector<size_t> rowEntries(Program& p) {
    return p.main.grid().listedEntries(p.state.table);
}

// Opens and scans `input`, and returns the entries the list then names.
std::vector<size_t> scan(Program& p, const QString& input) {
    p.setInput(input.toStdString());
    p.get<QPushButton>("BitBtnOP")->click();
    p.get<QPushButton>("BitBtnGO")->click();
    if (!p.waitForJobEnd()) return {};
    return rowEntries(p);
}

bool hammer(Program& p, const char* strategy) {
    p.get<QRadioButton>(strategy)->setChecked(true);
    p.get<TImage>("ImageHAMMER")->clicked();
    return p.waitForJobEnd();
}

}  // namespace

class AutoRepairWindowTest : public QObject {
    Q_OBJECT
  private slots:
    void fourthStrategyFitsThePanel();
    void statusLineHoldsTheSummary();
    void autoHammerListsWhatItDid();
    void furtherHammerTakesOnlyBrokenRows();
    void otherStrategiesLeaveTheColumnEmpty();
    void verifyReportsTheSavedFile();
    void verifyStopsLikeOtherJobs();
};

// The fourth round button sits below the three, in their group, and the
// bottom panel grew for it: at the design width and a wider one no two of
// its controls overlap, every text fits its control, and the list ends
// where the panel begins.
void AutoRepairWindowTest::fourthStrategyFitsThePanel() {
    Program p;
    auto* automatic = p.get<QRadioButton>("RadioAUTO");
    auto* isall = p.get<QRadioButton>("RadioISALL");
    QCOMPARE(automatic->text(), QStringLiteral("подобрать ремонт автоматически"));
    QCOMPARE(automatic->x(), isall->x());
    QCOMPARE(automatic->y(), isall->y() + isall->y() - p.get<QRadioButton>("RadioRERE")->y());
    QVERIFY(!automatic->isChecked());
    automatic->click();
    QVERIFY(automatic->isChecked());
    QVERIFY(!p.get<QRadioButton>("RadioEQ")->isChecked());
    QCOMPARE(p.get<QPushButton>("BitBtnVERIFY")->text(), QStringLiteral("проверить результат"));
    QVERIFY(!p.get<QPushButton>("BitBtnVERIFY")->isEnabled());  // nothing saved yet

    auto* panel = p.get<QFrame>("PanelBB");
    for (int width : {618, 1000}) {
        p.main.resize(width, 422);
        QApplication::processEvents();
        const QList<QWidget*> controls =
            panel->findChildren<QWidget*>(QString(), Qt::FindDirectChildrenOnly);
        QVERIFY(controls.size() >= 15);
        for (QWidget* a : controls) {
            if (auto* button = qobject_cast<QAbstractButton*>(a)) {
                QVERIFY2(panel->rect().contains(a->geometry()), qPrintable(a->objectName()));
                QVERIFY2(button->sizeHint().width() <= button->width(),
                         qPrintable(a->objectName()));
            }
            for (QWidget* b : controls) {
                // The least run length is typed into the gap its label leaves.
                const QSet<QString> pair = {a->objectName(), b->objectName()};
                if (a == b || pair == QSet<QString>{"LabelMS", "EditMS"}) continue;
                // Rows 17 pixels high are set 16 apart: neighbours share an
                // edge pixel.
                const QRect inner = a->geometry().adjusted(0, 0, -1, -1);
                QVERIFY2(!inner.intersects(b->geometry().adjusted(0, 0, -1, -1)),
                         qPrintable(a->objectName() + " " + b->objectName()));
            }
        }
        auto* list = p.get<QTableView>("StringER");
        QCOMPARE(list->geometry().bottom() + 1, panel->y());
        QVERIFY(list->height() > 150);
    }
}

// The status line holds a summary, or the check's result, whole at the
// design width when the counts run to thousands; a longer one shows whole
// in its tool tip.
void AutoRepairWindowTest::statusLineHoldsTheSummary() {
    Program p;
    auto* status = p.get<QLabel>("LabelST");
    QCOMPARE(p.main.size(), QSize(618, 422));
    for (const RepairSummary& s : {RepairSummary{12, 3, 5, 4}, {9'999, 9'000, 888, 111}}) {
        const QString text = QString::fromStdString(repairSummaryText(s));
        status->setText(text);
        QVERIFY2(status->heightForWidth(status->width()) <= status->height(), qPrintable(text));
    }
    status->setText(
        QStringLiteral("результат film.001.mpg: блоков 9'999, с ошибками 0; длина "
                       "переписана: 1, дополнено: 2; не решено: 3"));
    QVERIFY(status->heightForWidth(status->width()) <= status->height());
}

// The hammer with the fourth button runs the automatic repair on every
// listed block: its summary counts them all, the list keeps a row for each
// of them, resolved or not, whose action column says what was done, and a
// save then writes the output and leaves the input as it was.
void AutoRepairWindowTest::autoHammerListsWhatItDid() {
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    for (const char* fixture : {"av.mpg", "vcd.mpg"}) {
        Program p;
        const QString input = damagedCopy(dir, fixture);
        const std::vector<uint8_t> damaged = readAll(input);
        const std::vector<size_t> listed = scan(p, input);
        QVERIFY(listed.size() >= 2);
        const QMap<QString, QStringList> found = cellsByIndex(p);

        QVERIFY(hammer(p, "RadioAUTO"));
        // A row keeps the position its block has in the input and the sizes
        // it was found with; a block made sound shows no run, and its
        // action says what was done.
        const QMap<QString, QStringList> repaired = cellsByIndex(p);
        for (auto row = found.begin(); row != found.end(); ++row) {
            const QStringList now = repaired.value(row.key());
            QCOMPARE(now.mid(0, 3), row.value().mid(0, 3));
            const size_t entry = QString(row.key()).remove(QLatin1Char('\'')).toULong();
            if (p.state.table[entry].broken != kBrokenListed)
                QVERIFY2(now[3].isEmpty(), qPrintable(now.join(QLatin1Char('|'))));
        }
        const Summary summary = summaryIn(p.status());
        QVERIFY2(summary.valid, qPrintable(p.status()));
        QCOMPARE(p.get<QLabel>("LabelST")->toolTip(), p.status());
        QCOMPARE(summary.counts.blocks, listed.size());
        QCOMPARE(summary.counts.exact + summary.counts.decodable + summary.counts.unresolved,
                 listed.size());

        // Every block given keeps its row, in table order, with its action.
        const std::vector<size_t> rows = rowEntries(p);
        QVERIFY(std::includes(rows.begin(), rows.end(), listed.begin(), listed.end()));
        auto* list = p.get<QTableView>("StringER");
        QCOMPARE(list->model()->headerData(kActionColumn, Qt::Horizontal).toString(),
                 QStringLiteral("действие"));
        QVERIFY(list->columnWidth(kActionColumn) > 0);
        const QStringList actions = actionColumn(p);
        QCOMPARE(actions.size(), int(rows.size()));
        size_t unresolvedRows = 0;
        for (const QString& action : actions) {
            QVERIFY2(action.contains(QStringLiteral(" — ")), qPrintable(action));
            unresolvedRows += action.endsWith(QStringLiteral("не решено"));
        }
        QCOMPARE(unresolvedRows, summary.counts.unresolved);
        // A block left unresolved is still listed broken; a resolved one is not.
        size_t stillBroken = 0;
        for (size_t i : rows) stillBroken += p.state.table[i].broken == kBrokenListed;
        QCOMPARE(stillBroken, summary.counts.unresolved);

        p.get<QLineEdit>("EditOUT")->setText(dir.filePath(QStringLiteral("out.mpg")));
        p.answer(true);  // the second fixture's output replaces the first's
        p.get<TImage>("ImageSA")->clicked();
        QVERIFY(p.waitForJobEnd());
        QCOMPARE(p.status(), QStringLiteral("файл сохранён"));
        QVERIFY(readAll(input) == damaged);
        QVERIFY(!readAll(dir.filePath(QStringLiteral("out.mpg"))).empty());
        // The list keeps its rows through the save.
        QCOMPARE(actionColumn(p), actions);
    }
}

// After an automatic repair the hammer takes only the rows whose blocks are
// still listed broken: a block the repair made sound is not accepted again.
// The run of another strategy ends the rows of the repair.
void AutoRepairWindowTest::furtherHammerTakesOnlyBrokenRows() {
    QTemporaryDir dir;
    Program p;
    const std::vector<size_t> listed = scan(p, damagedCopy(dir, "av.mpg"));
    QVERIFY(listed.size() >= 2);
    QVERIFY(hammer(p, "RadioAUTO"));
    QCOMPARE(rowEntries(p).size(), listed.size());
    // As the repair leaves a block it resolved: sound, and still in the list.
    const size_t resolved = listed.front();
    p.state.table[resolved].broken = kSound;
    std::vector<size_t> broken;
    for (size_t i : listed) {
        if (p.state.table[i].broken == kBrokenListed) broken.push_back(i);
    }

    QVERIFY(hammer(p, "RadioISALL"));
    QCOMPARE(p.state.table[resolved].broken, kSound);
    for (size_t i : broken) QCOMPARE(p.state.table[i].broken, kBrokenAccepted);
    QVERIFY(p.main.grid().cell(1, 0).empty());
    QCOMPARE(p.get<QTableView>("StringER")->columnWidth(kActionColumn), 0);
}

// The other strategies leave the column empty and out of sight; a new scan
// ends the rows of an automatic repair.
void AutoRepairWindowTest::otherStrategiesLeaveTheColumnEmpty() {
    QTemporaryDir dir;
    Program p;
    const QString input = damagedCopy(dir, "av.mpg");
    QVERIFY(!scan(p, input).empty());
    auto* list = p.get<QTableView>("StringER");
    QCOMPARE(list->columnWidth(kActionColumn), 0);
    QVERIFY(hammer(p, "RadioRERE"));
    QVERIFY(!rowEntries(p).empty());
    for (const QString& action : actionColumn(p)) QVERIFY(action.isEmpty());
    QCOMPARE(list->columnWidth(kActionColumn), 0);

    QVERIFY(!scan(p, input).empty());
    QVERIFY(hammer(p, "RadioAUTO"));
    QVERIFY(!actionColumn(p).first().isEmpty());
    const size_t rows = rowEntries(p).size();
    p.answer(false);  // "сначала"
    QVERIFY(scan(p, input).size() <= rows);
    for (const QString& action : actionColumn(p)) QVERIFY(action.isEmpty());
    QCOMPARE(list->columnWidth(kActionColumn), 0);
}

// One click scans the file just saved: the status line gives its blocks and
// broken ones, as the command line finds them, and the blocks the writer
// padded or gave a new length, which such a scan takes for sound; unresolved
// blocks are named. The input stays as it was.
void AutoRepairWindowTest::verifyReportsTheSavedFile() {
    QTemporaryDir dir;
    Program p;
    const QString input = damagedCopy(dir, "vcd.mpg");
    const std::vector<uint8_t> damaged = readAll(input);
    QVERIFY(!scan(p, input).empty());
    QVERIFY(hammer(p, "RadioAUTO"));
    const Summary summary = summaryIn(p.status());
    QVERIFY(summary.valid);
    const QString output = dir.filePath(QStringLiteral("out.mpg"));
    p.get<QLineEdit>("EditOUT")->setText(output);
    p.get<TImage>("ImageSA")->clicked();
    QVERIFY(p.waitForJobEnd());
    auto* verify = p.get<QPushButton>("BitBtnVERIFY");
    QVERIFY(verify->isEnabled());
    // The output field no longer names the file saved: the file saved is checked.
    p.get<QLineEdit>("EditOUT")->setText(dir.filePath(QStringLiteral("other.mpg")));
    const auto table = p.state.table.entries();

    verify->click();
    QVERIFY(p.main.jobRunning());
    QVERIFY(p.main.jobs().job() == Job::Verify);
    QCOMPARE(p.get<QPushButton>("BitBtnGO")->text(), QStringLiteral("стоп"));
    QVERIFY(p.waitForJobEnd());
    const QString status = p.status();
    static const QRegularExpression pattern(
        QStringLiteral("^результат out.mpg: блоков ([\\d']+), с ошибками ([\\d']+)"));
    const QRegularExpressionMatch m = pattern.match(status);
    QVERIFY2(m.hasMatch(), qPrintable(status));
    QVERIFY(m.captured(1).remove(QLatin1Char('\'')).toInt() > 100);
    QCOMPARE(m.captured(2).remove(QLatin1Char('\'')).toInt(), cliBrokenRows(output));
    QVERIFY(status.contains(QStringLiteral("; длина переписана: ")));
    QCOMPARE(status.contains(QStringLiteral("; не решено: ")), summary.counts.unresolved > 0);
    if (summary.counts.unresolved > 0) {
        QVERIFY(status.endsWith(QStringLiteral("; не решено: %1").arg(summary.counts.unresolved)));
    }
    QCOMPARE(p.get<QPushButton>("BitBtnGO")->text(), QStringLiteral("го"));
    QVERIFY(!p.get<TGauge>("GaugeZZ")->isVisibleTo(&p.main));
    // The repair's table and list are not the check's.
    QVERIFY(p.state.table.entries() == table);
    QVERIFY(!actionColumn(p).first().isEmpty());
    QVERIFY(readAll(input) == damaged);
    QVERIFY(!QFileInfo::exists(dir.filePath(QStringLiteral("other.mpg"))));

    QCOMPARE(verify->toolTip(), QStringLiteral("проверить out.mpg"));
    // Another file opened has no result yet: the button waits for its save.
    p.setInput(dir.filePath(QStringLiteral("other.mpg")).toStdString());
    p.get<QPushButton>("BitBtnOP")->click();
    p.setInput(input.toStdString());
    p.get<QPushButton>("BitBtnOP")->click();
    QVERIFY(!verify->isEnabled());
    QVERIFY(!scan(p, input).empty());
    p.get<QLineEdit>("EditOUT")->setText(output);
    p.answer(true);
    p.get<TImage>("ImageSA")->clicked();
    QVERIFY(p.waitForJobEnd());
    QVERIFY(verify->isEnabled());

    // A save that fails leaves nothing to check.
    p.get<QLineEdit>("EditOUT")->setText(dir.filePath(QStringLiteral("no/such/folder.mpg")));
    p.get<TImage>("ImageSA")->clicked();
    QVERIFY(p.waitForJobEnd());
    QVERIFY(!verify->isEnabled());
}

// "стоп" during the check, answered yes, stops its scan: the status says so.
void AutoRepairWindowTest::verifyStopsLikeOtherJobs() {
    QTemporaryDir dir;
    Program p;
    QVERIFY(!scan(p, damagedCopy(dir, "av.mpg")).empty());
    const QString output = dir.filePath(QStringLiteral("out.mpg"));
    p.get<QLineEdit>("EditOUT")->setText(output);
    p.get<TImage>("ImageSA")->clicked();
    QVERIFY(p.waitForJobEnd());

    // The user's stop arrives at the check's first progress report.
    std::atomic<int> progress = 0;
    p.main.jobs().setJobThreadHook([&](const Notice& n) {
        if (n.kind == Notify::Progress && progress++ == 0) p.state.job.stopRequested = true;
    });
    p.get<QPushButton>("BitBtnVERIFY")->click();
    QVERIFY(p.waitForJobEnd());
    QVERIFY(progress > 0);
    QCOMPARE(p.status(), QStringLiteral("прервано пользователем"));
    QVERIFY(!p.state.job.stopRequested);

    // The next check runs whole.
    p.main.jobs().setJobThreadHook({});
    p.get<QPushButton>("BitBtnVERIFY")->click();
    QVERIFY(p.waitForJobEnd());
    QVERIFY2(p.status().startsWith(QStringLiteral("результат out.mpg: блоков ")),
             qPrintable(p.status()));
    // Without an automatic repair there is nothing rewritten to name, but
    // the listed blocks the fallback wrote are.
    QVERIFY(!p.status().contains(QStringLiteral("длина переписана")));
    QVERIFY(
        p.status().contains(QStringLiteral("; не решено: %1").arg(p.main.grid().rowCount() - 1)));
}

QTEST_MAIN(AutoRepairWindowTest)
#include "auto_repair_window_test.moc"
