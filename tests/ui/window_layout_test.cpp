// The window at its smallest size, in both languages, and files dropped on
// it from a file manager.
#include <QDropEvent>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMimeData>
#include <QTabBar>
#include <QTabWidget>
#include <QThread>
#include <QUrl>
#include <QtTest>

#include "i18n/qt_translations.h"
#include "support/stream_builder.h"
#include "support/temp_dir.h"
#include "ui/join_page.h"
#include "ui/program.h"

using namespace mpg;
using namespace mpg::ui;
using mpg::test::entries;
using mpg::test::Program;

namespace {

QString describe(const QWidget* w) {
    QString name = w->objectName();
    if (name.isEmpty()) name = QString::fromLatin1(w->metaObject()->className());
    const QRect g = w->geometry();
    return QStringLiteral("%1 (%2,%3 %4x%5)")
        .arg(name)
        .arg(g.x())
        .arg(g.y())
        .arg(g.width())
        .arg(g.height());
}

// Where one control covers another at this size: two visible siblings whose
// places intersect, or a control that its parent cuts off. The least repeat
// length's field sits by design in the gap its label leaves for it.
QStringList collisions(QWidget* parent) {
    QStringList found;
    QList<QWidget*> shown;
    for (QWidget* w : parent->findChildren<QWidget*>(Qt::FindDirectChildrenOnly)) {
        if (w->isVisibleTo(parent) && !w->isWindow()) shown.append(w);
    }
    const auto designed = [](const QWidget* a, const QWidget* b) {
        const QSet<QString> pair = {a->objectName(), b->objectName()};
        return pair == QSet<QString>{QStringLiteral("LabelMS"), QStringLiteral("EditMS")};
    };
    for (int i = 0; i < shown.size(); ++i) {
        QWidget* a = shown[i];
        if (!parent->rect().contains(a->geometry()))
            found << describe(a) + QStringLiteral(" is cut off by ") + describe(parent);
        for (int j = i + 1; j < shown.size(); ++j) {
            QWidget* b = shown[j];
            // The design's rows, 17 pixels high, lie 16 apart: neighbours
            // may share their edge lines.
            const QRect both = a->geometry().intersected(b->geometry());
            if (both.width() > 2 && both.height() > 2 && !designed(a, b))
                found << describe(a) + QStringLiteral(" covers ") + describe(b);
        }
        // The panels' own controls; a list's or a splitter's inner parts are
        // Qt's to place.
        if (qobject_cast<QFrame*>(a) != nullptr && qobject_cast<QAbstractScrollArea*>(a) == nullptr)
            found << collisions(a);
    }
    return found;
}

QStringList windowCollisions(Program& p) {
    QStringList found;
    auto* tabs = p.get<QTabWidget>("PageControl1");
    for (int page = 0; page < tabs->count(); ++page) {
        tabs->setCurrentIndex(page);
        QCoreApplication::processEvents();
        QWidget* sheet = tabs->widget(page);
        found << collisions(sheet);
        // The joining page's right panel sits in a splitter.
        if (auto* panel = sheet->findChild<QWidget*>(QStringLiteral("PanelSR"))) {
            if (panel->width() < panel->minimumWidth())
                found << describe(panel) + QStringLiteral(" is narrower than its controls");
            found << collisions(panel);
        }
    }
    // The logo in the top right corner stays clear of the page tabs.
    const QTabBar* bar = tabs->tabBar();
    const QRect strip(bar->mapTo(&p.main, QPoint(0, 0)),
                      QSize(bar->tabRect(bar->count() - 1).right() + 1, bar->height()));
    QWidget* logo = p.get<QWidget>("PanelVL");
    if (logo->geometry().intersects(strip))
        found << describe(logo) + QStringLiteral(" covers the page tabs");
    return found;
}

QMimeData* filesData(const QStringList& paths) {
    auto* data = new QMimeData;
    QList<QUrl> urls;
    for (const QString& path : paths) urls << QUrl::fromLocalFile(path);
    data->setUrls(urls);
    return data;
}

// A drag of `paths` entering `target` and dropped there, as a file manager
// makes it; whether the drop was taken.
bool dropFiles(QWidget* target, const QStringList& paths) {
    std::unique_ptr<QMimeData> data(filesData(paths));
    const QPoint at = target->rect().center();
    QDragEnterEvent enter(at, Qt::CopyAction, data.get(), Qt::LeftButton, Qt::NoModifier);
    QCoreApplication::sendEvent(target, &enter);
    if (!enter.isAccepted()) return false;
    QDropEvent drop(QPointF(at), Qt::CopyAction, data.get(), Qt::LeftButton, Qt::NoModifier);
    QCoreApplication::sendEvent(target, &drop);
    return drop.isAccepted();
}

}  // namespace

class WindowLayoutTest : public QObject {
    Q_OBJECT
  private slots:
    void smallestWindowHasNoOverlap_data();
    void smallestWindowHasNoOverlap();
    void fileDroppedOnTheWindowOpens();
    void filesDroppedOnTheJoinListAreAddedInOrder();
};

void WindowLayoutTest::smallestWindowHasNoOverlap_data() {
    QTest::addColumn<bool>("english");
    QTest::newRow("Russian") << false;
    QTest::newRow("English") << true;
}

