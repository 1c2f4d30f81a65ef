#include "ui/repair_page.h"

#include <QAction>
#include <QButtonGroup>
#include <QCheckBox>
#include <QFileDialog>
#include <QFileInfo>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QPushButton>
#include <QRadioButton>
#include <QTableView>
#include <algorithm>

#include "analysis/dump.h"
#include "analysis/progress_throttle.h"
#include "analysis/scan.h"
#include "analysis/scan_control.h"
#include "repair/auto_repair.h"
#include "repair/index_file.h"
#include "repair/naming.h"
#include "stream/cdxa.h"
#include "text/messages.h"
#include "ui/error_table.h"
#include "ui/form_du.h"
#include "ui/form_yes_no.h"
#include "ui/page_kit.h"
#include "ui/sector_table.h"
#include "ui/widgets.h"

namespace mpg::ui {

namespace {

// The page as designed for a window 618 by 422 pixels; the panels follow
// the page's width, and the controls on their right the panels' width.
namespace layout {
constexpr int kPanelTTHeight = 82;
// Four strategies, one row each, above the output row.
constexpr int kPanelBBHeight = 129;
// The filter field and the count of rows shown, between the top panel and
// the list.
constexpr int kFilterHeight = 24;
constexpr int kFilterWidth = 260;
constexpr const char* EditFILTERHint = QT_TRANSLATE_NOOP(
    "mpg::ui::RepairPage",
    "показать только часть строк; слова через пробел, должны выполняться все виды:\n"
    "E0, BD, C0-C1 — код блока (последние две цифры) или их диапазон;\n"
    "d>=100, d<0, d=300 — дельта (>=, <=, >, <, =);\n"
    "r=00, r=00-1F — байт самого длинного повтора.\n"
    "Фильтр меняет только показ: молоток чинит все блоки списка, и скрытые тоже.");
constexpr const char* EditFILTERPlaceholder =
    QT_TRANSLATE_NOOP("mpg::ui::RepairPage", "фильтр: E0 C0-C1 d>=100 r=00");
constexpr const char* MInextText = QT_TRANSLATE_NOOP("mpg::ui::RepairPage", "следующий битый блок");
constexpr const char* MIprevText =
    QT_TRANSLATE_NOOP("mpg::ui::RepairPage", "предыдущий битый блок");
constexpr const char* ImageHAMMERHint =
    QT_TRANSLATE_NOOP("mpg::ui::RepairPage",
                      "починить выбранным способом все блоки списка, в том числе скрытые фильтром");

constexpr ControlSpec ImageFI{"ImageFI", {72, 10, 17, 17}};
constexpr ControlSpec EditIN{"EditIN", {96, 8, 385, 21}};
constexpr ControlSpec BitBtnOP{
    "BitBtnOP", {496, 8, 97, 21}, QT_TRANSLATE_NOOP("mpg::ui::RepairPage", "open")};
constexpr ControlSpec BitBtnGO{
    "BitBtnGO", {496, 44, 97, 21}, QT_TRANSLATE_NOOP("mpg::ui::RepairPage", "го")};
constexpr ControlSpec BevelTT{"BevelTT", {70, 35, 523, 3}};
constexpr ControlSpec GaugeZZ{"GaugeZZ", {18, 20, 33, 33}};
constexpr ControlSpec LabelPTR{"LabelPTR", {72, 48, 0, 0}};
// Three lines high: a failure names its file and the system's reason after
// the text, and the summary of an automatic repair, or of the check of its
// output, takes three lines at the design width. What does not fit shows in
// the label's tool tip.
constexpr ControlSpec LabelST{"LabelST", {296, 40, 185, 39}};
constexpr ControlSpec Bevel2{"Bevel2", {280, 44, 3, 31}};
constexpr ControlSpec Bevel3{"Bevel3", {285, 44, 3, 31}};
constexpr ControlSpec ImageEX{"ImageEX", {259, 49, 13, 13}};
constexpr const char* ImageFIHint =
    QT_TRANSLATE_NOOP("mpg::ui::RepairPage", "выбрать входной файл");
constexpr const char* ImageEXHint =
    QT_TRANSLATE_NOOP("mpg::ui::RepairPage", "из потока вырезаны области: сохранение их пропустит");

constexpr ControlSpec RadioEQ{
    "RadioEQ",
    {15, 17, 337, 17},
    QT_TRANSLATE_NOOP("mpg::ui::RepairPage",
                      "убрать области повторов, там где их размеры равны дельте")};
constexpr const char* RadioEQHint =
    QT_TRANSLATE_NOOP("mpg::ui::RepairPage",
                      "исправлять ничего не надо, ибо заявленный размер станет равен реальному.");
constexpr ControlSpec RadioRERE{
    "RadioRERE",
    {15, 33, 292, 17},
    QT_TRANSLATE_NOOP("mpg::ui::RepairPage", "убрать области повторов и пересканировать pack-и")};
constexpr ControlSpec RadioISALL{
    "RadioISALL",
    {15, 49, 209, 17},
    QT_TRANSLATE_NOOP("mpg::ui::RepairPage", "исправить размеры кривых блоков")};
constexpr ControlSpec RadioAUTO{
    "RadioAUTO",
    {15, 65, 209, 17},
    QT_TRANSLATE_NOOP("mpg::ui::RepairPage", "подобрать ремонт автоматически")};
constexpr const char* RadioAUTOHint =
    QT_TRANSLATE_NOOP("mpg::ui::RepairPage",
                      "для каждого блока ищется вырезка, после которой он кончается там, где "
                      "начинается следующий; что сделано с блоком, видно в списке");
constexpr ControlSpec Bevel1{"Bevel1", {354, 19, 3, 62}};
constexpr ControlSpec Bevel7{"Bevel7", {357, 19, 3, 62}};
constexpr ControlSpec CheckDP{"CheckDP",
                              {366, 17, 170, 17},
                              QT_TRANSLATE_NOOP("mpg::ui::RepairPage", "если дельта положительна")};
constexpr ControlSpec CheckZR{"CheckZR",
                              {366, 33, 139, 17},
                              QT_TRANSLATE_NOOP("mpg::ui::RepairPage", "только повторы нулей")};
// Enabled only while the input is a video CD rip; the output's name follows it.
constexpr ControlSpec CheckWrapDat{
    "CheckWrapDat",
    {366, 66, 185, 17},
    QT_TRANSLATE_NOOP("mpg::ui::RepairPage", "сохранить секторами .dat")};
constexpr const char* CheckWrapDatHint =
    QT_TRANSLATE_NOOP("mpg::ui::RepairPage",
                      "записать исправленный поток снова как образ .dat: заголовок RIFF CDXA, "
                      "секторы с новыми адресами после первого разреза и новыми EDC");
constexpr ControlSpec LabelMS{
    "LabelMS",
    {365, 50, 0, 0},
    QT_TRANSLATE_NOOP("mpg::ui::RepairPage", "размеры повторов не менее               байт")};
constexpr ControlSpec EditMS{"EditMS", {518, 47, 33, 19}, "100"};
constexpr ControlSpec ImageWA{"ImageWA", {308, 38, 45, 30}};
constexpr ControlSpec ImageHAMMER{"ImageHAMMER", {560, 8, 33, 33}};
constexpr ControlSpec BevelBB{"BevelBB", {16, 85, 577, 3}};
constexpr ControlSpec EditOUT{"EditOUT", {16, 97, 401, 21}};
constexpr ControlSpec BitBtnVERIFY{"BitBtnVERIFY",
                                   {425, 97, 125, 21},
                                   QT_TRANSLATE_NOOP("mpg::ui::RepairPage", "проверить результат")};
constexpr const char* BitBtnVERIFYHint = QT_TRANSLATE_NOOP(
    "mpg::ui::RepairPage",
    "просканировать только что сохранённый файл; блоки с переписанной длиной "
    "и дополненные блоки такая проверка считает целыми, поэтому они названы отдельно");
constexpr ControlSpec ImageSA{"ImageSA", {560, 97, 20, 20}};
constexpr const char* ImageWAHint = QT_TRANSLATE_NOOP("mpg::ui::RepairPage", "идёт ремонт");
constexpr const char* ImageSAHint =
    QT_TRANSLATE_NOOP("mpg::ui::RepairPage", "сохранить исправленный поток в выходной файл");

// The action column: a typical action's width where the other columns keep
// about 90 pixels each beside the first three, and never less than the
// least; a longer action shows whole in its cell's tool tip.
constexpr int kActionLeast = 110;
constexpr int kOtherColumnsLeast = 620;
constexpr const char* kTypicalAction = "вырезано 1'234 байт 00 с позиции 1'234'567'890 — вероятно";
}  // namespace layout

constexpr const char* kContext = "mpg::ui::RepairPage";

TImage* picture(const ControlSpec& control, const char* picture, QWidget* parent) {
    return place(
        new TImage(QString::fromLatin1(control.name), QString::fromLatin1(picture), parent),
        control);
}

QFrame* bevel(const ControlSpec& control, QWidget* parent) {
    return makeBevel(QString::fromLatin1(control.name), parent, control.geometry);
}

// The strategies' row texts reach LabelPTR the way the scan's progress does:
// through the job's sink, at most a few times a second.
class SinkProgress : public RepairProgress {
  public:
    explicit SinkProgress(JobSink& sink) : sink_(sink) {}
    bool due() override { return sink_.progressDue(); }
    void step(size_t row, size_t rows) override { show(row, rows); }
    void finished() override { show(0, 0); }

