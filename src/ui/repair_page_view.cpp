// The repair page's controls: how they are made, placed and sized, and
// the list's rows, filter and selection. What they do is in repair_page.cpp.
#include "ui/repair_page.h"

#include <QAction>
#include <QButtonGroup>
#include <QCheckBox>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QPushButton>
#include <QRadioButton>
#include <QTableView>
#include <algorithm>

#include "analysis/dump.h"
#include "repair/naming.h"
#include "stream/cdxa.h"
#include "text/messages.h"
#include "ui/error_table.h"
#include "ui/form_du.h"
#include "ui/language.h"
#include "ui/page_kit.h"
#include "ui/repair_page_layout.h"
#include "ui/sector_table.h"
#include "ui/widgets.h"

namespace mpg::ui {

namespace {

TImage* picture(const ControlSpec& control, const char* picture, QWidget* parent) {
    return place(
        new TImage(QString::fromLatin1(control.name), QString::fromLatin1(picture), parent),
        control);
}

QFrame* bevel(const ControlSpec& control, QWidget* parent) {
    return makeBevel(QString::fromLatin1(control.name), parent, control.geometry);
}

}  // namespace

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
    ImageFI = picture(repair_layout::ImageFI, "folder", PanelTT);
    keepToolTip(ImageFI, repair_layout::ImageFIHint, kRepairPageContext);
    EditIN = place(new QLineEdit(PanelTT), repair_layout::EditIN);
    // A file dropped on the field opens, as one dropped anywhere on the
    // window does: the field takes no drop of its own.
    EditIN->setAcceptDrops(false);
    BitBtnOP =
        place(new QPushButton(tr(repair_layout::BitBtnOP.text), PanelTT), repair_layout::BitBtnOP);
    BitBtnGO =
        place(new QPushButton(tr(repair_layout::BitBtnGO.text), PanelTT), repair_layout::BitBtnGO);
    BitBtnOP->setFont(smallFont());
    BitBtnGO->setFont(smallFont());
    BevelTT = bevel(repair_layout::BevelTT, PanelTT);
    GaugeZZ = place(new TGauge(QString::fromLatin1(repair_layout::GaugeZZ.name), PanelTT),
                    repair_layout::GaugeZZ);
    GaugeZZ->hide();
    LabelPTR = makeLabel(PanelTT, repair_layout::LabelPTR, QString(), true, false);
    LabelPTR->hide();
    LabelST = makeLabel(PanelTT, repair_layout::LabelST, QString(), true, true);
    LabelST->setWordWrap(true);
    LabelST->setAlignment(Qt::AlignLeft | Qt::AlignVCenter);
    bevel(repair_layout::Bevel2, PanelTT);
    bevel(repair_layout::Bevel3, PanelTT);
    ImageEX = picture(repair_layout::ImageEX, "excision", PanelTT);
    keepToolTip(ImageEX, repair_layout::ImageEXHint, kRepairPageContext);
    ImageEX->hide();
    CheckDecode = makeCheck(PanelTT, repair_layout::CheckDecode,
                            tr(repair_layout::CheckDecode.text), keptFlag(kDecodeCheckKey, false));
    keepToolTip(CheckDecode, repair_layout::CheckDecodeHint, kRepairPageContext);
    state_.decodeCheck = CheckDecode->isChecked();
    connect(CheckDecode, &QCheckBox::toggled, this, [this](bool on) {
        state_.decodeCheck = on;
        keepFlag(kDecodeCheckKey, on);
    });