void WindowLayoutTest::smallestWindowHasNoOverlap() {
    QFETCH(bool, english);
    QtTranslations translations;
    QVERIFY(translations.loaded());
    if (english) QCoreApplication::installTranslator(&translations.translator(Language::English));
    {
        Program p;
        const QSize least = p.main.minimumSize();
        QVERIFY(least.width() > 0 && least.height() > 0);
        // The design size is the start, and no smaller than the least.
        QVERIFY(p.main.width() >= least.width() && p.main.height() >= least.height());
        p.main.resize(least - QSize(50, 50));
        QCOMPARE(p.main.size(), least);
        const QStringList found = windowCollisions(p);
        QVERIFY2(found.isEmpty(), qPrintable(found.join(QStringLiteral("\n"))));
        // The check finds a collision where there is one: well below the
        // least size some control is covered.
        p.main.setMinimumSize(0, 0);
        p.main.resize(least - QSize(40, 40));
        QVERIFY(!windowCollisions(p).isEmpty());
    }
    QCoreApplication::removeTranslator(&translations.translator(Language::English));
}

void WindowLayoutTest::fileDroppedOnTheWindowOpens() {
    Program p;
    test::TempDir dir;
    test::StreamBuilder ok;
    ok.pack().systemHeader({0xE0, 0xC0}).endCode();
    const std::string first = dir.write("first.mpg", ok.bytes());
    const std::string second = dir.write("second.mpg", ok.bytes());
    auto* tabs = p.get<QTabWidget>("PageControl1");
    tabs->setCurrentIndex(2);  // the settings page: the drop shows the repair page
    // A folder is no stream: the drop is refused, nothing opens.
    QVERIFY(!dropFiles(&p.main, {QString::fromStdString(dir.path())}));
    QVERIFY(p.get<QLineEdit>("EditIN")->text().isEmpty());
    // Of several files the first opens, as `mpgmend FILE` opens it.
    QVERIFY(dropFiles(&p.main, {QString::fromStdString(dir.path()), QString::fromStdString(first),
                                QString::fromStdString(second)}));
    QCOMPARE(tabs->currentIndex(), 0);
    QCOMPARE(p.get<QLineEdit>("EditIN")->text(), QString::fromStdString(first));
    QCOMPARE(p.status(), QStringLiteral("файл открыт, заголовок найден: MPEG-1"));
    QCOMPARE(test::readFile(first), ok.bytes());
    // The input field passes a drop on to the window, not its text into itself.
    QVERIFY(!p.get<QLineEdit>("EditIN")->acceptDrops());
    QVERIFY(dropFiles(&p.main, {QString::fromStdString(second)}));
    QCOMPARE(p.get<QLineEdit>("EditIN")->text(), QString::fromStdString(second));
    // While a job runs the drop is refused, and the file open stays.
    p.main.jobs().start(Job::Scan, [&p](JobSink&) {
        while (!p.state.job.stopRequested) QThread::msleep(1);
        return int32_t{0};
    });
    QVERIFY(!dropFiles(&p.main, {QString::fromStdString(first)}));
    QCOMPARE(p.get<QLineEdit>("EditIN")->text(), QString::fromStdString(second));
    p.main.jobs().stop(p.main.jobs().generation());
    QVERIFY(p.waitForJobEnd());
    QVERIFY(dropFiles(&p.main, {QString::fromStdString(first)}));
    QCOMPARE(p.get<QLineEdit>("EditIN")->text(), QString::fromStdString(first));
}

void WindowLayoutTest::filesDroppedOnTheJoinListAreAddedInOrder() {
    Program p;
    test::TempDir dir;
    QStringList pieces;
    for (const char* name : {"c.mpg", "a.mpg", "b.mpg"})
        pieces << QString::fromStdString(dir.write(name, test::typicalStream(1).bytes()));
    auto* tabs = p.get<QTabWidget>("PageControl1");
    tabs->setCurrentIndex(1);
    auto* list = p.get<QListWidget>("JList");
    list->addItem(QStringLiteral("already.mpg"));
    // Onto the list, in the drag's order behind what it holds; a folder among
    // them is left out.
    QVERIFY(dropFiles(list->viewport(),
                      {pieces[0], QString::fromStdString(dir.path()), pieces[1], pieces[2]}));
    QCOMPARE(entries(list), QStringList({"already.mpg", pieces[0], pieces[1], pieces[2]}));
    // Anywhere else on the joining page they join the list too.
    QVERIFY(dropFiles(&p.main, {pieces[2]}));
    QCOMPARE(entries(list).last(), pieces[2]);
    QCOMPARE(entries(list).size(), 5);
    QVERIFY(p.get<QLineEdit>("EditIN")->text().isEmpty());
    // A move inside the list still reorders it.
    p.main.joinPage()->rememberDragStart(0);
    p.main.joinPage()->moveDraggedFile(1);
    QCOMPARE(entries(list).mid(0, 2), QStringList({pieces[0], "already.mpg"}));
}

QTEST_MAIN(WindowLayoutTest)
#include "window_layout_test.moc"