  private:
    void show(size_t row, size_t rows) { sink_.notify({Notify::RowProgress, 0, row, rows, {}}); }

    JobSink& sink_;
};

// The verification's scan reports to the window only its progress: its
// rows are the scratch state's, not the list's. A stop asked of the job
// reaches the scratch state's own flag, which its scan polls.
class CheckSink : public ThrottledSink {
  public:
    CheckSink(JobSink& window, const std::atomic<bool>& stopAsked, std::atomic<bool>& scanStop)
        : window_(window), stopAsked_(stopAsked), scanStop_(scanStop) {}
    void notify(const Notice& notice) override {
        if (notice.kind != Notify::Progress) return;
        window_.notify(notice);
        // The scan asks for its stop right after a progress report.
        passStop();
    }
    void reportCheck(CheckResult) override {}
    void clearErrorList() override {}

  protected:
    // Asked about once a millisecond while the scan runs.
    bool refreshProgress() override {
        passStop();
        return ThrottledSink::refreshProgress();
    }

  private:
    void passStop() {
        if (stopAsked_.load()) scanStop_ = true;
    }

    JobSink& window_;
    const std::atomic<bool>& stopAsked_;
    std::atomic<bool>& scanStop_;
};

// `update` merged into `report`, both in ascending index order: an entry of
// the update replaces the report's for the same block.
void mergeReport(std::vector<BlockRepair>& report, std::vector<BlockRepair> update) {
    const auto byIndex = [](const BlockRepair& a, const BlockRepair& b) {
        return a.index < b.index;
    };
    std::stable_sort(update.begin(), update.end(), byIndex);
    std::vector<BlockRepair> merged;
    merged.reserve(report.size() + update.size());
    auto old = report.begin();
    for (const BlockRepair& r : update) {
        while (old != report.end() && old->index < r.index) merged.push_back(*old++);
        if (old != report.end() && old->index == r.index) ++old;
        merged.push_back(r);
    }
    merged.insert(merged.end(), old, report.end());
    report = std::move(merged);
}

QString grouped(uint64_t n) {
    return QString::fromStdString(groupDigits(std::to_string(n)));
}

}  // namespace

RepairPage::RepairPage(AppState& state, JobController& jobs, QWidget* parent)
    : QWidget(parent), state_(state), jobs_(jobs) {
    setObjectName(QStringLiteral("TabSheetREM"));
    buildTop();
    buildList();
    buildBottom();
    buildFilter();
    buildSectorList();
    retranslate();
    connect(&jobs_, &JobController::progress, this, &RepairPage::showProgress);
    connect(&jobs_, &JobController::rowsReported, this, &RepairPage::takeRows);
    connect(&jobs_, &JobController::listCleared, this, &RepairPage::clearErrorList);
    connect(&jobs_, &JobController::finished, this, &RepairPage::jobFinished);
}

void RepairPage::setForms(TFormYesNo* yesNo, TFormDU* dump) {
    FormYesNo_ = yesNo;
    FormDU_ = dump;
}

QList<TImage*> RepairPage::framedPictures() const {
    return {ImageFI, ImageHAMMER, ImageSA};
}

QList<QWidget*> RepairPage::mouseAreas() const {
    return {const_cast<RepairPage*>(this), PanelTT, StringER->viewport(), StringSE->viewport(),
            PanelBB};
}

void RepairPage::buildTop() {
    PanelTT = makePanel(this, "PanelTT");
    PanelTT->installEventFilter(this);
    ImageFI = picture(layout::ImageFI, "folder", PanelTT);
    keepToolTip(ImageFI, layout::ImageFIHint, kContext);
    EditIN = place(new QLineEdit(PanelTT), layout::EditIN);
    // A file dropped on the field opens, as one dropped anywhere on the
    // window does: the field takes no drop of its own.
    EditIN->setAcceptDrops(false);
    BitBtnOP = place(new QPushButton(tr(layout::BitBtnOP.text), PanelTT), layout::BitBtnOP);
    BitBtnGO = place(new QPushButton(tr(layout::BitBtnGO.text), PanelTT), layout::BitBtnGO);
    BitBtnOP->setFont(smallFont());
    BitBtnGO->setFont(smallFont());
    BevelTT = bevel(layout::BevelTT, PanelTT);
    GaugeZZ =
        place(new TGauge(QString::fromLatin1(layout::GaugeZZ.name), PanelTT), layout::GaugeZZ);
    GaugeZZ->hide();
    LabelPTR = makeLabel(PanelTT, layout::LabelPTR, QString(), true, false);
    LabelPTR->hide();
    LabelST = makeLabel(PanelTT, layout::LabelST, QString(), true, true);
    LabelST->setWordWrap(true);
    LabelST->setAlignment(Qt::AlignLeft | Qt::AlignVCenter);
    bevel(layout::Bevel2, PanelTT);
    bevel(layout::Bevel3, PanelTT);
    ImageEX = picture(layout::ImageEX, "excision", PanelTT);
    keepToolTip(ImageEX, layout::ImageEXHint, kContext);
    ImageEX->hide();

    // A new input gets a new output name, whether chosen or typed: the save
    // must never write the new file's repair over the name chosen for the old.
    connect(EditIN, &QLineEdit::textChanged, this, &RepairPage::proposeOutputName);
    connect(BitBtnOP, &QPushButton::clicked, this, &RepairPage::BitBtnOPClick);
    connect(BitBtnGO, &QPushButton::clicked, this, &RepairPage::BitBtnGOClick);
    connect(ImageFI, &TImage::clicked, this, &RepairPage::ImageFIClick);
}

void RepairPage::buildList() {
    StringER = new QTableView(this);
    StringER->setObjectName(QStringLiteral("StringER"));
    model_ = new ErrorTableModel(grid_, StringER);
    shown_ = new ErrorRowsShown(grid_, model_, StringER);
    StringER->setModel(shown_);
    StringER->setItemDelegate(new StringERDrawCell(StringER));
    StringER->verticalHeader()->hide();
    StringER->verticalHeader()->setDefaultSectionSize(17);
    StringER->verticalHeader()->setMinimumSectionSize(17);
    // The header row holds two lines, so that "размер заявленный" and
    // "размер реальный" stay readable in columns of 87 pixels.
    QHeaderView* header = StringER->horizontalHeader();
    header->setDefaultAlignment(Qt::Alignment(Qt::AlignCenter | Qt::TextWordWrap));
    header->setFixedHeight(30);
    header->setHighlightSections(false);
    header->setMinimumSectionSize(0);
    // A click on a column's title sorts by it; until then the list keeps
    // the order the scan found its blocks in.
    header->setSectionsClickable(true);
    header->setSortIndicator(-1, Qt::AscendingOrder);
    header->setSortIndicatorShown(true);
    StringER->setSortingEnabled(true);
    StringER->setShowGrid(true);
    StringER->setSelectionBehavior(QAbstractItemView::SelectRows);
    StringER->setSelectionMode(QAbstractItemView::ExtendedSelection);
    // Columns that keep numbers readable may outgrow a narrow window.
    StringER->setHorizontalScrollBarPolicy(Qt::ScrollBarAsNeeded);
    StringER->setEditTriggers(QAbstractItemView::NoEditTriggers);
    StringER->setWordWrap(false);
    for (int c = 0; c < kErrorColumns; ++c)
        StringER->setColumnWidth(c, kInitialColumnWidths[static_cast<size_t>(c)]);
    StringER->viewport()->installEventFilter(this);

    StringER->setContextMenuPolicy(Qt::CustomContextMenu);
    PopupER = new QMenu(StringER);
    PopupER->setObjectName(QStringLiteral("PopupER"));
    MIdump = PopupER->addAction(tr("посмотреть dump"));
    MIdump->setObjectName(QStringLiteral("MIdump"));
    keepSource(MIdump, "посмотреть dump");
    PopupER->addSeparator()->setObjectName(QStringLiteral("N1"));
    MIsoer = PopupER->addAction(tr("сохранить ошибки"));
    MIsoer->setObjectName(QStringLiteral("MIsoer"));
    keepSource(MIsoer, "сохранить ошибки");
    MIzaer = PopupER->addAction(tr("загрузить ошибки"));
    MIzaer->setObjectName(QStringLiteral("MIzaer"));
    keepSource(MIzaer, "загрузить ошибки");
    PopupER->addSeparator()->setObjectName(QStringLiteral("N4"));
    // The keys work anywhere on the page, the menu shows them.
    MInext = PopupER->addAction(tr(layout::MInextText));
    MInext->setObjectName(QStringLiteral("MInext"));
    keepSource(MInext, layout::MInextText);
    MInext->setShortcut(QKeySequence(Qt::Key_F8));
    MIprev = PopupER->addAction(tr(layout::MIprevText));
    MIprev->setObjectName(QStringLiteral("MIprev"));
    keepSource(MIprev, layout::MIprevText);
    MIprev->setShortcut(QKeySequence(Qt::SHIFT | Qt::Key_F8));
    for (QAction* a : {MInext, MIprev}) {
        a->setShortcutContext(Qt::WidgetWithChildrenShortcut);
        addAction(a);
    }
    connect(MInext, &QAction::triggered, this, &RepairPage::MInextClick);
    connect(MIprev, &QAction::triggered, this, &RepairPage::MIprevClick);
    connect(StringER, &QAbstractItemView::doubleClicked, this, &RepairPage::MIdumpClick);
    connect(StringER, &QWidget::customContextMenuRequested, this,
            [this](const QPoint& at) { PopupER->popup(StringER->viewport()->mapToGlobal(at)); });
    connect(MIsoer, &QAction::triggered, this, &RepairPage::MIsoerClick);
    connect(MIdump, &QAction::triggered, this, &RepairPage::MIdumpClick);
    connect(MIzaer, &QAction::triggered, this, &RepairPage::MIzaerClick);
}

void RepairPage::buildSectorList() {
    StringSE = new QTableView(this);
    StringSE->setObjectName(QStringLiteral("StringSE"));
    sectors_ = new SectorTableModel(StringSE);
    StringSE->setModel(sectors_);
    StringSE->setItemDelegate(new StringERDrawCell(StringSE));
    StringSE->verticalHeader()->hide();
    StringSE->verticalHeader()->setDefaultSectionSize(17);
    StringSE->verticalHeader()->setMinimumSectionSize(17);
    StringSE->horizontalHeader()->setHighlightSections(false);
    StringSE->horizontalHeader()->setStretchLastSection(false);
    StringSE->horizontalHeader()->setSectionResizeMode(SectorTableModel::FaultColumn,
                                                       QHeaderView::Stretch);
    StringSE->setSelectionBehavior(QAbstractItemView::SelectRows);
    StringSE->setSelectionMode(QAbstractItemView::SingleSelection);
    StringSE->setEditTriggers(QAbstractItemView::NoEditTriggers);
    StringSE->setWordWrap(false);
    StringSE->setColumnWidth(SectorTableModel::SectorColumn, 70);
    StringSE->setColumnWidth(SectorTableModel::AddressColumn, 70);
    StringSE->setColumnWidth(SectorTableModel::StreamColumn, 110);
    StringSE->setColumnWidth(SectorTableModel::BytesColumn, 80);
    StringSE->hide();
    connect(StringSE, &QAbstractItemView::doubleClicked, this, &RepairPage::dumpSector);
}

void RepairPage::buildBottom() {
    PanelBB = makePanel(this, "PanelBB");
    PanelBB->installEventFilter(this);
    RadioEQ = place(new QRadioButton(tr(layout::RadioEQ.text), PanelBB), layout::RadioEQ);
    keepToolTip(RadioEQ, layout::RadioEQHint, kContext);
    RadioEQ->setChecked(true);
    RadioRERE = place(new QRadioButton(tr(layout::RadioRERE.text), PanelBB), layout::RadioRERE);
    RadioISALL = place(new QRadioButton(tr(layout::RadioISALL.text), PanelBB), layout::RadioISALL);
    QPalette black = RadioISALL->palette();
    black.setColor(QPalette::WindowText, Qt::black);
    RadioISALL->setPalette(black);
    RadioAUTO = place(new QRadioButton(tr(layout::RadioAUTO.text), PanelBB), layout::RadioAUTO);
    keepToolTip(RadioAUTO, layout::RadioAUTOHint, kContext);
    auto* strategies = new QButtonGroup(PanelBB);
    for (QRadioButton* r : {RadioEQ, RadioRERE, RadioISALL, RadioAUTO}) strategies->addButton(r);
    bevel(layout::Bevel1, PanelBB);
    bevel(layout::Bevel7, PanelBB);
    CheckDP = makeCheck(PanelBB, layout::CheckDP, tr(layout::CheckDP.text), true);
    CheckZR = makeCheck(PanelBB, layout::CheckZR, tr(layout::CheckZR.text), true);
    makeLabel(PanelBB, layout::LabelMS, tr(layout::LabelMS.text), false, false)->adjustSize();
    CheckWrapDat = makeCheck(PanelBB, layout::CheckWrapDat, tr(layout::CheckWrapDat.text), false);
    keepToolTip(CheckWrapDat, layout::CheckWrapDatHint, kContext);
    CheckWrapDat->setEnabled(false);  // until the input is a rip
    connect(CheckWrapDat, &QCheckBox::toggled, this, &RepairPage::proposeOutputName);
    EditMS =
        place(new QLineEdit(QString::fromLatin1(layout::EditMS.text), PanelBB), layout::EditMS);
    EditMS->setMaxLength(4);
    ImageWA = picture(layout::ImageWA, "busy", PanelBB);
    keepToolTip(ImageWA, layout::ImageWAHint, kContext);
    ImageWA->hide();
    ImageHAMMER = picture(layout::ImageHAMMER, "hammer", PanelBB);
    keepToolTip(ImageHAMMER, layout::ImageHAMMERHint, kContext);
    BevelBB = bevel(layout::BevelBB, PanelBB);
    EditOUT = place(new QLineEdit(PanelBB), layout::EditOUT);
    BitBtnVERIFY =
        place(new QPushButton(tr(layout::BitBtnVERIFY.text), PanelBB), layout::BitBtnVERIFY);
    BitBtnVERIFY->setFont(smallFont());
    keepToolTip(BitBtnVERIFY, layout::BitBtnVERIFYHint, kContext);
    BitBtnVERIFY->setEnabled(false);  // until a save has written a file
    ImageSA = picture(layout::ImageSA, "floppy", PanelBB);
    keepToolTip(ImageSA, layout::ImageSAHint, kContext);
    actionWidth_ =
        StringER->fontMetrics().horizontalAdvance(QString::fromUtf8(layout::kTypicalAction)) + 8;

    connect(ImageHAMMER, &TImage::clicked, this, &RepairPage::ImageHAMMERClick);
    connect(ImageSA, &TImage::clicked, this, &RepairPage::ImageSAClick);
    connect(BitBtnVERIFY, &QPushButton::clicked, this, &RepairPage::BitBtnVERIFYClick);
}

void RepairPage::buildFilter() {
    EditFILTER = new QLineEdit(this);
    EditFILTER->setObjectName(QStringLiteral("EditFILTER"));
    EditFILTER->setClearButtonEnabled(true);
    keepToolTip(EditFILTER, layout::EditFILTERHint, "mpg::ui::RepairPage");
    LabelSHOWN = new QLabel(this);
    LabelSHOWN->setObjectName(QStringLiteral("LabelSHOWN"));
    connect(EditFILTER, &QLineEdit::textChanged, this, &RepairPage::applyFilter);
    // Every change of the rows shown, whatever made it, updates the count.
    for (const auto signal : {&QAbstractItemModel::rowsInserted, &QAbstractItemModel::rowsRemoved})
        connect(shown_, signal, this, &RepairPage::showCount);
    connect(shown_, &QAbstractItemModel::modelReset, this, &RepairPage::showCount);
    connect(shown_, &QAbstractItemModel::layoutChanged, this, &RepairPage::showCount);
}

// --- geometry --------------------------------------------------------------

void RepairPage::changeEvent(QEvent* event) {
    if (event->type() == QEvent::LanguageChange) {
        retranslateControls(this, "mpg::ui::RepairPage");
        retranslate();
        emit model_->headerDataChanged(Qt::Horizontal, 0, model_->columnCount() - 1);
        sectors_->retranslate();
    }
    QWidget::changeEvent(event);
}

void RepairPage::resizeEvent(QResizeEvent* event) {
    QWidget::resizeEvent(event);
    const int w = width(), h = height();
    PanelTT->setGeometry(0, 0, w, layout::kPanelTTHeight);
    PanelBB->setGeometry(0, h - layout::kPanelBBHeight, w, layout::kPanelBBHeight);
    const int filterTop = layout::kPanelTTHeight + 2;
    const int filterWidth = std::min(layout::kFilterWidth, w / 2);
    EditFILTER->setGeometry(8, filterTop, filterWidth, layout::kFilterHeight - 4);
    LabelSHOWN->setGeometry(filterWidth + 20, filterTop, std::max(0, w - filterWidth - 28),
                            layout::kFilterHeight - 4);
    placeLists();
    dfx();
}

void RepairPage::placeLists() {
    const int w = width(), h = height();
    const int listTop = layout::kPanelTTHeight + layout::kFilterHeight;
    const int listHeight = std::max(0, h - listTop - layout::kPanelBBHeight);
    // The faulty sectors take what their rows need below the blocks, at
    // most a third of the lists' room; a longer list scrolls.
    int sectorHeight = 0;
    if (!sectors_->rows().empty()) {
        const int rows = static_cast<int>(std::min<size_t>(sectors_->rows().size(), 1000));
        const int wanted = StringSE->horizontalHeader()->sizeHint().height() + 17 * rows +
                           2 * StringSE->frameWidth() + 2;
        sectorHeight = std::min(wanted, listHeight / 3);
    }
    StringER->setGeometry(0, listTop, w, listHeight - sectorHeight);
    StringSE->setGeometry(0, listTop + listHeight - sectorHeight, w, sectorHeight);
}

void RepairPage::showEvent(QShowEvent* event) {
    QWidget::showEvent(event);
    dfx();
}

void RepairPage::PanelTTResize() {
    const int w = PanelTT->width();
    BitBtnOP->move(w - BitBtnOP->width() - 8, BitBtnOP->y());
    BitBtnGO->move(BitBtnOP->x(), BitBtnGO->y());
    EditIN->resize(BitBtnGO->x() - EditIN->x() - 12, EditIN->height());
    BevelTT->resize(w - BevelTT->x() - 8, BevelTT->height());
    LabelST->resize(BitBtnGO->x() - LabelST->x() - 8, LabelST->height());
}

void RepairPage::PanelBBResize() {
    const int w = PanelBB->width();
    ImageHAMMER->move(w - ImageHAMMER->width() - 16, ImageHAMMER->y());
    BevelBB->resize(w - BevelBB->x() - 8, BevelBB->height());
    ImageSA->move(w - ImageSA->width() - 10, ImageSA->y());
    BitBtnVERIFY->move(ImageSA->x() - BitBtnVERIFY->width() - 10, BitBtnVERIFY->y());
    EditOUT->resize(BitBtnVERIFY->x() - EditOUT->x() - 8, EditOUT->height());
}

void RepairPage::dfx() {
    const int client = StringER->viewport()->width();
    // The action column shows while the list holds an automatic repair's
    // rows; the other columns share what it leaves by their own rule.
    int action = 0;
    if (repairsListed_) {
        action = std::clamp(actionWidth_, layout::kActionLeast,
                            std::max(layout::kActionLeast, client - layout::kOtherColumnsLeast));
    }
    ColumnWidths now{};
    for (int c = 0; c < kErrorColumns; ++c) now[static_cast<size_t>(c)] = StringER->columnWidth(c);
    // The row number and the index widen for the largest they show (a
    // million rows, an index of tens of millions) and narrow again after.
    const QFontMetrics metrics = StringER->fontMetrics();
    const auto fit = [&](int column, int64_t largest) {
        const int text = metrics.horizontalAdvance(
            grouped(static_cast<uint64_t>(std::max<int64_t>(largest, 0))));
        now[static_cast<size_t>(column)] =
            std::max(kInitialColumnWidths[static_cast<size_t>(column)], text + 8);
    };
    const int lastRow = grid_.rowCount() - 1;
    fit(0, lastRow);
    fit(1, grid_.rowIndex(lastRow));  // the rows keep the table's order
    ColumnWidths w = ::mpg::columnWidthsFor(client - action, now);
    // The offset column holds 11 digits with their separators (a stream of
    // tens of gigabytes); a narrower list scrolls sideways instead.
    const int offsetWidth = metrics.horizontalAdvance(QStringLiteral("99'999'999'999")) + 12;
    w[kOffsetColumn] = std::max(w[kOffsetColumn], offsetWidth);
    // A width the rule computes as zero or negative shows as a hidden column.
    for (int c = 0; c < kErrorColumns; ++c)
        StringER->setColumnWidth(c, std::max(0, w[static_cast<size_t>(c)]));
    StringER->setColumnWidth(kActionColumn, action);
}

bool RepairPage::eventFilter(QObject* watched, QEvent* event) {
    if (event->type() == QEvent::Resize) {
        if (watched == PanelTT) PanelTTResize();
        if (watched == PanelBB) PanelBBResize();
        if (watched == StringER->viewport()) dfx();
    }
    return QWidget::eventFilter(watched, event);
}

// --- texts -----------------------------------------------------------------

void RepairPage::setStatus(const QString& text) {
    LabelST->setText(text);
    LabelST->setToolTip(text);
}

void RepairPage::retranslate() {
    // The field starts empty: what belongs there shows until a name is typed.
    EditIN->setPlaceholderText(QString::fromStdString(messageText(Message::NeedFileName)));
    EditFILTER->setPlaceholderText(tr(layout::EditFILTERPlaceholder));
    showCount();
}

void RepairPage::restoreCaption() {
    window()->setWindowTitle(mainCaption());
}

QString RepairPage::inputText() const {
    return EditIN->text();
}

std::string RepairPage::inputPath() const {
    return EditIN->text().toStdString();
}

void RepairPage::proposeOutputName() {
    const QString input = EditIN->text();
    CheckWrapDat->setEnabled(!input.isEmpty() && isCdxaFile(input.toStdString()));
    if (input.isEmpty()) return;
    EditOUT->setText(
        QString::fromStdString(outputNameFor(input.toStdString(), fileExists, wrapsDat())));
}

bool RepairPage::wrapsDat() const {
    return CheckWrapDat->isEnabled() && CheckWrapDat->isChecked();
}

void RepairPage::showExcisionMarker() {
    ImageEX->setVisible(!state_.view.cuts().empty());
}

// --- open, check and scan ----------------------------------------------------

void RepairPage::ImageFIClick() {
    if (busy()) return;
    const QStringList chosen =
        chooseFiles(this, QFileDialog::ExistingFile, QStringLiteral("*.* (*)"), EditIN->text(),
                    lastOpenDir_, lastFilterIndex_);
    if (!chosen.isEmpty()) EditIN->setText(chosen.first());
    // Also after a cancelled dialog: the proposal follows the input field.
    proposeOutputName();
}

void RepairPage::openFile(const QString& path) {
    if (busy()) return;
    EditIN->setText(path);
    BitBtnOPClick();
}

void RepairPage::BitBtnOPClick() {
    if (busy()) return;
    const CheckResult result = openAndCheck(state_, inputPath());
    const QString text = QString::fromStdString(checkStatusText(result, state_.view.failure()));
    switch (result) {
        case CheckResult::OpenFailed:
        case CheckResult::NoName:
        case CheckResult::NotRegular:
            setStatus(text);
            return;
        default:
            break;
    }
    // The file could be opened: the table, the cut list and the list start anew.
    ImageEX->hide();
    forgetRepairs();
    clearErrorList();
    showSectors({});
    if (result == CheckResult::Ok) {
        MIsoer->setEnabled(true);
        restoreCaption();
    }
    // The sound rules name the kind of stream; the strict walk knows one.
    if (result == CheckResult::Ok && state_.codes.rules() == StreamRules::Sound) {
        setStatus(text + QStringLiteral(": ") +
                  QString::fromStdString(streamKindText(state_.kind)));
        return;
    }
    setStatus(text);
}

void RepairPage::BitBtnGOClick() {
    if (EditIN->text().isEmpty()) {
        setStatus(QString::fromStdString(messageText(Message::NeedFileName)));
        return;
    }
    if (BitBtnGO->text() == tr("стоп")) {
        askStop(jobs_, FormYesNo_, window());
        return;
    }
    if (busy()) return;  // a join runs
    switch (state_.view.openStream(inputPath())) {
        case OpenStatus::Opened:
            break;
        case OpenStatus::Failed:
            setStatus(QString::fromStdString(failureText(state_.view.failure())));
            return;
    }
    // The file just opened tells whether the scan walks sectors.
    scanOfRip_ = state_.view.layout() != nullptr;
    BitBtnGO->setText(tr("стоп"));
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
            tr("продолжить проверку\r\nили начать сначала?"), tr("продолжить"), tr("сначала"),
            QLatin1Char('n'), window());
        state_.resumeScan = resume ? 'y' : '0';
    }
    // A resumed scan adds its rows to the table's broken blocks; a fresh
    // one makes the table anew.
    if (state_.resumeScan == 'y') {
        unlistRepairs();
    } else {
        forgetRepairs();
        showSectors({});
    }
    restoreCaption();
    setStatus(tr("идёт проверка потока"));
    GaugeZZ->setValue(0);
    GaugeZZ->show();
    LabelPTR->show();
    jobs_.start(Job::Scan, [this](JobSink& sink) {
        // Read by the window only once the job has ended.
        scanFailure_ = scanStream(state_, sink);
        return 0;
    });
}