    // A new input gets a new output name, whether chosen or typed: the save
    // must never write the new file's repair over the name chosen for the old.
    connect(EditIN, &QLineEdit::textChanged, this, &RepairPage::proposeOutputName);
    connect(BitBtnOP, &QPushButton::clicked, this, &RepairPage::openInput);
    connect(BitBtnGO, &QPushButton::clicked, this, &RepairPage::startOrStopScan);
    connect(ImageFI, &TImage::clicked, this, &RepairPage::chooseInputFile);
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
    // The kind stands behind the row number: what a row is comes first.
    header->moveSection(kKindColumn, 1);
    StringER->setColumnWidth(kKindColumn, kKindColumnWidth);
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
    MInext = PopupER->addAction(tr(repair_layout::MInextText));
    MInext->setObjectName(QStringLiteral("MInext"));
    keepSource(MInext, repair_layout::MInextText);
    MInext->setShortcut(QKeySequence(Qt::Key_F8));
    MIprev = PopupER->addAction(tr(repair_layout::MIprevText));
    MIprev->setObjectName(QStringLiteral("MIprev"));
    keepSource(MIprev, repair_layout::MIprevText);
    MIprev->setShortcut(QKeySequence(Qt::SHIFT | Qt::Key_F8));
    for (QAction* a : {MInext, MIprev}) {
        a->setShortcutContext(Qt::WidgetWithChildrenShortcut);
        addAction(a);
    }
    connect(MInext, &QAction::triggered, this, &RepairPage::selectNextBroken);
    connect(MIprev, &QAction::triggered, this, &RepairPage::selectPreviousBroken);
    connect(StringER, &QAbstractItemView::doubleClicked, this, &RepairPage::dumpCurrentBlock);
    connect(StringER, &QWidget::customContextMenuRequested, this,
            [this](const QPoint& at) { PopupER->popup(StringER->viewport()->mapToGlobal(at)); });
    connect(MIsoer, &QAction::triggered, this, &RepairPage::saveErrorIndex);
    connect(MIdump, &QAction::triggered, this, &RepairPage::dumpCurrentBlock);
    connect(MIzaer, &QAction::triggered, this, &RepairPage::loadErrorIndex);
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
    RadioEQ =
        place(new QRadioButton(tr(repair_layout::RadioEQ.text), PanelBB), repair_layout::RadioEQ);
    keepToolTip(RadioEQ, repair_layout::RadioEQHint, kRepairPageContext);
    RadioEQ->setChecked(true);
    RadioRERE = place(new QRadioButton(tr(repair_layout::RadioRERE.text), PanelBB),
                      repair_layout::RadioRERE);
    RadioISALL = place(new QRadioButton(tr(repair_layout::RadioISALL.text), PanelBB),
                       repair_layout::RadioISALL);
    QPalette black = RadioISALL->palette();
    black.setColor(QPalette::WindowText, Qt::black);
    RadioISALL->setPalette(black);
    RadioAUTO = place(new QRadioButton(tr(repair_layout::RadioAUTO.text), PanelBB),
                      repair_layout::RadioAUTO);
    keepToolTip(RadioAUTO, repair_layout::RadioAUTOHint, kRepairPageContext);
    auto* strategies = new QButtonGroup(PanelBB);
    for (QRadioButton* r : {RadioEQ, RadioRERE, RadioISALL, RadioAUTO}) strategies->addButton(r);
    bevel(repair_layout::Bevel1, PanelBB);
    bevel(repair_layout::Bevel7, PanelBB);
    CheckDP = makeCheck(PanelBB, repair_layout::CheckDP, tr(repair_layout::CheckDP.text), true);
    CheckZR = makeCheck(PanelBB, repair_layout::CheckZR, tr(repair_layout::CheckZR.text), true);
    makeLabel(PanelBB, repair_layout::LabelMS, tr(repair_layout::LabelMS.text), false, false)
        ->adjustSize();
    CheckWrapDat = makeCheck(PanelBB, repair_layout::CheckWrapDat,
                             tr(repair_layout::CheckWrapDat.text), false);
    keepToolTip(CheckWrapDat, repair_layout::CheckWrapDatHint, kRepairPageContext);
    CheckWrapDat->setEnabled(false);  // until the input is a rip
    connect(CheckWrapDat, &QCheckBox::toggled, this, &RepairPage::proposeOutputName);
    EditMS = place(new QLineEdit(QString::fromLatin1(repair_layout::EditMS.text), PanelBB),
                   repair_layout::EditMS);
    EditMS->setMaxLength(4);
    ImageWA = picture(repair_layout::ImageWA, "busy", PanelBB);
    keepToolTip(ImageWA, repair_layout::ImageWAHint, kRepairPageContext);
    ImageWA->hide();
    ImageHAMMER = picture(repair_layout::ImageHAMMER, "hammer", PanelBB);
    keepToolTip(ImageHAMMER, repair_layout::ImageHAMMERHint, kRepairPageContext);
    BevelBB = bevel(repair_layout::BevelBB, PanelBB);
    EditOUT = place(new QLineEdit(PanelBB), repair_layout::EditOUT);
    BitBtnVERIFY = place(new QPushButton(tr(repair_layout::BitBtnVERIFY.text), PanelBB),
                         repair_layout::BitBtnVERIFY);
    BitBtnVERIFY->setFont(smallFont());
    keepToolTip(BitBtnVERIFY, repair_layout::BitBtnVERIFYHint, kRepairPageContext);
    BitBtnVERIFY->setEnabled(false);  // until a save has written a file
    ImageSA = picture(repair_layout::ImageSA, "floppy", PanelBB);
    keepToolTip(ImageSA, repair_layout::ImageSAHint, kRepairPageContext);
    actionWidth_ = StringER->fontMetrics().horizontalAdvance(
                       QString::fromUtf8(repair_layout::kTypicalAction)) +
                   8;

    connect(ImageHAMMER, &TImage::clicked, this, &RepairPage::applyChosenRepair);
    connect(ImageSA, &TImage::clicked, this, &RepairPage::saveRepairedFile);
    connect(BitBtnVERIFY, &QPushButton::clicked, this, &RepairPage::checkSavedFile);
}

