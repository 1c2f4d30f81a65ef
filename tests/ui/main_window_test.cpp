#include <fcntl.h>
#include <sched.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>

#include <QAction>
#include <QCheckBox>
#include <QDir>
#include <QFileDialog>
#include <QLabel>
#include <QLineEdit>
#include <QPointer>
#include <QProcess>
#include <QPushButton>
#include <QRadioButton>
#include <QTabWidget>
#include <QTableView>
#include <QTimer>
#include <QtTest>

#include "mpgmend_version.h"
#include "support/stream_builder.h"
#include "support/temp_dir.h"
#include "ui/error_table.h"
#include "ui/form_du.h"
#include "ui/form_yes_no.h"
#include "ui/main_window.h"
#include "ui/program.h"
#include "ui/widgets.h"

using namespace mpg;
using namespace mpg::ui;
using mpg::test::Program;

namespace {

void sendMouseMove(QWidget* w) {
    QMouseEvent move(QEvent::MouseMove, QPointF(2, 2), w->mapToGlobal(QPointF(2, 2)), Qt::NoButton,
                     Qt::NoButton, Qt::NoModifier);
    QCoreApplication::sendEvent(w, &move);
}

}  // namespace

class MainWindowTest : public QObject {
    Q_OBJECT
  private slots:
    void startValues();
    void resizeRules();
    void columnWidths();
    void hoverFrameAndLogo();
    void openCheck();
    void scanJobEndToEnd();
    void commandLineListsTheSameRows();
    void manyBrokenRowsKeepTheWindowResponsive();
    void continueOrStartAgain();
    void stopDuringResync();
    void saveAfterAStopScansOn();
    void anotherFileScansAsAfresh();
    void inputChangedDuringTheScan();
    void foreignIndexIsRefused();
    void lowPriorityJobsRunAtIdlePriority();
    void closeRefusedWhileJobRuns();
    void lateStopAnswerIsIgnored();
    void repairRoad();
    void hammerRunsAsAJob();
    void indexFileRoundTrip();
    void errorsAreSavedOnlyOfAScan();
    void busyCommandsDoNothing();
    void saveOverTheInputIsRefused();
    void saveToADeviceAsksNothing();
    void saveSettingsArePaired();
    void inputChooserProposesTheOutput();
    void statusLineAndCaption();
};

void MainWindowTest::startValues() {
    Program p;
    QCOMPARE(p.main.windowTitle(),
             QStringLiteral("ремонт файлов в формате MPEG1   ver. " MPGMEND_VERSION));
    QCOMPARE(p.main.size(), QSize(618, 422));
    auto* pages = p.get<QTabWidget>("PageControl1");
    QCOMPARE(pages->count(), 3);
    QCOMPARE(pages->tabText(0), QStringLiteral("ремонт"));
    QCOMPARE(pages->tabText(1), QStringLiteral("сборка"));
    QCOMPARE(pages->tabText(2), QStringLiteral("настройки"));
    QCOMPARE(pages->currentIndex(), 0);
    QVERIFY(!p.dump.isVisible());
    QVERIFY(!p.yesNo.isVisible());

    QCOMPARE(p.get<QPushButton>("BitBtnOP")->text(), QStringLiteral("open"));
    QCOMPARE(p.get<QPushButton>("BitBtnGO")->text(), QStringLiteral("го"));
    QVERIFY(p.get<QLabel>("LabelST")->text().isEmpty());
    QVERIFY(!p.get<QLabel>("LabelPTR")->isVisibleTo(&p.main));
    QVERIFY(!p.get<TGauge>("GaugeZZ")->isVisibleTo(&p.main));
    QVERIFY(!p.get<TImage>("ImageEX")->isVisibleTo(&p.main));
    QVERIFY(!p.get<TImage>("ImageWA")->isVisibleTo(&p.main));
    QCOMPARE(p.get<TImage>("ImageFI")->geometry(), QRect(72, 10, 17, 17));
    QCOMPARE(p.get<QLineEdit>("EditMS")->text(), QStringLiteral("100"));
    QCOMPARE(p.get<QLineEdit>("EditMS")->maxLength(), 4);
    QVERIFY(p.get<QRadioButton>("RadioEQ")->isChecked());
    QVERIFY(!p.get<QRadioButton>("RadioRERE")->isChecked());
    QVERIFY(p.get<QCheckBox>("CheckDP")->isChecked());
    QVERIFY(p.get<QCheckBox>("CheckZR")->isChecked());
    QCOMPARE(p.get<QLabel>("LabelMS")->text(),
             QStringLiteral("размеры повторов не менее               байт"));

    auto* grid = p.get<QTableView>("StringER");
    QCOMPARE(grid->model()->rowCount(), 1);
    QCOMPARE(grid->model()->headerData(3, Qt::Horizontal).toString(),
             QStringLiteral("offset в файле"));
    QCOMPARE(grid->model()->headerData(7, Qt::Horizontal).toString(), QStringLiteral("max повтор"));

    QVERIFY(p.get<QCheckBox>("CheckMS1")->isChecked());
    QVERIFY(!p.get<QCheckBox>("CheckGlue")->isChecked());
    QVERIFY(!p.get<QCheckBox>("Check1PP")->isChecked());
    QVERIFY(p.get<QCheckBox>("CheckPre")->isChecked());
    QCOMPARE(p.get<QPushButton>("BitBtnSUM")->text(), QStringLiteral("склеить"));
    QCOMPARE(p.get<QLabel>("LabelME")->text(), QStringLiteral("mess"));
    QVERIFY(!p.get<TImage>("ImageZ")->isVisibleTo(&p.main));
    QVERIFY(p.get<QCheckBox>("CheckHP")->isChecked());
    QVERIFY(p.get<QCheckBox>("CheckFA")->isChecked());
    QVERIFY(!p.get<QCheckBox>("CheckPR")->isChecked());
    QVERIFY(p.state.highPriority);
    QVERIFY(!p.get<QCheckBox>("CheckST")->isChecked());
    QCOMPARE(p.get<QCheckBox>("CheckST")->text(),
             QStringLiteral("строго по схеме MPEG-1 (заполнение секторов — ошибка)"));
    QVERIFY(p.state.rules == StreamRules::Sound);
}