// --- what the jobs report ------------------------------------------------------

void RepairPage::showProgress(int percent, const QString& text) {
    LabelPTR->setText(text);
    LabelPTR->adjustSize();
    GaugeZZ->setValue(percent);
}

void RepairPage::takeRows(const std::vector<Notice>& notices) {
    // A batch of rows is written and shown at once: the rows, the current
    // row (the last one written) and the column widths.
    int current = -1;
    const int rowsBefore = grid_.rowCount();
    int changedFrom = rowsBefore;  // a grid row
    for (const Notice& n : notices) {
        const int row = grid_.onNotice(n);
        if (row >= 0) current = row;
        // A report changes the last row or adds one (and the grid never
        // holds fewer than two rows).
        if (n.kind == Notify::Broken || n.kind == Notify::Resolved || n.kind == Notify::Withdrawn)
            changedFrom = std::min(changedFrom, std::min(rowsBefore, grid_.rowCount()) - 1);
    }
    model_->sync(changedFrom - 1);
    if (current < 0) return;
    // The row just written, where the filter shows it.
    const int shown = shown_->shownRow(current);
    if (shown >= 0) {
        selectShownRow(shown);
    }
    dfx();
}

void RepairPage::clearErrorList() {
    grid_.clear();
    model_->sync();
}

