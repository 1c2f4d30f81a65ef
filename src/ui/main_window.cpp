#include "ui/main_window.h"

#include <QCloseEvent>
#include <QDesktopServices>
#include <QDropEvent>
#include <QGuiApplication>
#include <QMimeData>
#include <QScreen>
#include <QTabWidget>
#include <QUrl>

#include "ui/join_page.h"
#include "ui/page_kit.h"
#include "ui/repair_page.h"
#include "ui/settings_page.h"
#include "ui/widgets.h"

namespace mpg::ui {

namespace {

namespace layout {
constexpr QSize kWindow{618, 422};
// The smallest window in which no control covers another, whichever
// language the texts are in: the hammer follows the panel's right edge and
// must stay clear of the strategy options (587 pixels), and the joining
// page's right panel must show its last line (365). The width leaves room
// for the least repeat length's label, which takes its text's width.
constexpr QSize kMinimum{610, 380};
constexpr ControlSpec PanelVL{"PanelVL", {0, 0, 113, 17}};  // at the right edge
constexpr ControlSpec ImageVL{"ImageVL", {8, 5, 100, 10}};
constexpr const char* ImageVLHint =
    QT_TRANSLATE_NOOP("mpg::ui::TFormMain", "домашняя страница программы");
}  // namespace layout

}  // namespace

TFormMain::TFormMain(AppState& state, QWidget* parent)
    : QWidget(parent), state_(state), jobs_(state) {
    setObjectName(QStringLiteral("FormMain"));
    setWindowTitle(mainCaption());
    setFont(windowFont());
    setMouseTracking(true);
    setAcceptDrops(true);
    setMinimumSize(layout::kMinimum);
    resize(layout::kWindow);
    if (const QScreen* screen = QGuiApplication::primaryScreen()) {
        const QRect s = screen->availableGeometry();
        move(s.x() + (s.width() - width()) / 2, s.y() + (s.height() - height()) / 2);
    }

    PageControl1 = new QTabWidget(this);
    PageControl1->setObjectName(QStringLiteral("PageControl1"));
    // Made inside the window, so that the labels that take their text's size
    // measure it in the window's font.
    TabSheetREM = new RepairPage(session_, jobs_, PageControl1);
    TabSheetAD = new JoinPage(session_, jobs_, PageControl1);
    TabSheetCFG = new SettingsPage(state_, PageControl1);
    PageControl1->addTab(TabSheetREM, tr("ремонт"));
    PageControl1->addTab(TabSheetAD, tr("сборка"));
    PageControl1->addTab(TabSheetCFG, tr("настройки"));
    PageControl1->setCurrentWidget(TabSheetREM);
    TabSheetAD->setNearFolder([this] { return TabSheetREM->inputText(); });
    TabSheetAD->setRepairOpener([this](const QString& path) { openOnRepairPage(path); });
    connect(PageControl1, &QTabWidget::currentChanged, this, [this](int page) {
        if (PageControl1->widget(page) == TabSheetAD) TabSheetAD->clearJoinMessages();
    });

    // A mouse move anywhere but on a picture button takes the hover frame away.
    QList<QWidget*> areas = TabSheetREM->mouseAreas() + TabSheetAD->mouseAreas();
    areas.append(TabSheetCFG);
    for (QWidget* area : areas) {
        area->setMouseTracking(true);
        area->installEventFilter(this);
    }
    for (TImage* image : TabSheetREM->framedPictures() + TabSheetAD->framedPictures())
        connect(image, &TImage::hovered, this, &TFormMain::frameHoveredPicture);

    buildLogo();
    PageControl1->setGeometry(rect());
    // Pages handle their own jobs' ends first; then the job's input closes.
    connect(&jobs_, &JobController::finished, this, &TFormMain::jobFinished);
    connect(&jobs_, &JobController::titleSet, this, &QWidget::setWindowTitle);
}

TFormMain::~TFormMain() {
    // A job cannot outlive the pages that show it: closing is refused while
    // one runs, but a test may destroy the window with a job still going.
    jobs_.shutdown();
    delete PageControl1;
}

void TFormMain::changeEvent(QEvent* event) {
    if (event->type() == QEvent::LanguageChange) {
        setWindowTitle(mainCaption());
        PageControl1->setTabText(PageControl1->indexOf(TabSheetREM), tr("ремонт"));
        PageControl1->setTabText(PageControl1->indexOf(TabSheetAD), tr("сборка"));
        PageControl1->setTabText(PageControl1->indexOf(TabSheetCFG), tr("настройки"));
        // The pages show their own controls' texts anew, each in its context.
        keepToolTip(ImageVL, layout::ImageVLHint, "mpg::ui::TFormMain");
    }
    QWidget::changeEvent(event);
}

void TFormMain::setForms(TFormYesNo* yesNo, TFormDU* dump) {
    TabSheetREM->setForms(yesNo, dump);
    TabSheetAD->setForms(yesNo);
}

const ErrorGrid& TFormMain::grid() const {
    return TabSheetREM->grid();
}

void TFormMain::buildLogo() {
    PanelVL = place(new QWidget(this), layout::PanelVL);
    PanelVL->move(width() - PanelVL->width(), 0);
    ImageVL = place(new TImage(QString::fromLatin1(layout::ImageVL.name),
                               TabSheetCFG->logoPicture(false), PanelVL),
                    layout::ImageVL);
    ImageVL->setCursor(Qt::PointingHandCursor);
    keepToolTip(ImageVL, layout::ImageVLHint, "mpg::ui::TFormMain");
    connect(ImageVL, &TImage::hovered, this, &TFormMain::highlightLogo);
    connect(ImageVL, &TImage::clicked, this, &TFormMain::openHomePage);
    PanelVL->raise();
}

void TFormMain::resizeEvent(QResizeEvent* event) {
    QWidget::resizeEvent(event);
    PageControl1->setGeometry(rect());
    // keepButtonsRight: the logo stays in the top right corner.
    PanelVL->move(width() - PanelVL->width(), PanelVL->y());
}

// A stream opens on the repair page only when no job runs there: the drop
// is refused meanwhile, and the pointer says so while the files are dragged,
// rather than taking them and doing nothing. The joining list takes files
// at any time.
bool TFormMain::takesDrop() const {
    return PageControl1->currentWidget() == TabSheetAD || !jobRunning();
}

void TFormMain::dragEnterEvent(QDragEnterEvent* event) {
    if (takesDrop() && !droppedFiles(event->mimeData()).isEmpty()) event->acceptProposedAction();
}

void TFormMain::dropEvent(QDropEvent* event) {
    const QStringList files = droppedFiles(event->mimeData());
    if (files.isEmpty() || !takesDrop()) return;
    event->acceptProposedAction();
    if (PageControl1->currentWidget() == TabSheetAD) {
        TabSheetAD->addFiles(files);
        return;
    }
    // One stream is repaired at a time: the first of several opens.
    openOnRepairPage(files.first());
}

void TFormMain::openOnRepairPage(const QString& path) {
    PageControl1->setCurrentWidget(TabSheetREM);
    TabSheetREM->openFile(path);
}

bool TFormMain::eventFilter(QObject* watched, QEvent* event) {
    if (event->type() == QEvent::MouseMove) leaveHoveredPicture();
    return QWidget::eventFilter(watched, event);
}

void TFormMain::frameHoveredPicture(TImage* image) {
    const QRect bounds = image->geometry().adjusted(-2, -2, 2, 2);
    if (bevel_ != nullptr && bevel_->parentWidget() == image->parentWidget()) {
        bevel_->setGeometry(bounds);
        bevel_->show();
        return;
    }
    delete bevel_;
    bevel_ = new QFrame(image->parentWidget());
    bevel_->setObjectName(QStringLiteral("BX") + image->objectName());
    bevel_->setGeometry(bounds);
    bevel_->setFrameShape(QFrame::Box);
    bevel_->setFrameShadow(QFrame::Raised);
    bevel_->lower();
    bevel_->show();
}

void TFormMain::hideHoverFrame() {
    if (bevel_ != nullptr) bevel_->hide();
}

void TFormMain::mouseMoveEvent(QMouseEvent* event) {
    leaveHoveredPicture();
    QWidget::mouseMoveEvent(event);
}

void TFormMain::leaveHoveredPicture() {
    hideHoverFrame();
    if (logoHovered_) {
        logoHovered_ = false;
        ImageVL->setPicture(TabSheetCFG->logoPicture(false));
    }
}

void TFormMain::highlightLogo() {
    if (logoHovered_) return;
    logoHovered_ = true;
    ImageVL->setPicture(TabSheetCFG->logoPicture(true));
}

void TFormMain::openHomePage() {
    QDesktopServices::openUrl(QUrl(QString::fromLatin1(kHomePage)));
}

void TFormMain::closeEvent(QCloseEvent* event) {
    if (jobRunning()) {
        setWindowTitle(tr("сперва остановите поиск"));
        event->ignore();
        return;
    }
    event->accept();
}

void TFormMain::jobFinished() {
    state_.view.closeFile();
}

}  // namespace mpg::ui