void RepairPage::buildFilter() {
    EditFILTER = new QLineEdit(this);
    EditFILTER->setObjectName(QStringLiteral("EditFILTER"));
    EditFILTER->setClearButtonEnabled(true);
    keepToolTip(EditFILTER, repair_layout::EditFILTERHint, "mpg::ui::RepairPage");
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
    PanelTT->setGeometry(0, 0, w, repair_layout::kPanelTTHeight);
    PanelBB->setGeometry(0, h - repair_layout::kPanelBBHeight, w, repair_layout::kPanelBBHeight);
    const int filterTop = repair_layout::kPanelTTHeight + 2;
    const int filterWidth = std::min(repair_layout::kFilterWidth, w / 2);
    EditFILTER->setGeometry(8, filterTop, filterWidth, repair_layout::kFilterHeight - 4);
    LabelSHOWN->setGeometry(filterWidth + 20, filterTop, std::max(0, w - filterWidth - 28),
                            repair_layout::kFilterHeight - 4);
    placeLists();
    fitListColumns();
}

void RepairPage::placeLists() {
    const int w = width(), h = height();
    const int listTop = repair_layout::kPanelTTHeight + repair_layout::kFilterHeight;
    const int listHeight = std::max(0, h - listTop - repair_layout::kPanelBBHeight);
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
    fitListColumns();
}

void RepairPage::placeTopControls() {
    const int w = PanelTT->width();
    BitBtnOP->move(w - BitBtnOP->width() - 8, BitBtnOP->y());
    BitBtnGO->move(BitBtnOP->x(), BitBtnGO->y());
    EditIN->resize(BitBtnGO->x() - EditIN->x() - 12, EditIN->height());
    BevelTT->resize(w - BevelTT->x() - 8, BevelTT->height());
    LabelST->resize(BitBtnGO->x() - LabelST->x() - 8, LabelST->height());
}

void RepairPage::placeBottomControls() {
    const int w = PanelBB->width();
    ImageHAMMER->move(w - ImageHAMMER->width() - 16, ImageHAMMER->y());
    BevelBB->resize(w - BevelBB->x() - 8, BevelBB->height());
    ImageSA->move(w - ImageSA->width() - 10, ImageSA->y());
    BitBtnVERIFY->move(ImageSA->x() - BitBtnVERIFY->width() - 10, BitBtnVERIFY->y());
    EditOUT->resize(BitBtnVERIFY->x() - EditOUT->x() - 8, EditOUT->height());
}

void RepairPage::fitListColumns() {
    const int client = StringER->viewport()->width();
    // The action column shows while the list holds an automatic repair's
    // rows; the other columns share what it leaves by their own rule.
    int action = 0;
    if (repairsListed_) {
        action = std::clamp(
            actionWidth_, repair_layout::kActionLeast,
            std::max(repair_layout::kActionLeast, client - repair_layout::kOtherColumnsLeast));
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
    // The blocks' rows keep the table's order; the findings' stand behind.
    int lastBlock = lastRow;
    while (lastBlock > 1 && grid_.rowFinding(lastBlock) != nullptr) --lastBlock;
    fit(1, grid_.rowIndex(lastBlock));
    ColumnWidths w = ::mpg::columnWidthsFor(client - action - kKindColumnWidth, now);
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
        if (watched == PanelTT) placeTopControls();
        if (watched == PanelBB) placeBottomControls();
        if (watched == StringER->viewport()) fitListColumns();
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
    EditFILTER->setPlaceholderText(tr(repair_layout::EditFILTERPlaceholder));
    showCount();
    // The items that name the session's files, in the new language.
    followSession();
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

void RepairPage::showProgress(int percent, const QString& text) {
    LabelPTR->setText(text);
    LabelPTR->adjustSize();
    GaugeZZ->setValue(percent);
}

void RepairPage::showSectors(SectorFaultList rows) {
    sectors_->setRows(std::move(rows));
    StringSE->setVisible(!sectors_->rows().empty());
    // The lists share the room anew.
    placeLists();
}

void RepairPage::applyFilter() {
    std::string bad;
    std::optional<RowFilter> filter =
        parseRowFilter(EditFILTER->text().toStdString(), &bad, &badFilterFault_);
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
    if (!badFilterWord_.isEmpty() && badFilterFault_ == FilterFault::MixedRange) {
        LabelSHOWN->setText(
            tr("диапазон «%1» неоднозначен: код из двух цифр xx значит 000001xx; показано %2 из %3")
                .arg(badFilterWord_, shown, all));
        return;
    }
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
    if (shown >= 0) selectShownRow(shown);
    fitListColumns();
}

void RepairPage::clearErrorList() {
    grid_.clear();
    model_->sync();
}

void RepairPage::showDump(BlockDump bytes, std::optional<Position> at) {
    // Its title names where the block stands in the input, as the list does.
    bytes.titled = session_.shownPosition(bytes.offset);
    FormDU_->MakeDump(bytes);
    if (at) FormDU_->goToOffset(QString::number(*at));
    FormDU_->show();
    FormDU_->raise();
    FormDU_->activateWindow();
}

void RepairPage::selectNextBroken() {
    moveToBroken(1);
}

void RepairPage::selectPreviousBroken() {
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

}  // namespace mpg::ui