void RepairPage::showSectors(std::vector<SectorFaultRow> rows) {
    sectors_->setRows(std::move(rows));
    StringSE->setVisible(!sectors_->rows().empty());
    // The lists share the room anew.
    placeLists();
}

void RepairPage::dumpSector(const QModelIndex& index) {
    if (busy() || FormDU_ == nullptr || !index.isValid()) return;
    // The rows count the stream as the rip holds it; once a repair has cut
    // regions out, the table counts the stream without them.
    const Position at =
        state_.view.fileToStream(sectors_->rows()[static_cast<size_t>(index.row())].streamStart);
    const std::optional<size_t> block = blockHolding(state_.table, at);
    BlockDump bytes;
    if (!block || !readBlockForDump(state_, inputPath(), *block, bytes)) return;
    showDump(bytes, at);
}

void RepairPage::applyFilter() {
    std::string bad;
    std::optional<RowFilter> filter = parseRowFilter(EditFILTER->text().toStdString(), &bad);
    // A word not understood leaves every row shown, and the count says which.
    badFilterWord_ = filter ? QString() : QString::fromStdString(bad);
    QPalette colours = EditFILTER->palette();
    colours.setColor(QPalette::Text, filter ? palette().color(QPalette::Text) : QColor(Qt::red));
    EditFILTER->setPalette(colours);
    shown_->setRowFilter(std::move(filter));
    showCount();
}