void MainWindowTest::resizeRules() {
    Program p;
    // Widening the window moves the right-hand column and widens the fields.
    const int op = p.get<QPushButton>("BitBtnOP")->x(), edit = p.get<QLineEdit>("EditIN")->width();
    const int hammer = p.get<TImage>("ImageHAMMER")->x(), logo = p.get<QWidget>("PanelVL")->x();
    p.main.resize(718, 422);
    QCOMPARE(p.get<QPushButton>("BitBtnOP")->x(), op + 100);
    QCOMPARE(p.get<QLineEdit>("EditIN")->width(), edit + 100);
    QCOMPARE(p.get<TImage>("ImageHAMMER")->x(), hammer + 100);
    QCOMPARE(p.get<QWidget>("PanelVL")->x(), logo + 100);
    QCOMPARE(p.get<QWidget>("PanelVL")->x() + 113, 718);
    auto* editIn = p.get<QLineEdit>("EditIN");
    QCOMPARE(editIn->x() + editIn->width() + 12, p.get<QPushButton>("BitBtnGO")->x());

    // Panels 601 pixels wide give the design values.
    p.get<QFrame>("PanelTT")->resize(601, 73);
    p.get<QFrame>("PanelBB")->resize(601, 129);
    QCOMPARE(p.get<QPushButton>("BitBtnOP")->x(), 496);
    QCOMPARE(p.get<QPushButton>("BitBtnGO")->x(), 496);
    QCOMPARE(p.get<QFrame>("BevelTT")->width(), 523);
    QCOMPARE(p.get<QLineEdit>("EditIN")->width(), 388);
    QCOMPARE(p.get<QLabel>("LabelST")->width(), 192);
    QCOMPARE(p.get<QFrame>("BevelBB")->width(), 577);
    QCOMPARE(p.get<TImage>("ImageHAMMER")->x(), 552);
    QCOMPARE(p.get<TImage>("ImageSA")->x(), 571);
    QCOMPARE(p.get<QPushButton>("BitBtnVERIFY")->x(), 436);
    QCOMPARE(p.get<QLineEdit>("EditOUT")->width(), 412);
}

