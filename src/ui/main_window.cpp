#include "ui/main_window.h"

#include <QAction>
#include <QButtonGroup>
#include <QCheckBox>
#include <QCloseEvent>
#include <QCoreApplication>
#include <QDesktopServices>
#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QGuiApplication>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMenu>
#include <QPushButton>
#include <QRadioButton>
#include <QScreen>
#include <QScrollBar>
#include <QSplitter>
#include <QTabWidget>
#include <QTableView>
#include <QUrl>

#include "analysis/dump.h"
#include "analysis/scan.h"
#include "analysis/scan_control.h"
#include "repair/index_file.h"
#include "repair/naming.h"
#include "repair/strategies.h"
#include "ui/error_table.h"
#include "ui/form_du.h"
#include "ui/form_yes_no.h"
#include "ui/widgets.h"

namespace mpg::ui {

namespace {

// A status text with the failure's file and reason behind it.
QString withDetail(const char* text, const Failure& failure) {
    return QString::fromStdString(text + failureDetail(failure));
}

constexpr int kPanelTTHeight = 73;
constexpr int kPanelBBHeight = 113;
constexpr int kPanelSRWidth = 338;

const QString kStopQuestion = QStringLiteral("остановить процесс?");
// Streams from other systems often have upper-case extensions.
const QString kStreamFilter =
    QStringLiteral("*.mpg;*.mpeg (*.mpg *.mpeg *.MPG *.MPEG *.Mpg *.Mpeg)");

template <class W>
W* place(W* widget, const char* name, const QRect& geometry) {
    widget->setObjectName(QString::fromLatin1(name));
    widget->setGeometry(geometry);
    return widget;
}

QFrame* makePanel(QWidget* parent, const char* name) {
    auto* panel = new QFrame(parent);
    panel->setObjectName(QString::fromLatin1(name));
    panel->setFrameShape(QFrame::StyledPanel);
    panel->setFrameShadow(QFrame::Raised);
    return panel;
}

// Grey status texts ("status", "mess", "info") are bold; plain grey labels are not.
QLabel* makeLabel(QWidget* parent, const char* name, const QString& text, bool grey, bool bold) {
    auto* label = new QLabel(text, parent);
    label->setObjectName(QString::fromLatin1(name));
    if (grey) {
        QPalette p = label->palette();
        p.setColor(QPalette::WindowText, QColor(128, 128, 128));
        label->setPalette(p);
    }
    if (bold) {
        QFont f = label->font();
        f.setBold(true);
        label->setFont(f);
    }
    return label;
}

QCheckBox* makeCheck(QWidget* parent, const char* name, const QString& text, const QRect& g,
                     bool checked) {
    auto* box = place(new QCheckBox(text, parent), name, g);
    box->setChecked(checked);
    return box;
}

}  // namespace

TFormMain::TFormMain(AppState& state, QWidget* parent) : QWidget(parent), state_(state) {
    setObjectName(QStringLiteral("FormMain"));
    setWindowTitle(QString::fromUtf8(kMainCaption));
    setFont(windowFont());
    setMouseTracking(true);
    resize(618, 422);
    if (const QScreen* screen = QGuiApplication::primaryScreen()) {
        const QRect s = screen->availableGeometry();
        move(s.x() + (s.width() - width()) / 2, s.y() + (s.height() - height()) / 2);
    }

    PageControl1 = new QTabWidget(this);
    PageControl1->setObjectName(QStringLiteral("PageControl1"));
    buildRepairPage();
    buildJoinPage();
    buildSettingsPage();
    PageControl1->setCurrentWidget(TabSheetREM);
    buildLogo();
    PageControl1->setGeometry(rect());

    listRefresh_.setSingleShot(true);
    listRefresh_.setInterval(30);
    connect(&listRefresh_, &QTimer::timeout, this, &TFormMain::refreshErrorList);
}

TFormMain::~TFormMain() {
    // A job cannot outlive the window: closing is refused while one runs,
    // but a test may destroy the window with a job still going.
    if (worker_) {
        state_.job.stopRequested = true;
        while (!worker_->wait(10)) QCoreApplication::processEvents();
    }
    // The pages show the error grid, a member: they go before it does.
    delete PageControl1;
}

void TFormMain::setForms(TFormYesNo* yesNo, TFormDU* dump) {
    FormYesNo_ = yesNo;
    FormDU_ = dump;
}

void TFormMain::trackMouse(QWidget* widget) {
    widget->setMouseTracking(true);
    widget->installEventFilter(this);
}

void TFormMain::buildRepairPage() {
    TabSheetREM = new QWidget;
    TabSheetREM->setObjectName(QStringLiteral("TabSheetREM"));
    PageControl1->addTab(TabSheetREM, QStringLiteral("ремонт"));
    trackMouse(TabSheetREM);

    PanelTT = makePanel(TabSheetREM, "PanelTT");
    trackMouse(PanelTT);
    ImageFI = place(new TImage(QStringLiteral("ImageFI"), QStringLiteral("folder"), PanelTT),
                    "ImageFI", {72, 10, 17, 17});
    EditIN = place(new QLineEdit(PanelTT), "EditIN", {96, 8, 385, 21});
    BitBtnOP =
        place(new QPushButton(QStringLiteral("open"), PanelTT), "BitBtnOP", {496, 8, 97, 21});
    BitBtnGO = place(new QPushButton(QStringLiteral("го"), PanelTT), "BitBtnGO", {496, 44, 97, 21});
    BitBtnOP->setFont(smallFont());
    BitBtnGO->setFont(smallFont());
    BevelTT = makeBevel(QStringLiteral("BevelTT"), PanelTT, {70, 35, 523, 3});
    GaugeZZ = place(new TGauge(QStringLiteral("GaugeZZ"), PanelTT), "GaugeZZ", {18, 20, 33, 33});
    GaugeZZ->hide();
    LabelPTR = makeLabel(PanelTT, "LabelPTR", QString(), true, false);
    LabelPTR->move(72, 48);
    LabelPTR->hide();
    LabelST = makeLabel(PanelTT, "LabelST", QString(), true, true);
    // Two lines high: a failure names its file and the system's reason after
    // the text, and the longest fixed texts do not fit one line at the
    // window's design width.
    LabelST->setGeometry(296, 42, 185, 28);
    LabelST->setWordWrap(true);
    LabelST->setAlignment(Qt::AlignLeft | Qt::AlignVCenter);
    makeBevel(QStringLiteral("Bevel2"), PanelTT, {280, 44, 3, 22});
    makeBevel(QStringLiteral("Bevel3"), PanelTT, {285, 44, 3, 22});
    ImageEX = place(new TImage(QStringLiteral("ImageEX"), QStringLiteral("excision"), PanelTT),
                    "ImageEX", {259, 49, 13, 13});
    ImageEX->hide();

    StringER = new QTableView(TabSheetREM);
    StringER->setObjectName(QStringLiteral("StringER"));
    model_ = new ErrorTableModel(grid_, StringER);
    StringER->setModel(model_);
    StringER->setItemDelegate(new StringERDrawCell(StringER));
    StringER->verticalHeader()->hide();
    StringER->verticalHeader()->setDefaultSectionSize(17);
    StringER->verticalHeader()->setMinimumSectionSize(17);
    // The header row holds two lines, so that "размер заявленный" and
    // "размер реальный" stay readable in columns of 87 pixels.
    StringER->horizontalHeader()->setDefaultAlignment(
        Qt::Alignment(Qt::AlignCenter | Qt::TextWordWrap));
    StringER->horizontalHeader()->setFixedHeight(30);
    StringER->horizontalHeader()->setHighlightSections(false);
    StringER->horizontalHeader()->setSectionsClickable(false);
    StringER->horizontalHeader()->setMinimumSectionSize(0);
    StringER->setShowGrid(true);
    StringER->setSelectionBehavior(QAbstractItemView::SelectRows);
    StringER->setSelectionMode(QAbstractItemView::ExtendedSelection);
    StringER->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    StringER->setEditTriggers(QAbstractItemView::NoEditTriggers);
    StringER->setWordWrap(false);
    for (int c = 0; c < kErrorColumns; ++c)
        StringER->setColumnWidth(c, kInitialColumnWidths[static_cast<size_t>(c)]);
    trackMouse(StringER->viewport());
    StringER->setContextMenuPolicy(Qt::CustomContextMenu);
    PopupER = new QMenu(StringER);
    PopupER->setObjectName(QStringLiteral("PopupER"));
    MIdump = PopupER->addAction(QStringLiteral("посмотреть dump"));
    MIdump->setObjectName(QStringLiteral("MIdump"));
    PopupER->addSeparator()->setObjectName(QStringLiteral("N1"));
    MIsoer = PopupER->addAction(QStringLiteral("сохранить ошибки"));
    MIsoer->setObjectName(QStringLiteral("MIsoer"));
    MIzaer = PopupER->addAction(QStringLiteral("загрузить ошибки"));
    MIzaer->setObjectName(QStringLiteral("MIzaer"));
    PopupER->addSeparator()->setObjectName(QStringLiteral("N4"));
    connect(StringER, &QWidget::customContextMenuRequested, this,
            [this](const QPoint& at) { PopupER->popup(StringER->viewport()->mapToGlobal(at)); });

    PanelBB = makePanel(TabSheetREM, "PanelBB");
    trackMouse(PanelBB);
    RadioEQ = place(
        new QRadioButton(QStringLiteral("убрать области повторов, там где их размеры равны дельте"),
                         PanelBB),
        "RadioEQ", {15, 17, 337, 17});
    RadioEQ->setToolTip(
        QStringLiteral("исправлять ничего не надо, ибо заявленный размер станет равен реальному."));
    RadioEQ->setChecked(true);
    RadioRERE =
        place(new QRadioButton(QStringLiteral("убрать области повторов и пересканировать pack-и"),
                               PanelBB),
              "RadioRERE", {15, 33, 289, 17});
    RadioISALL = place(new QRadioButton(QStringLiteral("исправить размеры кривых блоков"), PanelBB),
                       "RadioISALL", {15, 49, 209, 17});
    {
        QPalette p = RadioISALL->palette();
        p.setColor(QPalette::WindowText, Qt::black);
        RadioISALL->setPalette(p);
    }
    auto* strategies = new QButtonGroup(PanelBB);
    for (QRadioButton* r : {RadioEQ, RadioRERE, RadioISALL}) strategies->addButton(r);
    makeBevel(QStringLiteral("Bevel1"), PanelBB, {354, 19, 3, 46});
    makeBevel(QStringLiteral("Bevel7"), PanelBB, {357, 19, 3, 46});
    CheckDP = makeCheck(PanelBB, "CheckDP", QStringLiteral("если дельта положительна"),
                        {366, 17, 161, 17}, true);
    CheckZR = makeCheck(PanelBB, "CheckZR", QStringLiteral("только повторы нулей"),
                        {366, 33, 139, 17}, true);
    LabelMS =
        makeLabel(PanelBB, "LabelMS",
                  QStringLiteral("размеры повторов не менее               байт"), false, false);
    LabelMS->move(365, 50);
    LabelMS->adjustSize();
    EditMS = place(new QLineEdit(QStringLiteral("100"), PanelBB), "EditMS", {518, 47, 33, 19});
    EditMS->setMaxLength(4);
    ImageWA = place(new TImage(QStringLiteral("ImageWA"), QStringLiteral("busy"), PanelBB),
                    "ImageWA", {308, 38, 45, 30});
    ImageWA->hide();
    ImageHAMMER =
        place(new TImage(QStringLiteral("ImageHAMMER"), QStringLiteral("hammer"), PanelBB),
              "ImageHAMMER", {560, 8, 33, 33});
    BevelBB = makeBevel(QStringLiteral("BevelBB"), PanelBB, {16, 69, 577, 3});
    EditOUT = place(new QLineEdit(PanelBB), "EditOUT", {16, 81, 529, 21});
    ImageSA = place(new TImage(QStringLiteral("ImageSA"), QStringLiteral("floppy"), PanelBB),
                    "ImageSA", {560, 81, 20, 20});

    for (TImage* image : {ImageFI, ImageHAMMER, ImageSA}) {
        connect(image, &TImage::hovered, this, &TFormMain::ImageFIMouseMove);
    }
    // A new input gets a new output name, whether chosen or typed: the save
    // must never write the new file's repair over the name chosen for the old.
    connect(EditIN, &QLineEdit::textChanged, this, &TFormMain::proposeOutputName);
    connect(BitBtnOP, &QPushButton::clicked, this, &TFormMain::BitBtnOPClick);
    connect(BitBtnGO, &QPushButton::clicked, this, &TFormMain::BitBtnGOClick);
    connect(ImageHAMMER, &TImage::clicked, this, &TFormMain::ImageHAMMERClick);
    connect(ImageSA, &TImage::clicked, this, &TFormMain::ImageSAClick);
    connect(ImageFI, &TImage::clicked, this, &TFormMain::ImageFIClick);
    connect(MIsoer, &QAction::triggered, this, &TFormMain::MIsoerClick);
    connect(MIdump, &QAction::triggered, this, &TFormMain::MIdumpClick);
    connect(MIzaer, &QAction::triggered, this, &TFormMain::MIzaerClick);
}

void TFormMain::buildJoinPage() {
    TabSheetAD = new QWidget;
    TabSheetAD->setObjectName(QStringLiteral("TabSheetAD"));
    PageControl1->addTab(TabSheetAD, QStringLiteral("сборка"));
    TabSheetAD->installEventFilter(this);

    Splitter3 = new QSplitter(Qt::Horizontal, TabSheetAD);
    Splitter3->setObjectName(QStringLiteral("Splitter3"));
    Splitter3->setHandleWidth(6);
    Splitter3->setChildrenCollapsible(false);
    JList = new TJList(QStringLiteral("JList"));
    trackMouse(JList->viewport());
    connect(static_cast<TJList*>(JList), &TJList::dragStarted, this, &TFormMain::JListStartDrag);
    connect(static_cast<TJList*>(JList), &TJList::dropped, this, &TFormMain::JListDragDrop);
    JList->setContextMenuPolicy(Qt::CustomContextMenu);
    PopupJO = new QMenu(JList);
    PopupJO->setObjectName(QStringLiteral("PopupJO"));
    QAction* n2 = PopupJO->addAction(QStringLiteral("очистить список"), this, &TFormMain::N2Click);
    n2->setObjectName(QStringLiteral("N2"));
    QAction* add =
        PopupJO->addAction(QStringLiteral("добавить в список"), this, &TFormMain::MenuItem1Click);
    add->setObjectName(QStringLiteral("MenuItem1"));
    QAction* n3 = PopupJO->addAction(QStringLiteral("удалить"), this, &TFormMain::N3Click);
    n3->setObjectName(QStringLiteral("N3"));
    connect(JList, &QWidget::customContextMenuRequested, this,
            [this](const QPoint& at) { PopupJO->popup(JList->viewport()->mapToGlobal(at)); });
    PanelSR = new QWidget;
    PanelSR->setObjectName(QStringLiteral("PanelSR"));
    PanelSR->setMinimumWidth(kPanelSRWidth);
    trackMouse(PanelSR);
    Splitter3->addWidget(JList);
    Splitter3->addWidget(PanelSR);
    Splitter3->setStretchFactor(0, 1);
    Splitter3->setStretchFactor(1, 0);
    connect(Splitter3, &QSplitter::splitterMoved, this,
            [this] { panelSRWidth_ = PanelSR->width(); });

    LabelJINFO = makeLabel(PanelSR, "LabelJINFO", QStringLiteral("info"), true, true);
    LabelJINFO->setGeometry(16, 8, 321, 57);
    LabelJINFO->setAlignment(Qt::AlignHCenter | Qt::AlignTop);
    LabelJINFO->setWordWrap(true);
    ImageSUM = place(new TImage(QStringLiteral("ImageSUM"), QStringLiteral("chevrons"), PanelSR),
                     "ImageSUM", {4, 74, 17, 17});
    ImageSUM->setToolTip(QStringLiteral("сгенерить имя выходного файла"));
    EditSUM = place(new QLineEdit(PanelSR), "EditSUM", {32, 72, 305, 21});
    QFrame* panel1 = makePanel(PanelSR, "Panel1");
    panel1->setGeometry(8, 104, 329, 145);
    CheckMS1 = makeCheck(panel1, "CheckMS1", QString(), {8, 8, 17, 17}, true);
    LabelMS1 = makeLabel(
        panel1, "LabelMS1",
        QStringLiteral("iso_end_code из файлов выкидываются; файлы слепляются последовательно, "
                       "включая system_header каждого файла; в конце файла кладётся один "
                       "iso_end_code на всех."),
        false, false);
    LabelMS1->setGeometry(26, 9, 295, 56);
    LabelMS1->setWordWrap(true);
    LabelMS1->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    Check1PP =
        makeCheck(panel1, "Check1PP", QStringLiteral("убрать все padding паки, кроме первого."),
                  {8, 70, 313, 17}, false);
    Check1SH = makeCheck(panel1, "Check1SH",
                         QStringLiteral("оставить только один system header из первого файла."),
                         {8, 92, 313, 17}, false);
    Label1SH = makeLabel(
        panel1, "Label1SH",
        QStringLiteral("если вдруг в середине файлов будут встречаться system headers, то их тоже "
                       "выкидывать."),
        false, false);
    Label1SH->setGeometry(26, 107, 297, 33);
    Label1SH->setWordWrap(true);
    Label1SH->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    CheckGlue = makeCheck(PanelSR, "CheckGlue",
                          QStringLiteral("не надо мудрить, надо просто склеить файлы"),
                          {16, 256, 289, 17}, false);
    BitBtnSUM =
        place(new QPushButton(QStringLiteral("склеить"), PanelSR), "BitBtnSUM", {8, 284, 89, 25});
    GaugeZ = place(new TGauge(QStringLiteral("GaugeZ"), PanelSR), "GaugeZ", {226, 279, 33, 33});
    GaugeZ->hide();
    ImageZ = place(new TImage(QStringLiteral("ImageZ"), QStringLiteral("skull-red"), PanelSR),
                   "ImageZ", {278, 276, 40, 40});
    ImageZ->hide();
    LabelME = makeLabel(PanelSR, "LabelME", QStringLiteral("mess"), true, true);
    LabelME->setGeometry(6, 322, 323, 17);
    LabelME->setAlignment(Qt::AlignCenter);

    connect(CheckMS1, &QCheckBox::clicked, this, &TFormMain::CheckMS1Click);
    connect(CheckGlue, &QCheckBox::clicked, this, &TFormMain::CheckGlueClick);
    connect(ImageSUM, &TImage::clicked, this, &TFormMain::ImageSUMClick);
    connect(BitBtnSUM, &QPushButton::clicked, this, &TFormMain::BitBtnSUMClick);
    connect(ImageZ, &TImage::clicked, this, &TFormMain::ImageZClick);
    connect(PageControl1, &QTabWidget::currentChanged, this, [this](int page) {
        if (PageControl1->widget(page) == TabSheetAD) TabSheetADShow();
    });
    for (TImage* image : {ImageSUM, ImageZ})
        connect(image, &TImage::hovered, this, &TFormMain::ImageFIMouseMove);
}

void TFormMain::buildSettingsPage() {
    TabSheetCFG = new QWidget;
    TabSheetCFG->setObjectName(QStringLiteral("TabSheetCFG"));
    PageControl1->addTab(TabSheetCFG, QStringLiteral("настройки"));
    trackMouse(TabSheetCFG);

    CheckHP = makeCheck(TabSheetCFG, "CheckHP", QStringLiteral("высокий приоритет задачи"),
                        {24, 31, 161, 17}, true);
    connect(CheckHP, &QCheckBox::toggled, this, [this](bool on) { state_.highPriority = on; });
    state_.highPriority = true;
    QLabel* label1 =
        makeLabel(TabSheetCFG, "Label1", QStringLiteral("как сохранять битые паки"), true, false);
    label1->move(24, 88);
    label1->adjustSize();
    makeBevel(QStringLiteral("Bevel4"), TabSheetCFG, {24, 104, 457, 3});
    CheckFA =
        makeCheck(TabSheetCFG, "CheckFA",
                  QStringLiteral("выставить размер в заголовке по фактическому размеру блока"),
                  {24, 112, 361, 17}, true);
    CheckPR = makeCheck(
        TabSheetCFG, "CheckPR",
        QStringLiteral("если блок длиннее, чем указано в заголовке - обрезать, если короче - "
                       "добить нулями"),
        {24, 128, 465, 17}, false);
    for (QCheckBox* box : {CheckFA, CheckPR}) {
        connect(box, &QCheckBox::clicked, this, [this, box] { CheckFAClick(box); });
    }
    ImageVLG = place(new TImage(QStringLiteral("ImageVLG"), QStringLiteral("logo"), TabSheetCFG),
                     "ImageVLG", {392, 12, 100, 10});
    ImageVLB =
        place(new TImage(QStringLiteral("ImageVLB"), QStringLiteral("logo-hover"), TabSheetCFG),
              "ImageVLB", {392, 28, 100, 10});
    ImageVLG->hide();
    ImageVLB->hide();
}

void TFormMain::buildLogo() {
    PanelVL = new QWidget(this);
    PanelVL->setObjectName(QStringLiteral("PanelVL"));
    PanelVL->setGeometry(width() - 113, 0, 113, 17);
    ImageVL = place(new TImage(QStringLiteral("ImageVL"), ImageVLG->picture(), PanelVL), "ImageVL",
                    {8, 5, 100, 10});
    ImageVL->setCursor(Qt::PointingHandCursor);
    connect(ImageVL, &TImage::hovered, this, &TFormMain::ImageVLMouseMove);
    connect(ImageVL, &TImage::clicked, this, &TFormMain::ImageVLClick);
    PanelVL->raise();
}

// --- geometry --------------------------------------------------------------

void TFormMain::resizeEvent(QResizeEvent* event) {
    QWidget::resizeEvent(event);
    PageControl1->setGeometry(rect());
    // FormResize: the logo stays in the top right corner.
    PanelVL->move(width() - PanelVL->width(), PanelVL->y());
}

void TFormMain::showEvent(QShowEvent* event) {
    QWidget::showEvent(event);
    dfx();
}

void TFormMain::TabSheetREMResize() {
    const int w = TabSheetREM->width(), h = TabSheetREM->height();
    PanelTT->setGeometry(0, 0, w, kPanelTTHeight);
    PanelBB->setGeometry(0, h - kPanelBBHeight, w, kPanelBBHeight);
    StringER->setGeometry(0, kPanelTTHeight, w, std::max(0, h - kPanelTTHeight - kPanelBBHeight));
    dfx();
}

void TFormMain::PanelTTResize() {
    const int w = PanelTT->width();
    BitBtnOP->move(w - BitBtnOP->width() - 8, BitBtnOP->y());
    BitBtnGO->move(BitBtnOP->x(), BitBtnGO->y());
    EditIN->resize(BitBtnGO->x() - EditIN->x() - 12, EditIN->height());
    BevelTT->resize(w - BevelTT->x() - 8, BevelTT->height());
    LabelST->resize(BitBtnGO->x() - LabelST->x() - 8, LabelST->height());
}

void TFormMain::PanelBBResize() {
    const int w = PanelBB->width();
    ImageHAMMER->move(w - ImageHAMMER->width() - 16, ImageHAMMER->y());
    BevelBB->resize(w - BevelBB->x() - 8, BevelBB->height());
    ImageSA->move(w - ImageSA->width() - 10, ImageSA->y());
    EditOUT->resize(ImageSA->x() - EditOUT->x() - 10, EditOUT->height());
}

void TFormMain::dfx() {
    const ColumnWidths w = ::mpg::columnWidthsFor(StringER->viewport()->width(), [this] {
        ColumnWidths now{};
        for (int c = 0; c < kErrorColumns; ++c)
            now[static_cast<size_t>(c)] = StringER->columnWidth(c);
        return now;
    }());
    // A width the rule computes as zero or negative shows as a hidden column.
    for (int c = 0; c < kErrorColumns; ++c)
        StringER->setColumnWidth(c, std::max(0, w[static_cast<size_t>(c)]));
}

bool TFormMain::eventFilter(QObject* watched, QEvent* event) {
    if (event->type() == QEvent::Resize) {
        if (watched == TabSheetREM) TabSheetREMResize();
        if (watched == PanelTT) PanelTTResize();
        if (watched == PanelBB) PanelBBResize();
        if (watched == TabSheetAD) {
            // The list takes what the right panel (338 pixels at first, then
            // as the user drags the splitter) leaves.
            Splitter3->setGeometry(TabSheetAD->rect());
            Splitter3->setSizes(
                {std::max(0, TabSheetAD->width() - panelSRWidth_ - Splitter3->handleWidth()),
                 panelSRWidth_});
        }
        if (watched == StringER->viewport()) dfx();
    } else if (event->type() == QEvent::MouseMove) {
        FormMouseMove();
    }
    return QWidget::eventFilter(watched, event);
}

// --- hover frame and logo ---------------------------------------------------

void TFormMain::ImageFIMouseMove(TImage* image) {
    MakeBevel(image);
}

void TFormMain::MakeBevel(TImage* image) {
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

void TFormMain::HideBevel() {
    if (bevel_ != nullptr) bevel_->hide();
}

void TFormMain::mouseMoveEvent(QMouseEvent* event) {
    FormMouseMove();
    QWidget::mouseMoveEvent(event);
}

void TFormMain::FormMouseMove() {
    HideBevel();
    if (logoHint_ == QLatin1String("vl")) {
        logoHint_.clear();
        ImageVL->setPicture(ImageVLG->picture());
    }
}

void TFormMain::ImageVLMouseMove() {
    if (logoHint_ == QLatin1String("vl")) return;
    logoHint_ = QStringLiteral("vl");
    ImageVL->setPicture(ImageVLB->picture());
}

void TFormMain::ImageVLClick() {
    QDesktopServices::openUrl(QUrl(QString::fromLatin1(kHomePage)));
}

// --- open, check and scan ------------------------------------------------------

void TFormMain::setStatus(const QString& text) {
    LabelST->setText(text);
    LabelST->setToolTip(text);
}

void TFormMain::clearCaptionMessage() {
    setWindowTitle(QString::fromUtf8(kMainCaption));
}

void TFormMain::proposeOutputName() {
    const QString input = EditIN->text();
    if (input.isEmpty() || input == QString::fromUtf8(kNeedFileNameText)) return;
    EditOUT->setText(QString::fromStdString(outputNameFor(input.toStdString())));
}

QString TFormMain::dialogFolder(const QString& remembered) const {
    if (!remembered.isEmpty()) return remembered;
    // The input's folder, else the home folder: never the program's own.
    const QFileInfo input(EditIN->text());
    if (!EditIN->text().isEmpty() && input.absoluteDir().exists()) return input.absolutePath();
    return QDir::homePath();
}

void TFormMain::setCaptionText(const QString& text) {
    setWindowTitle(text);
}

void TFormMain::clearErrorList() {
    grid_.clear();
    shownRow_ = -1;
    model_->sync();
}

void TFormMain::closeInput() {
    state_.view.closeFile();
}

void TFormMain::BitBtnOPClick() {
    if (jobRunning()) return;
    const std::string path = EditIN->text().toStdString();
    const CheckResult result = openAndCheck(state_, path);
    const QString text = QString::fromStdString(checkStatusText(result, state_.view.failure()));
    switch (result) {
        case CheckResult::NoName:
            EditIN->setText(QString::fromUtf8(kNeedFileNameText));
            return;
        case CheckResult::OpenFailed:
        case CheckResult::NotRegular:
        case CheckResult::TooLarge:
            setStatus(text);
            return;
        default:
            break;
    }
    // The file could be opened: the table, the cut list and the list start anew.
    ImageEX->hide();
    clearErrorList();
    if (result == CheckResult::Ok) {
        MIsoer->setEnabled(true);
        clearCaptionMessage();
    }
    setStatus(text);
}

void TFormMain::BitBtnGOClick() {
    if (EditIN->text().isEmpty()) {
        EditIN->setText(QString::fromUtf8(kNeedFileNameText));
        return;
    }
    if (BitBtnGO->text() == QStringLiteral("стоп")) {
        askStop();
        return;
    }
    if (jobRunning()) return;  // a join runs
    switch (state_.view.openStream(EditIN->text().toStdString())) {
        case OpenStatus::Opened:
            break;
        case OpenStatus::TooLarge:
            setStatus(QString::fromUtf8(kTooLargeText));
            return;
        case OpenStatus::Failed:
            setStatus(QString::fromStdString(failureText(state_.view.failure())));
            return;
    }
    BitBtnGO->setText(QStringLiteral("стоп"));
    // After a repair that excised regions the table's offsets count the
    // excised stream, while the scan reads the file as it is: continuing
    // would misplace every later block, so the scan starts afresh.
    const bool repaired = !state_.view.cuts().empty();
    state_.view.resetCache();
    state_.view.clearCuts();
    ImageEX->hide();
    if (repaired) {
        state_.resumeScan = '0';
    } else if (!state_.table.empty() && FormYesNo_ != nullptr) {
        const bool resume = FormYesNo_->AskYesNoCaptions(
            QStringLiteral("продолжить проверку\r\nили начать сначала?"),
            QStringLiteral("продолжить"), QStringLiteral("сначала"), QLatin1Char('n'), this);
        state_.resumeScan = resume ? 'y' : '0';
    }
    clearCaptionMessage();
    setStatus(QStringLiteral("идёт проверка потока"));
    GaugeZZ->setValue(0);
    GaugeZZ->show();
    LabelPTR->show();
    state_.job.jobName = "scan";
    threadXXXStart();
}

void TFormMain::closeEvent(QCloseEvent* event) {
    if (jobRunning()) {
        setWindowTitle(QStringLiteral("сперва остановите поиск"));
        event->ignore();
        return;
    }
    event->accept();
}

// --- the job runner -------------------------------------------------------------

void TFormMain::threadXXXStart() {
    sink_ = std::make_unique<WindowSink>(*this, this);
    ++jobGeneration_;
    worker_ = std::make_unique<TXXXThread>([this] { return runJob(); }, *this, this,
                                           !state_.highPriority.load());
    worker_->start(QThread::NormalPriority);
}

int32_t TFormMain::runJob() {
    const std::string& job = state_.job.jobName;
    if (job == "scan") {
        // Read by the window only once the job has ended.
        scanFailure_ = scanStream(state_, *sink_);
        return 0;
    }
    if (job == "save") return saveRepairedStream(state_, saveParams_, *sink_) ? 1 : 0;
    if (job == "hammer") {
        runHammer();
        return 0;
    }
    if (job == "join")
        return glue_ ? glueFiles(state_, joinParams_, *sink_) : joinStructured(state_, joinParams_, *sink_);
    return 0;
}

void TFormMain::showMessage(const QString& text) {
    LabelME->setText(text);
    joinMessageShown_ = true;
}

// --- the joining page -----------------------------------------------------------

void TFormMain::TabSheetADShow() {
    LabelME->clear();
    LabelJINFO->setText(
        QStringLiteral("перед запуском процесса сборки убедитесь,\r\nчто все файлы "
                       "исправны и являются кусками\r\nодного фильма.\r\n"));
}

void TFormMain::N2Click() {
    JList->clear();
}

void TFormMain::MenuItem1Click() {
    const QStringList chosen =
        chooseFiles(QFileDialog::ExistingFiles, QStringLiteral("*.* (все файлы) (*)"),
                    addDialogDir_, addDialogFilter_);
    JList->addItems(chosen);
}

void TFormMain::N3Click() {
    for (int i = JList->count() - 1; i >= 0; --i) {
        if (JList->item(i)->isSelected()) delete JList->takeItem(i);
    }
}

void TFormMain::JListStartDrag(int index) {
    dragIndex_ = index;
}

void TFormMain::JListDragDrop(int target) {
    const int from = dragIndex_;
    if (from < 0 || target < 0 || from == target || from >= JList->count() ||
        target >= JList->count()) {
        return;
    }
    // The dragged entry takes the target's place; those between move one
    // place towards where it was.
    const QString moved = JList->item(from)->text();
    const int step = from > target ? -1 : 1;
    for (int i = from; i != target; i += step)
        JList->item(i)->setText(JList->item(i + step)->text());
    JList->item(target)->setText(moved);
    JList->setCurrentRow(target);
    JList->item(target)->setSelected(true);
    JList->viewport()->update();
}

void TFormMain::ImageSUMClick() {
    if (JList->count() == 0) {
        LabelME->setText(QStringLiteral("правая кнопка мыши в левом окне - вызов меню"));
        return;
    }
    // The first piece's name with ".joined" before its extension; a dot in
    // a folder's name does not count.
    const QString first = JList->item(0)->text();
    const int slash = static_cast<int>(first.lastIndexOf(QLatin1Char('/')));
    const QString folder = first.left(slash + 1);
    QString name = first.mid(slash + 1);
    const int dot = static_cast<int>(name.lastIndexOf(QLatin1Char('.')));
    const QString ext = dot >= 0 ? name.mid(dot) : QString();
    if (name != ext) name.chop(ext.size());
    EditSUM->setText(folder + name + QStringLiteral(".joined") + ext);
}

void TFormMain::BitBtnSUMClick() {
    if (jobRunning()) return;
    if (JList->count() == 0) {
        LabelME->setText(QStringLiteral("нечего клеить. добавьте файлы в список"));
        return;
    }
    JoinParams params;
    for (int i = 0; i < JList->count(); ++i)
        params.inputs.push_back(JList->item(i)->text().toStdString());
    params.output = EditSUM->text().toStdString();
    params.oneSystemHeader = Check1SH->isChecked();
    params.onePadding = Check1PP->isChecked();
    // Creating the output would empty that input before it is read.
    if (outputIsAnInput(params)) {
        LabelME->setText(QString::fromUtf8(kJoinOutputIsInputText));
        return;
    }
    if (QFileInfo::exists(EditSUM->text()) && FormYesNo_ != nullptr &&
        !FormYesNo_->AskYesNo(QStringLiteral("файл с таким именем уже существует. перезаписать?"),
                              this)) {
        return;
    }
    clearCaptionMessage();
    joinParams_ = std::move(params);
    glue_ = CheckGlue->isChecked();
    joinMessageShown_ = false;
    GaugeZ->setValue(0);
    GaugeZ->show();
    ImageZ->show();
    LabelME->setText(QStringLiteral("идёт работа"));
    state_.job.jobName = "join";
    threadXXXStart();
}

void TFormMain::CheckGlueClick() {
    const QSignalBlocker a(CheckMS1), b(CheckGlue);
    CheckGlue->setChecked(true);
    for (QCheckBox* box : {CheckMS1, Check1PP, Check1SH}) box->setChecked(false);
    for (QWidget* w : std::initializer_list<QWidget*>{LabelMS1, Check1PP, Check1SH, Label1SH})
        w->setEnabled(false);
}

void TFormMain::CheckMS1Click() {
    const QSignalBlocker a(CheckMS1), b(CheckGlue);
    CheckMS1->setChecked(true);
    CheckGlue->setChecked(false);
    for (QWidget* w : std::initializer_list<QWidget*>{LabelMS1, Check1PP, Check1SH, Label1SH})
        w->setEnabled(true);
}

void TFormMain::ImageZClick() {
    askStop();
}

void TFormMain::askStop() {
    const uint64_t job = jobGeneration_;
    const bool yes = FormYesNo_ != nullptr && FormYesNo_->AskYesNo(kStopQuestion, this);
    // The job may have ended while the question was open: the answer then
    // must not reach the next job.
    if (yes && jobRunning() && job == jobGeneration_) state_.job.stopRequested = true;
}

std::string TFormMain::inputPath() const {
    return EditIN->text().toStdString();
}

QStringList TFormMain::chooseFiles(int mode, const QString& allFiles, QString& folder,
                                   int& filter) {
    const QStringList filters = {kStreamFilter, allFiles};
    QFileDialog dialog(this);
    dialog.setFileMode(static_cast<QFileDialog::FileMode>(mode));
    dialog.setNameFilters(filters);
    dialog.selectNameFilter(filters.value(filter, filters.first()));
    dialog.setDirectory(dialogFolder(folder));
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty()) return {};
    // The folder of the first file chosen, and the filter in use, for next time.
    folder = QFileInfo(dialog.selectedFiles().first()).absolutePath();
    filter = std::max<int>(0, static_cast<int>(filters.indexOf(dialog.selectedNameFilter())));
    return dialog.selectedFiles();
}

void TFormMain::showExcisionMarker() {
    ImageEX->setVisible(!state_.view.cuts().empty());
}

// --- repair and save ------------------------------------------------------------

namespace {

// The strategies' row texts reach LabelPTR the way the scan's progress does:
// through the job's sink, at most a few times a second.
class SinkProgress : public RepairProgress {
  public:
    SinkProgress(JobState& job, JobSink& sink) : job_(job), sink_(sink) {}
    bool due() override { return sink_.progressDue(); }
    void show(const std::string& text) override {
        job_.progressText = text;
        sink_.notify(Notify::Progress, 0);
    }