void RepairPage::showCount() {
    const QString shown = grouped(static_cast<uint64_t>(shown_->blocksShown()));
    const QString all = grouped(static_cast<uint64_t>(shown_->blocksListed()));
    if (!badFilterWord_.isEmpty()) {
        LabelSHOWN->setText(
            tr("непонятное слово «%1»; показано %2 из %3").arg(badFilterWord_, shown, all));
        return;
    }
    LabelSHOWN->setText(tr("показано %1 из %2").arg(shown, all));
}

int RepairPage::currentGridRow() const {
    return shown_->gridRow(StringER->selectionModel()->currentIndex().row());
}

void RepairPage::selectShownRow(int row) {
    const QModelIndex index = shown_->index(row, 0);
    StringER->selectionModel()->setCurrentIndex(
        index, QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows);
    StringER->scrollTo(index);
}

void RepairPage::MInextClick() {
    moveToBroken(1);
}

void RepairPage::MIprevClick() {
    moveToBroken(-1);
}

void RepairPage::moveToBroken(int step) {
    const int rows = shown_->rowCount();
    const QModelIndex current = StringER->selectionModel()->currentIndex();
    // Without a current row the first (or last) broken row is the goal.
    int row = current.isValid() ? current.row() : (step > 0 ? -1 : rows);
    // The row's copy of its entry: the table is the job's while one runs.
    // After an automatic repair the rows it made sound are listed no more.
    for (row += step; row >= 0 && row < rows; row += step) {
        const BlockRecord* record = grid_.rowRecord(shown_->gridRow(row));
        if (record != nullptr && record->broken == kBrokenListed) {
            selectShownRow(row);
            return;
        }
    }
}