void MainWindowTest::columnWidths() {
    Program p;
    auto* grid = p.get<QTableView>("StringER");
    // The kind column keeps its width; the design's columns share the rest.
    QCOMPARE(grid->columnWidth(kKindColumn), kKindColumnWidth);
    const int w = grid->viewport()->width() - kKindColumnWidth;
    const int share = (w - 31 - 47 - 84) / 5;
    QCOMPARE(grid->columnWidth(0), 31);
    QCOMPARE(grid->columnWidth(2), 84);
    // The offset column holds 11 digits with their separators at least.
    const int offsets =
        grid->fontMetrics().horizontalAdvance(QStringLiteral("99'999'999'999")) + 12;
    QCOMPARE(grid->columnWidth(3), std::max(share, offsets));
    QCOMPARE(grid->columnWidth(6), share);
    QCOMPARE(grid->columnWidth(7), w - (162 + 4 * share) - 8);

    // Offsets past 4 GiB show grouped by thousands, and their column holds
    // 11 digits with separators even when the window is narrow.
    ErrorGrid rows;
    BlockRecord far{5'368'709'120u, 0x1E0, 2006};
    rows.onBroken(7, far);
    far.realSize = 2100;
    rows.onResolved(7, far);
    ErrorTableModel model(rows);
    QCOMPARE(model.data(model.index(0, kOffsetColumn), Qt::DisplayRole).toString(),
             QStringLiteral("5'368'709'120"));
    p.main.resize(300, p.main.height());
    QApplication::processEvents();
    QVERIFY(grid->columnWidth(kOffsetColumn) >
            grid->fontMetrics().horizontalAdvance(QStringLiteral("99'999'999'999")));
}

void MainWindowTest::hoverFrameAndLogo() {
    Program p;
    auto* folder = p.get<TImage>("ImageFI");
    sendMouseMove(folder);
    QFrame* frame = p.main.hoverFrame();
    QVERIFY(frame != nullptr);
    QCOMPARE(frame->objectName(), QStringLiteral("BXImageFI"));
    QCOMPARE(frame->parentWidget(), p.get<QFrame>("PanelTT"));
    QCOMPARE(frame->geometry(), folder->geometry().adjusted(-2, -2, 2, 2));

    auto* hammer = p.get<TImage>("ImageHAMMER");
    sendMouseMove(hammer);
    QVERIFY(p.main.findChild<QFrame*>("BXImageFI") == nullptr);
    frame = p.main.hoverFrame();
    QCOMPARE(frame->objectName(), QStringLiteral("BXImageHAMMER"));
    QCOMPARE(frame->parentWidget(), p.get<QFrame>("PanelBB"));

    auto* save = p.get<TImage>("ImageSA");
    sendMouseMove(save);
    QCOMPARE(p.main.hoverFrame(), frame);  // moved on the same panel, not re-created
    QCOMPARE(frame->geometry(), save->geometry().adjusted(-2, -2, 2, 2));
    QVERIFY(frame->isVisible());
    sendMouseMove(p.get<QFrame>("PanelBB"));
    QVERIFY(!frame->isVisible());

    auto* logo = p.get<TImage>("ImageVL");
    QCOMPARE(logo->picture(), QStringLiteral("logo"));
    sendMouseMove(logo);
    QCOMPARE(logo->picture(), QStringLiteral("logo-hover"));
    sendMouseMove(p.get<QTableView>("StringER")->viewport());
    QCOMPARE(logo->picture(), QStringLiteral("logo"));
}

void MainWindowTest::openCheck() {
    Program p;
    test::TempDir dir;
    p.get<QPushButton>("BitBtnOP")->click();
    QCOMPARE(p.status(), QStringLiteral("сюда надо положить имя файла"));
    QVERIFY(p.get<QLineEdit>("EditIN")->text().isEmpty());
    p.setInput(dir.file("missing.mpg"));
    p.get<QPushButton>("BitBtnOP")->click();
    QCOMPARE(p.status().toStdString(),
             "ошибка открытия файла: " + dir.file("missing.mpg") + ": No such file or directory");
    // A FIFO would block the open (and the window) until a writer came.
    const std::string fifo = dir.file("fifo.mpg");
    QCOMPARE(::mkfifo(fifo.c_str(), 0644), 0);
    p.setInput(fifo);
    for (const char* button : {"BitBtnOP", "BitBtnGO"}) {
        p.get<QPushButton>(button)->click();
        QCOMPARE(p.status().toStdString(),
                 "ошибка открытия файла: " + fifo + ": это не обычный файл");
        QVERIFY(!p.main.jobRunning());
    }

    test::StreamBuilder noHeader;
    noHeader.pack().pack().endCode();
    p.setInput(dir.write("nh.mpg", noHeader.bytes()));
    p.get<QPushButton>("BitBtnOP")->click();
    QCOMPARE(p.status(), QStringLiteral("отсутствует System Header"));
    p.setInput(dir.write("ns.mpg", test::StreamBuilder().systemHeader({0xE0}).bytes()));
    p.get<QPushButton>("BitBtnOP")->click();
    QCOMPARE(p.status(), QStringLiteral("отсутствует сигнатура файла"));

    test::StreamBuilder ok;
    ok.pack().systemHeader({0xE0, 0xC0}).endCode();
    p.setInput(dir.write("ok.mpg", ok.bytes()));
    p.get<QPushButton>("BitBtnOP")->click();
    QCOMPARE(p.status(), QStringLiteral("файл открыт, заголовок найден: MPEG-1"));
    QCOMPARE(p.state.codes.first(), 0x1E0u);
    // The strict walk knows one kind and names none.
    p.get<QCheckBox>("CheckST")->setChecked(true);
    p.get<QPushButton>("BitBtnOP")->click();
    QCOMPARE(p.status(), QStringLiteral("файл открыт, заголовок найден"));
    p.get<QCheckBox>("CheckST")->setChecked(false);
    QCOMPARE(p.state.codes.second(), 0x1C0u);
    QCOMPARE(p.state.view.fileHandle(), -1);
    // A video CD names its sector.
    p.setInput(test::fixture("vcd-2324.mpg"));
    p.get<QPushButton>("BitBtnOP")->click();
    QCOMPARE(p.status(), QStringLiteral("файл открыт, заголовок найден: MPEG-1 VCD, сектор 2324"));

    // 4 GiB or more opens like any other stream.
    const std::string big = dir.write("big.mpg", test::typicalStream(2).bytes());
    QVERIFY(::truncate(big.c_str(), 4'294'967'296LL + 1000) == 0);
    p.setInput(big);
    p.get<QPushButton>("BitBtnOP")->click();
    QCOMPARE(p.status(), QStringLiteral("файл открыт, заголовок найден: MPEG-1"));
}

void MainWindowTest::scanJobEndToEnd() {
    Program p;
    test::TempDir dir;
    const test::StreamBuilder b = test::damagedStream();
    p.setInput(dir.write("d.mpg", b.bytes()));
    p.get<QPushButton>("BitBtnOP")->click();
    p.get<QPushButton>("BitBtnGO")->click();
    QVERIFY(p.main.jobRunning() || p.status().startsWith(QStringLiteral("поиск завершен")));
    QVERIFY(p.waitForJobEnd());
    QCOMPARE(p.status(),
             QStringLiteral("поиск завершен: %1 блоков, 1 с ошибками; найдены потоки: C0 E0")
                 .arg(b.blocks().size()));
    QCOMPARE(p.get<QPushButton>("BitBtnGO")->text(), QStringLiteral("го"));
    QVERIFY(!p.get<TGauge>("GaugeZZ")->isVisibleTo(&p.main));
    QVERIFY(!p.get<QLabel>("LabelPTR")->isVisibleTo(&p.main));
    QCOMPARE(p.state.view.fileHandle(), -1);

    const ErrorGrid& g = p.main.grid();
    QCOMPARE(g.rowCount(), 2);
    const ErrorRow want = {"1",    "6",    "000001E0", std::to_string(b.blocks()[6].offset),
                           "2006", "2306", "300",      "300(00) at 100"};
    QVERIFY(g.row(1) == want);
    auto* grid = p.get<QTableView>("StringER");
    QCOMPARE(grid->model()->rowCount(), 1);
    QCOMPARE(grid->model()->index(0, 7).data().toString(), QStringLiteral("300(00) at 100"));
    QCOMPARE(grid->selectionModel()->currentIndex().row(), 0);
    QVERIFY(grid->selectionModel()->isRowSelected(0, {}));
}

// The window and mpgmend-cli show a stream's broken blocks in the same rows.
// The list's data rows as mpgmend-cli prints them: tab-separated cells.
std::string printedRows(const ErrorGrid& grid) {
    std::string rows;
    for (int r = 1; r < grid.rowCount(); ++r) {
        const ErrorRow row = grid.row(r);
        for (size_t c = 0; c < row.size(); ++c) rows += (c ? "\t" : "") + row[c];
        rows += "\n";
    }
    return rows;
}

std::string cliRows(const std::string& path) {
    QProcess cli;
    cli.start(QStringLiteral(MPGMEND_CLI),
              {QStringLiteral("--literal"), QStringLiteral("scan"), QString::fromStdString(path)});
    // 3: broken blocks found.
    if (!cli.waitForFinished(20000) || (cli.exitCode() != 0 && cli.exitCode() != 3)) {
        return "mpgmend-cli failed";
    }
    return cli.readAllStandardOutput().toStdString();
}

void MainWindowTest::commandLineListsTheSameRows() {
    Program p;
    const std::string path = test::fixture("vcd.mpg");
    p.setInput(path);
    // The strict walk lists the fill of the video CD's sectors.
    p.get<QCheckBox>("CheckST")->setChecked(true);
    p.get<QPushButton>("BitBtnGO")->click();
    QVERIFY(p.waitForJobEnd());
    QCOMPARE(cliRows(path), printedRows(p.main.grid()));
    QVERIFY(p.main.grid().rowCount() > 20);
}

// A scan that reports 10,000 broken blocks never waits for the window: the
// window takes the rows in batches while the scan goes on and serves its
// own timers meanwhile. Halfway the job holds until the window has shown
// rows of this scan from a timer's turn, which a window that waited for
// the job (or took the rows only at the end) could not do; the rows come in
// order and are those of the command line.
void MainWindowTest::manyBrokenRowsKeepTheWindowResponsive() {
    constexpr int kBroken = 10000;
    Program p;
    test::TempDir dir;
    const std::string path = dir.write("many.mpg", test::strayByteStream(kBroken).bytes());

    std::atomic<int> broken = 0;
    std::atomic<bool> served = false;
    p.main.jobs().setJobThreadHook([&](const Notice& n) {
        if (n.kind != Notify::Broken || ++broken != kBroken / 2) return;
        // Bounded, so that a window that never serves fails the test
        // instead of hanging it.
        for (int i = 0; i < 20000 && !served; ++i) QThread::msleep(1);
    });
    QTimer tick;
    int shown = 0;
    bool growing = true;
    QObject::connect(&tick, &QTimer::timeout, [&] {
        if (!p.main.jobRunning()) return;
        const int rows = p.main.grid().rowCount();
        growing = growing && rows >= shown;
        shown = rows;
        if (broken >= kBroken / 2 && rows > 1 && rows < kBroken) served = true;
    });
    tick.start(1);
    p.setInput(path);
    p.get<QPushButton>("BitBtnGO")->click();
    QVERIFY(p.waitForJobEnd(60000));
    QVERIFY(served);
    QVERIFY(growing);

    const ErrorGrid& grid = p.main.grid();
    QCOMPARE(grid.rowCount(), kBroken + 1);
    for (int r = 1; r <= kBroken; ++r) {
        QCOMPARE(grid.cell(r, 0), std::to_string(r));
        QCOMPARE(grid.cell(r, 1), std::to_string(r + 1));  // behind the two headers
    }
    QCOMPARE(cliRows(path), printedRows(grid));
    // The pack, the system header and the end code besides the broken packets.
    QCOMPARE(
        p.status(),
        QStringLiteral("поиск завершен: 10'003 блоков, 10'000 с ошибками; найдены потоки: E0"));
}

void MainWindowTest::continueOrStartAgain() {
    Program p;
    test::TempDir dir;
    p.setInput(dir.write("d.mpg", test::damagedStream().bytes()));
    p.get<QPushButton>("BitBtnGO")->click();
    QVERIFY(p.waitForJobEnd());
    const size_t blocks = p.state.table.size();

    p.answer(true);  // "продолжить": nothing left to scan, the rows stay
    p.get<QPushButton>("BitBtnGO")->click();
    QVERIFY(p.waitForJobEnd());
    QCOMPARE(p.captions, QStringLiteral("продолжить/сначала"));
    QCOMPARE(p.state.table.size(), blocks);
    QCOMPARE(p.main.grid().cell(1, 1), std::string("6"));

    p.answer(false);  // "сначала": a fresh scan, the same result
    p.get<QPushButton>("BitBtnGO")->click();
    QVERIFY(p.waitForJobEnd());
    QCOMPARE(p.state.table.size(), blocks);
    QCOMPARE(p.main.grid().rowCount(), 2);
    QCOMPARE(p.status(),
             QStringLiteral("поиск завершен: %1 блоков, 1 с ошибками; найдены потоки: C0 E0")
                 .arg(blocks));
}

// A window whose job reports also reach `hook`, on the job's thread before
// the window sees them: a test acts at an exact point of the job, as a user
// might.
class HookedWindow : public TFormMain {
  public:
    explicit HookedWindow(AppState& state) : TFormMain(state) {
        jobs().setJobThreadHook([this](const Notice& n) {
            if (hook) hook(n.kind);
        });
    }
    std::function<void(Notify)> hook;
};

bool waitForJobEnd(const TFormMain& window) {
    QElapsedTimer t;
    t.start();
    while (window.jobRunning() && t.elapsed() < 20000) QTest::qWait(5);
    return !window.jobRunning();
}

// A stop asked while the scan searches for the end of a broken block: the
// unfinished row and its entry go, so that a resumed scan finds it again.
void MainWindowTest::stopDuringResync() {
    AppState state;
    HookedWindow window(state);
    window.hook = [&](Notify kind) {
        if (kind == Notify::Broken) state.job.stopRequested = true;
    };
    test::TempDir dir;
    window.findChild<QLineEdit*>("EditIN")->setText(
        QString::fromStdString(dir.write("d.mpg", test::damagedStream().bytes())));
    window.findChild<QPushButton*>("BitBtnGO")->click();
    QCOMPARE(window.findChild<QPushButton*>("BitBtnGO")->text(), QStringLiteral("стоп"));
    QVERIFY(waitForJobEnd(window));
    // What the scan had when it stopped, the unfinished block gone again.
    QCOMPARE(window.findChild<QLabel*>("LabelST")->text(),
             QStringLiteral("прервано пользователем: 6 блоков, 0 с ошибками"));
    QCOMPARE(window.grid().rowCount(), 2);
    QVERIFY(window.grid().cell(1, 0).empty());  // the only data row is emptied
    QCOMPARE(state.table.size(), 6u);           // the broken packet is gone again
    QVERIFY(!state.job.stopRequested);
}

// A stopped scan's table is no whole stream: "save" goes on with the scan
// instead, and only the save after it writes the file, the whole stream.
void MainWindowTest::saveAfterAStopScansOn() {
    AppState state;
    HookedWindow window(state);
    std::atomic<bool> stopOnce{true};
    window.hook = [&](Notify kind) {
        if (kind == Notify::Broken && stopOnce.exchange(false)) state.job.stopRequested = true;
    };
    test::TempDir dir;
    const test::StreamBuilder damaged = test::damagedStream();
    window.findChild<QLineEdit*>("EditIN")->setText(
        QString::fromStdString(dir.write("d.mpg", damaged.bytes())));
    window.findChild<QPushButton*>("BitBtnGO")->click();
    QVERIFY(waitForJobEnd(window));
    QCOMPARE(state.table.size(), 6u);
    const std::string output = dir.file("out.mpg");
    window.findChild<QLineEdit*>("EditOUT")->setText(QString::fromStdString(output));
    window.findChild<TImage*>("ImageSA")->clicked();
    QCOMPARE(window.findChild<QPushButton*>("BitBtnGO")->text(), QStringLiteral("стоп"));
    QVERIFY(waitForJobEnd(window));
    QVERIFY(::access(output.c_str(), F_OK) != 0);
    QCOMPARE(state.table.size(), damaged.blocks().size());
    window.findChild<TImage*>("ImageSA")->clicked();
    QVERIFY(waitForJobEnd(window));
    QCOMPARE(window.findChild<QLabel*>("LabelST")->text(), QStringLiteral("файл сохранён"));
    QCOMPARE(test::readFile(output).size(), damaged.size());
}

// The stream codes of a file scanned before (two streams listed) must not
// reach the scan of a video CD stream, whose first system header lists one.
void MainWindowTest::anotherFileScansAsAfresh() {
    Program p;
    const std::string vcd = test::fixture("vcd.mpg");
    p.setInput(vcd);
    p.get<QPushButton>("BitBtnOP")->click();
    p.get<QPushButton>("BitBtnGO")->click();
    QVERIFY(p.waitForJobEnd());
    const auto fresh = p.state.table.entries();
    std::vector<ErrorRow> freshRows;
    for (int r = 0; r < p.main.grid().rowCount(); ++r) freshRows.push_back(p.main.grid().row(r));

    Program q;
    for (const char* name : {"av.mpg", "vcd.mpg"}) {
        q.setInput(test::fixture(name));
        q.get<QPushButton>("BitBtnOP")->click();
        QVERIFY(q.status().startsWith(QStringLiteral("файл открыт, заголовок найден: MPEG-1")));
        q.get<QPushButton>("BitBtnGO")->click();
        QVERIFY(q.waitForJobEnd());
    }
    QVERIFY(q.state.table.entries() == fresh);
    std::vector<ErrorRow> rows;
    for (int r = 0; r < q.main.grid().rowCount(); ++r) rows.push_back(q.main.grid().row(r));
    QVERIFY(rows == freshRows);
}

// The input overwritten while it is scanned: the scan fails with its text
// instead of listing blocks of a file that no longer exists.
void MainWindowTest::inputChangedDuringTheScan() {
    AppState state;
    HookedWindow window(state);
    test::TempDir dir;
    const std::string input = dir.write("d.mpg", test::damagedStream().bytes());
    std::atomic<bool> appended = false;
    window.hook = [&](Notify kind) {
        if (kind != Notify::Broken) return;
        const int fd = ::open(input.c_str(), O_WRONLY | O_APPEND);
        appended = fd >= 0 && ::write(fd, "more", 4) == 4;
        ::close(fd);
    };
    window.findChild<QLineEdit*>("EditIN")->setText(QString::fromStdString(input));
    window.findChild<QPushButton*>("BitBtnGO")->click();
    QVERIFY(waitForJobEnd(window));
    QVERIFY(appended);
    QCOMPARE(window.findChild<QLabel*>("LabelST")->text().toStdString(),
             "входной файл изменился во время работы: " + input);
    QCOMPARE(state.view.fileHandle(), -1);
}

// The index of one file copied beside another: refused with its text, and
// the table stays as the scan left it.
void MainWindowTest::foreignIndexIsRefused() {
    Program p;
    test::TempDir dir;
    test::StreamBuilder other = test::typicalStream(6);
    other.insert(other.blocks()[9].offset + 100, 300, 0x00);
    const std::string a = dir.write("a.mpg", test::damagedStream().bytes());
    const std::string b = dir.write("b.mpg", other.bytes());
    p.setInput(a);
    p.get<QPushButton>("BitBtnGO")->click();
    QVERIFY(p.waitForJobEnd());
    p.main.findChild<QAction*>("MIsoer")->trigger();
    QVERIFY(::rename((a + ".index").c_str(), (b + ".index").c_str()) == 0);

    p.setInput(b);
    p.answer(false);  // "сначала"
    p.get<QPushButton>("BitBtnGO")->click();
    QVERIFY(p.waitForJobEnd());
    const auto scanned = p.state.table.entries();
    p.main.findChild<QAction*>("MIzaer")->trigger();
    QCOMPARE(p.status().toStdString(), "файл ошибок повреждён: " + b + ".index");
    QVERIFY(p.state.table.entries() == scanned);
    QCOMPARE(p.main.grid().cell(1, 1), std::string("9"));
    p.setInput(dir.file("c.mpg"));
    p.main.findChild<QAction*>("MIzaer")->trigger();
    QCOMPARE(p.status().toStdString(), "нет файла ошибок: " + dir.file("c.mpg") + ".index");
}

// Without "высокий приоритет задачи" a job's thread runs at idle CPU and I/O
// priority; with it, as any other thread. The window's thread keeps its own.
void MainWindowTest::lowPriorityJobsRunAtIdlePriority() {
    for (bool low : {true, false}) {
        AppState state;
        state.highPriority = !low;
        JobController jobs(state);
        int32_t result = -1;
        QObject::connect(&jobs, &JobController::finished,
                         [&](Job, const JobResult& r) { result = std::get<int32_t>(r); });
        jobs.start(Job::Scan, [](JobSink&) { return ::sched_getscheduler(0); });
        QTRY_VERIFY(result != -1);
        QCOMPARE(result, low ? SCHED_IDLE : SCHED_OTHER);
    }
    QCOMPARE(::sched_getscheduler(0), SCHED_OTHER);

    // The window starts its scan so when the box is unchecked: the job's
    // thread, reporting a broken block, runs at idle priority.
    AppState state;
    HookedWindow window(state);
    std::atomic<bool> idleThread = false;
    window.hook = [&](Notify kind) {
        if (kind == Notify::Broken) idleThread = ::sched_getscheduler(0) == SCHED_IDLE;
    };
    window.findChild<QCheckBox*>("CheckHP")->setChecked(false);
    test::TempDir dir;
    window.findChild<QLineEdit*>("EditIN")->setText(
        QString::fromStdString(dir.write("d.mpg", test::damagedStream().bytes())));
    window.findChild<QPushButton*>("BitBtnGO")->click();
    QVERIFY(waitForJobEnd(window));
    QVERIFY(idleThread);
}

void MainWindowTest::closeRefusedWhileJobRuns() {
    Program p;
    test::TempDir dir;
    p.get<QCheckBox>("CheckHP")->setChecked(false);
    p.setInput(dir.write("d.mpg", test::damagedStream().bytes()));
    p.get<QPushButton>("BitBtnGO")->click();
    QVERIFY(p.main.jobRunning());
    QVERIFY(!p.main.close());
    QCOMPARE(p.main.windowTitle(), QStringLiteral("сперва остановите поиск"));
    // Nothing else that uses the shared state runs meanwhile.
    p.get<QPushButton>("BitBtnOP")->click();
    QVERIFY(p.status() == QStringLiteral("идёт проверка потока"));
    p.get<QCheckBox>("CheckHP")->setChecked(true);
    QVERIFY(p.waitForJobEnd());
    QVERIFY(p.main.close());
}

void MainWindowTest::lateStopAnswerIsIgnored() {
    Program p;
    test::TempDir dir;
    p.get<QCheckBox>("CheckHP")->setChecked(false);
    test::StreamBuilder small;
    small.pack().systemHeader({0xE0, 0xC0}).pack().packet(0xE0, 100).endCode();
    p.setInput(dir.write("s.mpg", small.bytes()));
    p.get<QPushButton>("BitBtnGO")->click();
    p.answer(true, 1000);  // answered well after the five steps of the scan
    p.get<QPushButton>("BitBtnGO")->click();
    QVERIFY(!p.main.jobRunning());
    QVERIFY(!p.state.job.stopRequested);
    QCOMPARE(p.status(),
             QStringLiteral("поиск завершен: 5 блоков, 0 с ошибками; найдены потоки: C0 E0"));
}

// Open, scan, hammer, save: the saved stream is the undamaged one, and the
// input has not changed.
void MainWindowTest::repairRoad() {
    Program p;
    test::TempDir dir;
    const test::StreamBuilder clean = test::typicalStream(6);
    const test::StreamBuilder damaged = test::damagedStream();
    const std::string input = dir.write("d.mpg", damaged.bytes());
    p.setInput(input);
    p.get<QPushButton>("BitBtnOP")->click();
    p.get<QPushButton>("BitBtnGO")->click();
    QVERIFY(p.waitForJobEnd());
    QCOMPARE(p.main.grid().rowCount(), 2);

    p.get<TImage>("ImageHAMMER")->clicked();
    QVERIFY(p.waitForJobEnd());
    QVERIFY(p.get<TImage>("ImageEX")->isVisibleTo(&p.main));
    QVERIFY(p.main.grid().cell(1, 0).empty());
    QVERIFY(!p.main.findChild<QAction*>("MIsoer")->isEnabled());
    QVERIFY(!p.get<QLabel>("LabelPTR")->isVisibleTo(&p.main));

    const std::string output = dir.file("out.mpg");
    p.get<QLineEdit>("EditOUT")->setText(QString::fromStdString(output));
    p.get<TImage>("ImageSA")->clicked();
    QCOMPARE(p.get<QPushButton>("BitBtnGO")->text(), QStringLiteral("стоп"));
    QVERIFY(p.waitForJobEnd());
    QCOMPARE(p.status(), QStringLiteral("файл сохранён"));
    QCOMPARE(p.get<QPushButton>("BitBtnGO")->text(), QStringLiteral("го"));
    // It ends with its own end code, as the undamaged one does.
    QVERIFY(test::readFile(output) == clean.bytes());
    QVERIFY(test::readFile(input) == damaged.bytes());

    // Saving again over the file asks first; "нет" keeps it.
    p.answer(false);
    p.get<TImage>("ImageSA")->clicked();
    QCOMPARE(p.captions, QStringLiteral("да/нет"));
    QVERIFY(!p.main.jobRunning());

    // After a repair with cuts, "го" starts afresh without asking.
    p.captions.clear();
    p.get<QPushButton>("BitBtnGO")->click();
    QVERIFY(p.waitForJobEnd());
    QVERIFY(p.captions.isEmpty());
    QCOMPARE(p.main.grid().cell(1, 1), std::string("6"));
    QVERIFY(!p.get<TImage>("ImageEX")->isVisibleTo(&p.main));
}

// The hammer works on the job thread: the window goes on answering, shows
// the list as it was until the strategy has ended, and refuses what it
// refuses during a scan; then the list shows what the strategy left.
void MainWindowTest::hammerRunsAsAJob() {
    Program p;
    test::TempDir dir;
    test::StreamBuilder b = test::typicalStream(12);
    for (size_t block : {33, 24, 15, 6}) b.insert(b.blocks()[block].offset + 100, 300, 0x00);
    const std::string input = dir.write("d.mpg", b.bytes());
    p.setInput(input);
    p.get<QPushButton>("BitBtnGO")->click();
    QVERIFY(p.waitForJobEnd());
    QCOMPARE(p.main.grid().rowCount(), 5);
    p.get<QLineEdit>("EditMS")->setText("abc");
    p.get<QRadioButton>("RadioRERE")->setChecked(true);

    p.get<TImage>("ImageHAMMER")->clicked();
    QVERIFY(p.main.jobRunning());
    QVERIFY(p.main.jobs().job() == Job::Hammer);
    QCOMPARE(p.get<QPushButton>("BitBtnGO")->text(), QStringLiteral("стоп"));
    QVERIFY(p.get<TImage>("ImageWA")->isVisibleTo(&p.main));
    QCOMPARE(p.main.grid().rowCount(), 5);
    p.get<TImage>("ImageSA")->clicked();
    p.get<TImage>("ImageHAMMER")->clicked();
    QVERIFY(p.main.jobs().job() == Job::Hammer);
    QVERIFY(!p.main.close());
    QVERIFY(p.waitForJobEnd());

    QCOMPARE(p.get<QLineEdit>("EditMS")->text(), QStringLiteral("100"));
    QCOMPARE(p.state.view.cuts().size(), 4u);
    QCOMPARE(p.main.grid().rowCount(), 5);
    QCOMPARE(p.main.grid().cell(4, 6), std::string("0"));
    // The row names where the block stands in the damaged file: behind the
    // three runs put before it, which the rescan has cut.
    QCOMPARE(p.main.grid().cell(4, 3), std::to_string(b.blocks()[33].offset + 3 * 300));
    QCOMPARE(p.get<QPushButton>("BitBtnGO")->text(), QStringLiteral("го"));
    QVERIFY(!p.get<TImage>("ImageWA")->isVisibleTo(&p.main));
    QVERIFY(!p.get<QLabel>("LabelPTR")->isVisibleTo(&p.main));
    QVERIFY(p.get<TImage>("ImageEX")->isVisibleTo(&p.main));
    QCOMPARE(p.state.view.fileHandle(), -1);

    // A stop that comes before the first row: nothing changes, and it says so.
    const auto table = p.state.table.entries();
    p.get<QRadioButton>("RadioISALL")->setChecked(true);  // would empty the list
    p.state.job.stopRequested = true;
    p.get<TImage>("ImageHAMMER")->clicked();
    QVERIFY(p.waitForJobEnd());
    QCOMPARE(p.status(),
             QStringLiteral("прервано пользователем: исправлено строк: 0, осталось: 4"));
    QVERIFY(p.state.table.entries() == table);
    QCOMPARE(p.state.view.cuts().size(), 4u);
    QCOMPARE(p.main.grid().rowCount(), 5);
    QVERIFY(!p.state.job.stopRequested);
}

void MainWindowTest::indexFileRoundTrip() {
    Program p;
    test::TempDir dir;
    const std::string input = dir.write("d.mpg", test::damagedStream().bytes());
    p.setInput(input);
    p.get<QPushButton>("BitBtnOP")->click();
    p.get<QPushButton>("BitBtnGO")->click();
    QVERIFY(p.waitForJobEnd());
    const auto scanned = p.state.table.entries();
    p.main.findChild<QAction*>("MIsoer")->trigger();
    QCOMPARE(test::readFile(input + ".index").size(), 26 * scanned.size());

    p.get<QRadioButton>("RadioISALL")->setChecked(true);
    p.get<TImage>("ImageHAMMER")->clicked();
    QVERIFY(p.waitForJobEnd());
    QCOMPARE(p.state.table[6].broken, kBrokenAccepted);
    p.main.findChild<QAction*>("MIzaer")->trigger();
    QVERIFY(p.state.table.entries() == scanned);
    QCOMPARE(p.main.grid().cell(1, 1), std::string("6"));

    // Saving over an existing index asks; "нет" leaves it as it was.
    test::TempDir other;
    p.answer(false);
    p.main.findChild<QAction*>("MIsoer")->setEnabled(true);
    p.state.table.dropLast();
    p.main.findChild<QAction*>("MIsoer")->trigger();
    QCOMPARE(p.captions, QStringLiteral("да/нет"));
    QCOMPARE(test::readFile(input + ".index").size(), 26 * scanned.size());
}

// "сохранить ошибки" follows the scan: grey after an open and after a
// repair, on again after a fresh scan. Forced on a file opened but not
// scanned, it refuses with its reason, asks nothing and leaves the index.
void MainWindowTest::errorsAreSavedOnlyOfAScan() {
    Program p;
    test::TempDir dir;
    const std::string input = dir.write("d.mpg", test::damagedStream().bytes());
    auto* save = p.main.findChild<QAction*>("MIsoer");
    QVERIFY(!save->isEnabled());
    p.setInput(input);
    p.get<QPushButton>("BitBtnGO")->click();
    QVERIFY(p.waitForJobEnd());
    QVERIFY(save->isEnabled());
    save->trigger();
    const std::vector<uint8_t> index = test::readFile(input + ".index");
    QVERIFY(!index.empty());

    p.get<QPushButton>("BitBtnOP")->click();
    QVERIFY(!save->isEnabled());
    save->setEnabled(true);
    p.answer(false);
    save->trigger();
    QCOMPARE(p.status(),
             QStringLiteral("ошибки не сохранены: поток не проверен после открытия или ремонта"));
    QVERIFY(p.captions.isEmpty());
    QVERIFY(test::readFile(input + ".index") == index);

    p.get<QPushButton>("BitBtnGO")->click();
    QVERIFY(p.waitForJobEnd());
    QVERIFY(save->isEnabled());
    p.get<TImage>("ImageHAMMER")->clicked();
    QVERIFY(p.waitForJobEnd());
    QVERIFY(!save->isEnabled());
    p.get<QPushButton>("BitBtnGO")->click();
    QVERIFY(p.waitForJobEnd());
    QVERIFY(save->isEnabled());
}

void MainWindowTest::busyCommandsDoNothing() {
    Program p;
    test::TempDir dir;
    const std::string input = dir.write("d.mpg", test::damagedStream().bytes());
    p.setInput(input);
    p.get<QPushButton>("BitBtnGO")->click();
    QVERIFY(p.waitForJobEnd());
    p.get<QCheckBox>("CheckHP")->setChecked(false);
    p.answer(false);  // "сначала"
    p.get<QPushButton>("BitBtnGO")->click();
    QVERIFY(p.main.jobRunning());
    p.get<TImage>("ImageHAMMER")->clicked();
    p.get<TImage>("ImageSA")->clicked();
    p.get<TImage>("ImageFI")->clicked();
    p.main.findChild<QAction*>("MIsoer")->trigger();
    p.main.findChild<QAction*>("MIzaer")->trigger();
    QVERIFY(p.state.view.cuts().empty());
    QVERIFY(!QFileInfo::exists(QString::fromStdString(input + ".index")));
    QVERIFY(p.main.jobs().job() == Job::Scan);
    QVERIFY(QApplication::activeModalWidget() == nullptr);
    p.get<QCheckBox>("CheckHP")->setChecked(true);
    QVERIFY(p.waitForJobEnd());
}

void MainWindowTest::saveOverTheInputIsRefused() {
    Program p;
    test::TempDir dir;
    const auto bytes = test::damagedStream().bytes();
    const std::string input = dir.write("d.mpg", bytes);
    p.setInput(input);
    p.get<QPushButton>("BitBtnGO")->click();
    QVERIFY(p.waitForJobEnd());
    p.get<QLineEdit>("EditOUT")->setText(QString::fromStdString(
        dir.path() + "/../" + QFileInfo(dir.path().c_str()).fileName().toStdString() + "/d.mpg"));
    p.answer(true);
    p.get<TImage>("ImageSA")->clicked();
    QVERIFY(p.waitForJobEnd());
    QCOMPARE(p.status(), QStringLiteral("выходной файл совпадает с входным: ") +
                             p.get<QLineEdit>("EditOUT")->text());
    QVERIFY(test::readFile(input) == bytes);

    // An index file name that is a link to the input: refused the same way.
    const std::string index = input + ".index";
    QVERIFY(::symlink(input.c_str(), index.c_str()) == 0);
    p.answer(true);  // "файл уже существует. перезаписать?"
    p.main.findChild<QAction*>("MIsoer")->trigger();
    QCOMPARE(p.status(),
             QStringLiteral("выходной файл совпадает с входным: ") + QString::fromStdString(index));
    QVERIFY(test::readFile(input) == bytes);
}

// Only a regular file has contents to lose: saving to a device asks nothing.
void MainWindowTest::saveToADeviceAsksNothing() {
    Program p;
    test::TempDir dir;
    const auto bytes = test::damagedStream().bytes();
    p.setInput(dir.write("d.mpg", bytes));
    p.get<QPushButton>("BitBtnGO")->click();
    QVERIFY(p.waitForJobEnd());
    p.get<QLineEdit>("EditOUT")->setText(QStringLiteral("/dev/null"));
    p.answer(false);  // a question would be answered "нет", and nothing saved
    p.get<TImage>("ImageSA")->clicked();
    QVERIFY(p.waitForJobEnd());
    QCOMPARE(p.status(), QStringLiteral("файл сохранён"));
    QVERIFY(p.captions.isEmpty());
    QFileInfo null(QStringLiteral("/dev/null"));
    QVERIFY(null.exists() && !null.isFile());
}

void MainWindowTest::saveSettingsArePaired() {
    Program p;
    auto* fa = p.get<QCheckBox>("CheckFA");
    auto* pr = p.get<QCheckBox>("CheckPR");
    pr->click();
    QVERIFY(pr->isChecked() && !fa->isChecked());
    QVERIFY(!p.state.headerFromRealSize);
    pr->click();
    QVERIFY(pr->isChecked() && !fa->isChecked());
    fa->click();
    QVERIFY(fa->isChecked() && !pr->isChecked());
    QVERIFY(p.state.headerFromRealSize);
    // The strict walk is a setting of its own, for every job that reads a stream.
    auto* strict = p.get<QCheckBox>("CheckST");
    strict->click();
    QVERIFY(p.state.rules == StreamRules::Literal);
    QVERIFY(fa->isChecked());
    strict->click();
    QVERIFY(p.state.rules == StreamRules::Sound);
}

// Runs `act` on the next file dialog once it shows, and again while that
// dialog stays open (its directory listing fills in the background).
void onFileDialog(QWidget* owner, std::function<void(QFileDialog*)> act) {
    auto* timer = new QTimer(owner);
    auto seen = std::make_shared<QPointer<QFileDialog>>();
    QObject::connect(timer, &QTimer::timeout, [owner, timer, act, seen] {
        if (seen->isNull()) *seen = owner->findChild<QFileDialog*>();
        if (seen->isNull() || !(*seen)->isVisible()) return;
        act(*seen);
        if (!(*seen)->isVisible()) timer->deleteLater();
    });
    timer->start(20);
}

void MainWindowTest::inputChooserProposesTheOutput() {
    Program p;
    test::TempDir dir;
    const std::string input = dir.write("Film.MPG", test::damagedStream().bytes());
    dir.write("film.001.mpg", {});
    QString startDir;
    onFileDialog(&p.main, [&](QFileDialog* dialog) {
        if (startDir.isEmpty()) startDir = dialog->directory().absolutePath();
        // As a user types the path into the name field and presses Enter.
        if (auto* name = dialog->findChild<QLineEdit*>("fileNameEdit")) {
            name->setText(QString::fromStdString(input));
        }
        static_cast<QDialog*>(dialog)->accept();
    });
    p.get<TImage>("ImageFI")->clicked();
    // With no input yet the dialog starts at home, never in the program's folder.
    QCOMPARE(startDir, QDir::homePath());
    QCOMPARE(p.get<QLineEdit>("EditIN")->text().toStdString(), input);
    QCOMPARE(p.get<QLineEdit>("EditOUT")->text().toStdString(), dir.path() + "/film.002.mpg");

    // A cancelled dialog starts in the last folder and still proposes a name.
    p.setInput(dir.path() + "/Other.mpg");
    onFileDialog(&p.main, [&](QFileDialog* dialog) {
        startDir = dialog->directory().absolutePath();
        dialog->reject();
    });
    p.get<TImage>("ImageFI")->clicked();
    QCOMPARE(startDir.toStdString(), dir.path());
    QCOMPARE(p.get<QLineEdit>("EditOUT")->text().toStdString(), dir.path() + "/other.001.mpg");

    // A typed input gets its own proposal, so the save cannot write the new
    // file's repair over the name chosen for the old one.
    p.get<QLineEdit>("EditOUT")->setText("chosen-for-the-old.mpg");
    p.setInput(dir.path() + "/third.mpg");
    QCOMPARE(p.get<QLineEdit>("EditOUT")->text().toStdString(), dir.path() + "/third.001.mpg");
    // A bare name stays bare: it means the current folder.
    p.setInput("bare.mpg");
    QCOMPARE(p.get<QLineEdit>("EditOUT")->text(), QStringLiteral("bare.001.mpg"));
}

// The status line holds its longest fixed text whole, and a message in the
// title bar gives way to the caption at the next successful command.
void MainWindowTest::statusLineAndCaption() {
    Program p;
    test::TempDir dir;
    auto* status = p.get<QLabel>("LabelST");
    for (const char* text : {"файл открыт, заголовок найден: MPEG-2 PS SVCD, сектор 2324",
                             "отсутствует сигнатура файла", "ошибка сохранения файла"}) {
        status->setText(QString::fromUtf8(text));
        QVERIFY2(status->heightForWidth(status->width()) <= status->height(), text);
    }

    const QString caption = p.main.windowTitle();
    p.setInput(dir.write("bad.mpg", std::vector<uint8_t>(64, 0x47)));
    p.get<QPushButton>("BitBtnGO")->click();
    QVERIFY(p.waitForJobEnd());
    QCOMPARE(p.main.windowTitle(), QStringLiteral("отсутствует сигнатура файла"));
    p.setInput(dir.write("ok.mpg", test::typicalStream(3).bytes()));
    p.get<QPushButton>("BitBtnOP")->click();
    QCOMPARE(p.main.windowTitle(), caption);
}

QTEST_MAIN(MainWindowTest)
#include "main_window_test.moc"