  private:
    JobState& job_;
    JobSink& sink_;
};

}  // namespace

void TFormMain::ImageHAMMERClick() {
    if (jobRunning()) return;
    MIsoer->setEnabled(false);
    LabelPTR->show();
    ImageWA->show();
    hammerOptions_ = {CheckZR->isChecked(), CheckDP->isChecked(), EditMS->text().toStdString()};
    hammerStrategy_ = RadioEQ->isChecked()     ? Strategy::EqDelta
                      : RadioRERE->isChecked() ? Strategy::Rescan
                                               : Strategy::Sizes;
    hammerGrid_ = grid_;
    hammerInput_ = inputPath();
    BitBtnGO->setText(QStringLiteral("стоп"));
    state_.job.jobName = "hammer";
    threadXXXStart();
}

void TFormMain::runHammer() {
    SinkProgress progress(state_.job, *sink_);
    switch (hammerStrategy_) {
        case Strategy::EqDelta:
            removeRunsEqualToDelta(state_, hammerGrid_, hammerOptions_, progress);
            break;
        case Strategy::Rescan:
            removeRunsAndRemeasure(state_, hammerGrid_, hammerOptions_, hammerInput_, progress);
            break;
        case Strategy::Sizes:
            acceptRealSizes(state_, hammerGrid_, progress);
            break;
    }
}

void TFormMain::hammerDone() {
    // A stopped strategy has applied what it did to the rows before the stop.
    if (state_.job.stopRequested) setStatus(QStringLiteral("прервано пользователем"));
    if (hammerStrategy_ == Strategy::Rescan) {
        EditMS->setText(QString::fromStdString(hammerOptions_.minRepeat));
    }
    hammerGrid_ = ErrorGrid();
    state_.view.resetCache();
    grid_.rebuildFromTable(state_.table);
    model_->sync();
    dfx();
    showExcisionMarker();
    ImageWA->hide();
}

void TFormMain::ImageSAClick() {
    if (jobRunning() || state_.table.empty() || state_.view.isOpen()) return;
    const QString output = EditOUT->text();
    if (QFileInfo::exists(output) && FormYesNo_ != nullptr &&
        !FormYesNo_->AskYesNo(QStringLiteral("файл уже существует. перезаписать?"), this)) {
        return;
    }
    clearCaptionMessage();
    saveParams_ = {inputPath(), output.toStdString()};
    BitBtnGO->setText(QStringLiteral("стоп"));
    setStatus(QStringLiteral("идёт сохранение"));
    LabelPTR->show();
    GaugeZZ->setValue(0);
    GaugeZZ->show();
    state_.job.jobName = "save";
    threadXXXStart();
}

void TFormMain::CheckFAClick(QCheckBox* sender) {
    // Exactly one of the two is checked; clicking the checked one keeps it.
    const QSignalBlocker blockFA(CheckFA), blockPR(CheckPR);
    CheckFA->setChecked(false);
    CheckPR->setChecked(false);
    sender->setChecked(true);
    state_.headerFromRealSize = CheckFA->isChecked();
}

void TFormMain::ImageFIClick() {
    if (jobRunning()) return;
    const QStringList chosen = chooseFiles(QFileDialog::ExistingFile, QStringLiteral("*.* (*)"),
                                           lastOpenDir_, lastFilterIndex_);
    if (!chosen.isEmpty()) EditIN->setText(chosen.first());
    // Also after a cancelled dialog: the proposal follows the input field.
    proposeOutputName();
}

void TFormMain::MIsoerClick() {
    if (jobRunning()) return;
    const std::string name = indexFileName(inputPath());
    if (fileExists(name) && FormYesNo_ != nullptr &&
        !FormYesNo_->AskYesNo(QStringLiteral("файл уже существует. перезаписать?"), this)) {
        return;
    }
    const Failure failure = saveIndexFile(state_.table, name, {inputPath()});
    if (failure) setStatus(withDetail(saveResultText(failure), failure));
}

void TFormMain::MIdumpClick() {
    if (jobRunning() || FormDU_ == nullptr) return;
    const QModelIndex current = StringER->selectionModel()->currentIndex();
    if (!current.isValid()) return;
    const std::optional<size_t> index = rowEntry(grid_, current.row() + 1, state_.table);
    BlockDump bytes;
    if (!index || !readBlockForDump(state_, inputPath(), *index, bytes)) return;
    FormDU_->MakeDump(bytes);
    FormDU_->show();
    FormDU_->raise();
    FormDU_->activateWindow();
}

void TFormMain::MIzaerClick() {
    if (jobRunning()) return;
    // Records that do not fit the input are refused, with the reason: the
    // repair would cut real data where a foreign index places its blocks.
    Failure inputFailure;
    switch (loadIndexFile(indexFileName(inputPath()), inputPath(), state_, &inputFailure)) {
        case IndexLoad::Loaded:
            break;
        case IndexLoad::Missing:
            setStatus(QString::fromUtf8(kNoIndexText));
            return;
        case IndexLoad::InputFailed:
            setStatus(QString::fromStdString(failureText(inputFailure)));
            return;
        case IndexLoad::Unreadable:
        case IndexLoad::Damaged:
            setStatus(QString::fromUtf8(kBadIndexText));
            return;
    }
    state_.view.resetCache();
    state_.view.clearCuts();
    ImageEX->hide();
    grid_.rebuildFromTable(state_.table);
    model_->sync();
    dfx();
}

void TFormMain::showErrorRow(int gridRow) {
    // The grid itself is written at once, while the job waits; showing it
    // (rows, the current row, the column widths) can wait a few milliseconds
    // and is done once for all the rows that arrive meanwhile, so that a
    // stream with thousands of broken blocks is not slowed down by the list.
    shownRow_ = gridRow;
    if (!listRefresh_.isActive()) listRefresh_.start();
}

void TFormMain::refreshErrorList() {
    listRefresh_.stop();
    if (shownRow_ < 0) return;
    model_->sync();
    const QModelIndex index = model_->index(shownRow_ - 1, 0);
    StringER->selectionModel()->setCurrentIndex(
        index, QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows);
    StringER->scrollTo(index);
    shownRow_ = -1;
    dfx();
}

void TFormMain::onJobNotify(Notify kind, int32_t payload) {
    const bool entry = payload >= 0 && static_cast<size_t>(payload) < state_.table.size();
    switch (kind) {
        case Notify::Progress:
            LabelPTR->setText(QString::fromStdString(state_.job.progressText));
            LabelPTR->adjustSize();
            GaugeZZ->setValue(payload);
            break;
        case Notify::Broken:
            if (entry) showErrorRow(grid_.onBroken(payload, state_.table));
            break;
        case Notify::Resolved:
            if (entry) showErrorRow(grid_.onResolved(payload, state_.table));
            break;
        case Notify::Withdrawn:
            if (grid_.onWithdrawn(payload)) showErrorRow(grid_.rowCount() - 1);
            break;
        case Notify::JoinProgress:
            LabelME->setText(QString::fromStdString(state_.job.progressText));
            GaugeZ->setValue(payload);
            break;
    }
}

void TFormMain::onJobDone(int32_t result) {
    if (worker_) {
        worker_->wait();
        worker_.reset();
    }
    refreshErrorList();
    const std::string& job = state_.job.jobName;
    if (job == "scan") {
        const Failure failure = std::exchange(scanFailure_, Failure{});
        if (state_.job.stopRequested || failure) {
            dropUnfinishedBlock(state_.table, grid_);
            model_->sync();
        }
        if (failure) {
            setStatus(QString::fromStdString(failureText(failure)));
        } else if (state_.job.stopRequested) {
            setStatus(QStringLiteral("прервано пользователем"));
        } else {
            setStatus(QStringLiteral("поиск завершен"));
        }
    } else if (job == "hammer") {
        hammerDone();
    } else if (job == "save") {
        setStatus(withDetail(saveResultText(state_.job.failure), state_.job.failure));
    } else if (job == "join") {
        // An input refused at the start has shown its own text already.
        if (result != kJoinFailed || !joinMessageShown_) {
            LabelME->setText(
                withDetail(joinResultText(result, state_.job.failure), state_.job.failure));
        }
    }
    BitBtnGO->setText(QStringLiteral("го"));
    state_.job.stopRequested = false;
    GaugeZZ->hide();
    GaugeZ->hide();
    ImageZ->hide();
    LabelPTR->hide();
    closeInput();
}

}  // namespace mpg::ui