void RepairPage::jobFinished(Job job, int32_t) {
    switch (job) {
        case Job::Scan:
            scanDone();
            break;
        case Job::Hammer:
            hammerDone();
            break;
        case Job::Save:
            saveDone();
            break;
        case Job::Verify:
            verifyDone();
            break;
        case Job::Join:
        case Job::JoinCheck:
            break;
    }
    BitBtnGO->setText(tr("го"));
    GaugeZZ->hide();
    LabelPTR->hide();
}

void RepairPage::scanDone() {
    const Failure failure = std::exchange(scanFailure_, Failure{});
    if (state_.job.stopRequested || failure) {
        dropUnfinishedBlock(state_.table, grid_);
        model_->sync();
    }
    // The sector walk's rows, a resumed scan's those it kept; the job has
    // ended, so the copy is the window's own.
    showSectors(state_.sectorFaults);
    // The table holds every block the scan walked, the listed ones broken.
    const uint64_t blocks = state_.table.size();
    const uint64_t broken = countListed(state_.table);
    const uint64_t sectors = state_.sectorFaults.size();
    if (failure) {
        setStatus(QString::fromStdString(failureText(failure)));
    } else if (state_.job.stopRequested) {
        setStatus(QString::fromStdString(scanOfRip_ ? scanStoppedText(blocks, broken, sectors)
                                                    : scanStoppedText(blocks, broken)));
    } else {
        // The strict walk names no streams.
        const StreamCodes* codes =
            state_.codes.rules() == StreamRules::Sound ? &state_.codes : nullptr;
        setStatus(QString::fromStdString(scanOfRip_ ? scanDoneText(blocks, broken, sectors, codes)
                                                    : scanDoneText(blocks, broken, codes)));
    }
}

// --- repair and save ------------------------------------------------------------

void RepairPage::ImageHAMMERClick() {
    if (busy()) return;
    MIsoer->setEnabled(false);
    LabelPTR->show();
    ImageWA->show();
    hammerStrategy_ = RadioEQ->isChecked()      ? Strategy::RemoveRunsEqualToDelta
                      : RadioRERE->isChecked()  ? Strategy::RemoveRunsAndRemeasure
                      : RadioISALL->isChecked() ? Strategy::AcceptRealSizes
                                                : Strategy::Automatic;
    hammerOptions_ = {CheckZR->isChecked(), CheckDP->isChecked(), 100};
    if (hammerStrategy_ == Strategy::RemoveRunsAndRemeasure) {
        // A least length that is no whole number is shown, and taken, as 100.
        const auto minRepeat = parseMinRepeat(EditMS->text().toStdString());
        if (!minRepeat) EditMS->setText(QString::fromLatin1(kDefaultMinRepeat));
        hammerOptions_.minRepeat = minRepeat.value_or(100);
    }
    hammerListed_ = grid_.listedEntries(state_.table);
    // The list of an automatic repair also shows the blocks it made sound:
    // the hammer takes only those still listed broken.
    if (repairsListed_) {
        std::erase_if(hammerListed_,
                      [this](size_t i) { return state_.table[i].broken != kBrokenListed; });
    }
    hammerInput_ = inputPath();
    BitBtnGO->setText(tr("стоп"));
    jobs_.start(Job::Hammer, [this](JobSink& sink) {
        runHammer(sink);
        return 0;
    });
}

void RepairPage::runHammer(JobSink& sink) {
    SinkProgress progress(sink);
    hammerOutcome_ = applyStrategy(state_, hammerListed_, hammerStrategy_, hammerOptions_,
                                   hammerInput_, progress);
}

void RepairPage::hammerDone() {
    StrategyOutcome outcome = std::exchange(hammerOutcome_, StrategyOutcome{});
    // A stopped strategy has applied what it did to the rows before the stop.
    // A stopped strategy's counts are those of the rows before the stop.
    const QString summary = QString::fromStdString(strategySummaryText(hammerStrategy_, outcome));
    setStatus(state_.job.stopRequested
                  ? tr("прервано пользователем") + QStringLiteral(": ") + summary
                  : summary);
    hammerListed_.clear();
    state_.view.resetCache();
    if (hammerStrategy_ == Strategy::Automatic) {
        mergeReport(repairs_, std::move(outcome.repairs));
        listRepairs();
    } else {
        unlistRepairs();
    }
    showExcisionMarker();
    ImageWA->hide();
}

void RepairPage::listRepairs() {
    // The blocks reported on, whether made sound or not, and those still
    // listed broken (a stopped run has not reached all it was given).
    std::vector<size_t> rows = listedInTable(state_.table);
    std::vector<size_t> reported;
    reported.reserve(repairs_.size());
    for (const BlockRepair& r : repairs_) reported.push_back(r.index);
    std::vector<size_t> merged;
    merged.reserve(rows.size() + reported.size());
    std::set_union(rows.begin(), rows.end(), reported.begin(), reported.end(),
                   std::back_inserter(merged));
    grid_.rebuildFromEntries(state_.table, merged);
    repairsListed_ = true;
    model_->showRepairs(&repairs_);
    model_->sync();
    dfx();
}

void RepairPage::unlistRepairs() {
    grid_.rebuildFromTable(state_.table);
    repairsListed_ = false;
    model_->showRepairs(nullptr);
    model_->sync();
    dfx();
}

void RepairPage::forgetRepairs() {
    repairsListed_ = false;
    model_->showRepairs(nullptr);
    repairs_.clear();
    repairs_.shrink_to_fit();
    dfx();
}

void RepairPage::ImageSAClick() {
    if (busy() || state_.table.empty() || state_.view.isOpen()) return;
    const QString output = EditOUT->text();
    if (replacesAFile(output) && FormYesNo_ != nullptr &&
        !FormYesNo_->AskYesNo(tr("файл уже существует. перезаписать?"), window())) {
        return;
    }
    restoreCaption();
    saveParams_ = {inputPath(), output.toStdString()};
    saveParams_.wrapDat = wrapsDat();
    saving_ = {saveParams_.outputPath, !repairs_.empty()};
    for (const BlockRepair& r : repairs_) {
        saving_.lengthFromFile += r.action == RepairAction::LengthFromFile;
        saving_.padded += r.action == RepairAction::Padded;
    }
    // What no repair resolved stays listed, and the fallback writes it.
    for (size_t i = 0; i < state_.table.size(); ++i)
        saving_.unresolved += state_.table[i].broken == kBrokenListed;
    showFileJob(tr("идёт сохранение"));
    jobs_.start(Job::Save, [this](JobSink& sink) {
        return saveRepairedStream(state_, saveParams_, sink) ? 1 : 0;
    });
}

void RepairPage::showFileJob(const QString& status) {
    BitBtnGO->setText(tr("стоп"));
    setStatus(status);
    LabelPTR->show();
    GaugeZZ->setValue(0);
    GaugeZZ->show();
}

void RepairPage::saveDone() {
    const Failure& failure = state_.job.failure;
    setStatus(withDetail(saveResultText(failure), failure));
    // Only a file just written can be verified.
    saved_ = failure ? WrittenRepairs{} : saving_;
    BitBtnVERIFY->setEnabled(!saved_.output.empty());
}

// --- verification of the saved file ----------------------------------------------

void RepairPage::BitBtnVERIFYClick() {
    if (busy() || saved_.output.empty()) return;
    checkState_.rules = state_.rules.load();
    checkState_.job.stopRequested = false;
    showFileJob(tr("идёт проверка результата"));
    jobs_.start(Job::Verify, [this](JobSink& sink) {
        CheckSink check(sink, state_.job.stopRequested, checkState_.job.stopRequested);
        outputCheck_ = checkWrittenStream(checkState_, saved_.output, check);
        // Once counted, the output's table is of no more use: a file of
        // gigabytes holds millions of entries.
        checkState_.view.closeFile();
        checkState_.table.clear();
        return 0;
    });
}

void RepairPage::verifyDone() {
    const OutputCheck check = std::exchange(outputCheck_, OutputCheck{});
    if (check.failure) {
        setStatus(QString::fromStdString(failureText(check.failure)));
        return;
    }
    if (check.stopped) {
        setStatus(tr("прервано пользователем"));
        return;
    }
    QString text =
        tr("результат: блоков %1, с ошибками %2").arg(grouped(check.blocks), grouped(check.broken));
    // A rewritten length or a padded block scans clean whatever its payload
    // holds, and so does a block the fallback wrote: those are named apart.
    if (saved_.automatic) {
        text += tr("; длина переписана: %1, дополнено: %2")
                    .arg(grouped(saved_.lengthFromFile), grouped(saved_.padded));
    }
    if (saved_.unresolved > 0) text += tr("; не решено: %1").arg(grouped(saved_.unresolved));
    setStatus(text);
}

// --- the list's menu ---------------------------------------------------------------

void RepairPage::MIsoerClick() {
    if (busy()) return;
    const std::string name = indexFileName(inputPath());
    if (fileExists(name) && FormYesNo_ != nullptr &&
        !FormYesNo_->AskYesNo(tr("файл уже существует. перезаписать?"), window())) {
        return;
    }
    const Failure failure =
        saveIndexFile(state_.table, name, {inputPath()}, state_.view.streamSize());
    if (failure) {
        setStatus(withDetail(saveResultText(failure), failure));
        return;
    }
    setStatus(tr("ошибки сохранены: %1").arg(QFileInfo(QString::fromStdString(name)).fileName()));
}

void RepairPage::MIdumpClick() {
    if (busy() || FormDU_ == nullptr) return;
    const int row = currentGridRow();
    if (row < 1) return;
    const std::optional<size_t> index = grid_.rowEntry(row, state_.table);
    BlockDump bytes;
    if (!index || !readBlockForDump(state_, inputPath(), *index, bytes)) return;
    showDump(bytes);
}

void RepairPage::showDump(const BlockDump& bytes, std::optional<Position> at) {
    FormDU_->MakeDump(bytes);
    if (at) FormDU_->goToOffset(QString::number(*at));
    FormDU_->show();
    FormDU_->raise();
    FormDU_->activateWindow();
}

void RepairPage::MIzaerClick() {
    if (busy()) return;
    // Records that do not fit the input are refused, with the reason: the
    // repair would cut real data where a foreign index places its blocks.
    // A failure names the index file as the other failures name theirs.
    const std::string name = indexFileName(inputPath());
    const auto failed = [this, &name](Message message) {
        setStatus(QString::fromStdString(messageText(message) + ": " + name));
    };
    Failure inputFailure;
    const size_t blocksBefore = state_.table.size();
    const IndexLoad load = loadIndexFile(name, inputPath(), state_, &inputFailure);
    // An index file that changed between its check and its loading leaves
    // no table: the list then names no block of the old one.
    if (load != IndexLoad::Loaded && state_.table.size() != blocksBefore) {
        forgetRepairs();
        unlistRepairs();
    }
    switch (load) {
        case IndexLoad::Loaded:
            break;
        case IndexLoad::Missing:
            failed(Message::NoIndex);
            return;
        case IndexLoad::InputFailed:
            setStatus(QString::fromStdString(failureText(inputFailure)));
            return;
        case IndexLoad::Unreadable:
            failed(Message::ReadFailed);
            return;
        case IndexLoad::Damaged:
            failed(Message::BadIndex);
            return;
    }
    state_.view.resetCache();
    state_.view.clearCuts();
    ImageEX->hide();
    forgetRepairs();
    unlistRepairs();
    // The number with its digits grouped; the plural only picks the word.
    const uint64_t rows = countListed(state_.table);
    setStatus(tr("ошибки загружены: %1, %2 строк", nullptr, static_cast<int>(rows))
                  .arg(QFileInfo(QString::fromStdString(name)).fileName(), grouped(rows)));
}

}  // namespace mpg::ui
