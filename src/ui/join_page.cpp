#include "ui/join_page.h"

#include <QAction>
#include <QCheckBox>
#include <QFileDialog>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMenu>
#include <QMessageBox>
#include <QPushButton>
#include <QSplitter>
#include <QTimer>

#include "text/messages.h"
#include "text/translate.h"
#include "ui/form_yes_no.h"
#include "ui/page_kit.h"
#include "ui/widgets.h"

namespace mpg::ui {

namespace {

// The right panel is 338 pixels wide at first; the list takes the rest.
namespace layout {
constexpr int kPanelSRWidth = 338;
constexpr int kHandleWidth = 6;

constexpr ControlSpec LabelJINFO{
    "LabelJINFO", {16, 8, 321, 57}, QT_TRANSLATE_NOOP("mpg::ui::JoinPage", "info")};
constexpr const char* kBeforeJoining = QT_TRANSLATE_NOOP(
    "mpg::ui::JoinPage",
    "перед запуском процесса сборки убедитесь,\r\nчто все файлы исправны и являются "
    "кусками\r\nодного фильма.\r\n");
constexpr ControlSpec ImageSUM{
    "ImageSUM",
    {4, 74, 17, 17},
    QT_TRANSLATE_NOOP("mpg::ui::JoinPage", "сгенерить имя выходного файла")};
constexpr ControlSpec EditSUM{"EditSUM", {32, 72, 305, 21}};
constexpr ControlSpec Panel1{"Panel1", {8, 98, 329, 176}};
constexpr ControlSpec CheckMS1{"CheckMS1", {8, 8, 17, 17}};
constexpr ControlSpec LabelMS1{
    "LabelMS1",
    {26, 9, 295, 56},
    QT_TRANSLATE_NOOP(
        "mpg::ui::JoinPage",
        "iso_end_code из файлов выкидываются; файлы слепляются последовательно, включая "
        "system_header каждого файла; в конце файла кладётся один iso_end_code на всех.")};
constexpr ControlSpec Check1PP{
    "Check1PP",
    {8, 70, 313, 17},
    QT_TRANSLATE_NOOP("mpg::ui::JoinPage", "убрать все padding паки, кроме первого.")};
constexpr ControlSpec Check1SH{
    "Check1SH",
    {8, 92, 313, 17},
    QT_TRANSLATE_NOOP("mpg::ui::JoinPage", "оставить только один system header из первого файла.")};
constexpr ControlSpec Label1SH{
    "Label1SH",
    {26, 107, 297, 33},
    QT_TRANSLATE_NOOP("mpg::ui::JoinPage",
                      "если вдруг в середине файлов будут встречаться system headers, то их тоже "
                      "выкидывать.")};
constexpr ControlSpec CheckCont{
    "CheckCont",
    {8, 141, 313, 17},
    QT_TRANSLATE_NOOP("mpg::ui::JoinPage", "непрерывное время (пересчитать SCR/PTS/DTS)")};
constexpr ControlSpec CheckPre{
    "CheckPre",
    {8, 157, 313, 17},
    QT_TRANSLATE_NOOP("mpg::ui::JoinPage", "проверить куски перед сборкой")};
constexpr ControlSpec CheckGlue{
    "CheckGlue",
    {16, 278, 289, 17},
    QT_TRANSLATE_NOOP("mpg::ui::JoinPage", "не надо мудрить, надо просто склеить файлы")};
constexpr ControlSpec BitBtnSUM{
    "BitBtnSUM", {8, 306, 89, 25}, QT_TRANSLATE_NOOP("mpg::ui::JoinPage", "склеить")};
constexpr ControlSpec GaugeZ{"GaugeZ", {226, 300, 33, 33}};
constexpr ControlSpec ImageZ{"ImageZ", {278, 297, 40, 40}};
constexpr const char* ImageZHint = QT_TRANSLATE_NOOP("mpg::ui::JoinPage", "остановить сборку");
constexpr ControlSpec LabelME{
    "LabelME", {6, 337, 323, 17}, QT_TRANSLATE_NOOP("mpg::ui::JoinPage", "mess")};
}  // namespace layout

constexpr const char* kContext = "mpg::ui::JoinPage";

QLabel* wrapped(QLabel* label) {
    label->setWordWrap(true);
    label->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    return label;
}

}  // namespace

JoinPage::JoinPage(RepairSession& session, JobController& jobs, QWidget* parent)
    : QWidget(parent), session_(session), jobs_(jobs), panelSRWidth_(layout::kPanelSRWidth) {
    setObjectName(QStringLiteral("TabSheetAD"));
    Splitter3 = new QSplitter(Qt::Horizontal, this);
    Splitter3->setObjectName(QStringLiteral("Splitter3"));
    Splitter3->setHandleWidth(layout::kHandleWidth);
    Splitter3->setChildrenCollapsible(false);
    auto* list = new TJList(QStringLiteral("JList"));
    JList = list;
    connect(list, &TJList::dragStarted, this, &JoinPage::rememberDragStart);
    connect(list, &TJList::dropped, this, &JoinPage::moveDraggedFile);
    connect(list, &TJList::filesDropped, this, &JoinPage::addFiles);
    JList->setContextMenuPolicy(Qt::CustomContextMenu);
    PopupJO = new QMenu(JList);
    PopupJO->setObjectName(QStringLiteral("PopupJO"));
    const auto item = [this](const char* source, const char* name, void (JoinPage::*click)()) {
        QAction* action = PopupJO->addAction(tr(source), this, click);
        action->setObjectName(QString::fromLatin1(name));
        keepSource(action, source);
    };
    item(QT_TR_NOOP("очистить список"), "N2", &JoinPage::clearList);
    item(QT_TR_NOOP("добавить в список"), "MenuItem1", &JoinPage::addFilesFromDialog);
    item(QT_TR_NOOP("удалить"), "N3", &JoinPage::removeSelectedFiles);
    connect(JList, &QWidget::customContextMenuRequested, this,
            [this](const QPoint& at) { PopupJO->popup(JList->viewport()->mapToGlobal(at)); });
    PanelSR = new QWidget;
    PanelSR->setObjectName(QStringLiteral("PanelSR"));
    PanelSR->setMinimumWidth(layout::kPanelSRWidth);
    Splitter3->addWidget(JList);
    Splitter3->addWidget(PanelSR);
    Splitter3->setStretchFactor(0, 1);
    Splitter3->setStretchFactor(1, 0);
    connect(Splitter3, &QSplitter::splitterMoved, this,
            [this] { panelSRWidth_ = PanelSR->width(); });

    LabelJINFO = makeLabel(PanelSR, layout::LabelJINFO, tr(layout::LabelJINFO.text), true, true);
    LabelJINFO->setAlignment(Qt::AlignHCenter | Qt::AlignTop);
    LabelJINFO->setWordWrap(true);
    ImageSUM = place(new TImage(QStringLiteral("ImageSUM"), QStringLiteral("chevrons"), PanelSR),
                     layout::ImageSUM);
    keepToolTip(ImageSUM, layout::ImageSUM.text, "mpg::ui::JoinPage");
    EditSUM = place(new QLineEdit(PanelSR), layout::EditSUM);
    QFrame* panel1 = makePanel(PanelSR, layout::Panel1.name);
    panel1->setGeometry(layout::Panel1.geometry);
    buildOptions(panel1);
    CheckGlue = makeCheck(PanelSR, layout::CheckGlue, tr(layout::CheckGlue.text), false);
    BitBtnSUM = place(new QPushButton(tr(layout::BitBtnSUM.text), PanelSR), layout::BitBtnSUM);
    GaugeZ = place(new TGauge(QStringLiteral("GaugeZ"), PanelSR), layout::GaugeZ);
    GaugeZ->hide();
    ImageZ = place(new TImage(QStringLiteral("ImageZ"), QStringLiteral("skull-red"), PanelSR),
                   layout::ImageZ);
    keepToolTip(ImageZ, layout::ImageZHint, kContext);
    ImageZ->hide();
    LabelME = makeLabel(PanelSR, layout::LabelME, tr(layout::LabelME.text), true, true);
    LabelME->setAlignment(Qt::AlignCenter);

    connect(CheckMS1, &QCheckBox::clicked, this, &JoinPage::chooseStructuredJoin);
    connect(CheckGlue, &QCheckBox::clicked, this, &JoinPage::chooseGlue);
    connect(ImageSUM, &TImage::clicked, this, &JoinPage::proposeJoinedName);
    connect(BitBtnSUM, &QPushButton::clicked, this, &JoinPage::joinListedFiles);
    connect(ImageZ, &TImage::clicked, this, &JoinPage::askToStopJoin);
    connect(&jobs_, &JobController::joinProgress, this, &JoinPage::showProgress);
    connect(&jobs_, &JobController::messageShown, this, &JoinPage::showMessage);
    connect(&jobs_, &JobController::finished, this, &JoinPage::jobFinished);
}

void JoinPage::buildOptions(QWidget* panel) {
    CheckMS1 = makeCheck(panel, layout::CheckMS1, QString(), true);
    LabelMS1 = wrapped(makeLabel(panel, layout::LabelMS1, tr(layout::LabelMS1.text), false, false));
    Check1PP = makeCheck(panel, layout::Check1PP, tr(layout::Check1PP.text), false);
    Check1SH = makeCheck(panel, layout::Check1SH, tr(layout::Check1SH.text), false);
    Label1SH = wrapped(makeLabel(panel, layout::Label1SH, tr(layout::Label1SH.text), false, false));
    CheckCont = makeCheck(panel, layout::CheckCont, tr(layout::CheckCont.text), false);
    CheckPre = makeCheck(panel, layout::CheckPre, tr(layout::CheckPre.text), true);
    connect(CheckPre, &QCheckBox::clicked, this, [this](bool on) { preChosen_ = on; });
}

QList<TImage*> JoinPage::framedPictures() const {
    return {ImageSUM, ImageZ};
}

QList<QWidget*> JoinPage::mouseAreas() const {
    return {JList->viewport(), PanelSR};
}

void JoinPage::changeEvent(QEvent* event) {
    if (event->type() == QEvent::LanguageChange) retranslateControls(this, "mpg::ui::JoinPage");
    QWidget::changeEvent(event);
}

void JoinPage::resizeEvent(QResizeEvent* event) {
    QWidget::resizeEvent(event);
    // The list takes what the right panel (338 pixels at first, then as the
    // user drags the splitter) leaves.
    Splitter3->setGeometry(rect());
    Splitter3->setSizes(
        {std::max(0, width() - panelSRWidth_ - Splitter3->handleWidth()), panelSRWidth_});
}

void JoinPage::clearJoinMessages() {
    LabelME->clear();
    LabelJINFO->setText(tr(layout::kBeforeJoining));
}

void JoinPage::clearList() {
    JList->clear();
}

void JoinPage::addFilesFromDialog() {
    const QStringList chosen =
        chooseFiles(this, QFileDialog::ExistingFiles, tr("*.* (все файлы) (*)"),
                    near_ ? near_() : QString(), addDialogDir_, addDialogFilter_);
    addFiles(chosen);
}

void JoinPage::addFiles(const QStringList& files) {
    JList->addItems(files);
}

void JoinPage::removeSelectedFiles() {
    for (int i = JList->count() - 1; i >= 0; --i) {
        if (JList->item(i)->isSelected()) delete JList->takeItem(i);
    }
}

void JoinPage::rememberDragStart(int index) {
    dragIndex_ = index;
}

void JoinPage::moveDraggedFile(int target) {
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

void JoinPage::proposeJoinedName() {
    if (JList->count() == 0) {
        LabelME->setText(tr("правая кнопка мыши в левом окне - вызов меню"));
        return;
    }
    // The first piece's name with ".joined" before its extension; a dot in
    // a folder's name does not count. The join writes a plain stream, so a
    // video CD rip's ".dat" becomes ".mpg".
    const QString first = JList->item(0)->text();
    const int slash = static_cast<int>(first.lastIndexOf(QLatin1Char('/')));
    const QString folder = first.left(slash + 1);
    QString name = first.mid(slash + 1);
    const int dot = static_cast<int>(name.lastIndexOf(QLatin1Char('.')));
    QString ext = dot >= 0 ? name.mid(dot) : QString();
    if (name != ext) name.chop(ext.size());
    if (ext.compare(QStringLiteral(".dat"), Qt::CaseInsensitive) == 0) ext = QStringLiteral(".mpg");
    EditSUM->setText(folder + name + QStringLiteral(".joined") + ext);
}

void JoinPage::joinListedFiles() {
    if (jobs_.running()) return;
    if (JList->count() == 0) {
        LabelME->setText(tr("нечего клеить. добавьте файлы в список"));
        return;
    }
    JoinParams params;
    for (int i = 0; i < JList->count(); ++i)
        params.inputs.push_back(JList->item(i)->text().toStdString());
    params.output = EditSUM->text().toStdString();
    params.oneSystemHeader = Check1SH->isChecked();
    params.onePadding = Check1PP->isChecked();
    params.continuous = CheckCont->isChecked();
    params.rules = session_.state().rules.load();
    // Creating the output would empty that input before it is read.
    if (outputIsAnInput(params)) {
        LabelME->setText(QString::fromUtf8(messageText(Message::JoinOutputIsInput)));
        return;
    }
    const bool replaces = replacesAFile(EditSUM->text());
    if (replaces && FormYesNo_ != nullptr &&
        !FormYesNo_->AskYesNo(tr("файл с таким именем уже существует. перезаписать?"), window())) {
        return;
    }
    params.existing = replaces ? Existing::Replace : Existing::Keep;
    window()->setWindowTitle(mainCaption());
    request_ = {std::move(params), CheckGlue->isChecked()};
    // A piece with broken blocks stops the structured join there: the user
    // hears of it before anything is written. The glue copies bytes and
    // minds no structure.
    if (!request_.glue && CheckPre->isChecked()) {
        startCheck();
    } else {
        startJoin();
    }
}

void JoinPage::startJoin() {
    joinMessageShown_ = false;
    GaugeZ->setValue(0);
    GaugeZ->show();
    ImageZ->show();
    LabelME->setText(tr("идёт работа"));
    jobs_.start(Job::Join, [this](JobSink& sink) { return session_.join(request_, sink); });
}

void JoinPage::startCheck() {
    GaugeZ->setValue(0);
    GaugeZ->show();
    ImageZ->show();
    LabelME->setText(tr("идёт работа"));
    jobs_.start(Job::JoinCheck, [this](JobSink& sink) {
        return session_.checkPieces({request_.params.inputs, request_.params.rules}, &sink);
    });
}

bool JoinPage::checkDone(const PieceCheckResult& checked) {
    if (checked.failure) {
        LabelME->setText(QString::fromUtf8(messageText(Message::Stopped)));
        return false;
    }
    if (checked.unsound.empty()) {
        startJoin();
        return true;
    }
    // A piece that cannot be read would fail any join: nothing to choose.
    if (const PieceCheck* unreadable = checked.unreadable()) {
        LabelME->setText(QString::fromStdString(pieceCheckText(*unreadable, currentLanguage())));
        return false;
    }
    switch (askAboutUnsound(checked.unsound)) {
        case Unsound::RepairFirst: {
            const PieceCheck& first = checked.unsound.front();
            LabelME->setText(tr("сборка не начата: кусок %1 открыт для ремонта")
                                 .arg(QString::fromStdString(countText(first.piece + 1))));
            // Once the check's end has been handled everywhere: the window
            // closes the ended job's input then, which must not be this one.
            const QString path = QString::fromStdString(first.path);
            QTimer::singleShot(0, this, [this, path] {
                if (openForRepair_) openForRepair_(path);
            });
            return false;
        }
        case Unsound::JoinAnyway:
            // The structured join would fail at the first broken block; the
            // glue keeps every byte of every piece as it is.
            request_.glue = true;
            startJoin();
            return true;
        case Unsound::Cancel:
            break;
    }
    LabelME->setText(tr("сборка отменена"));
    return false;
}

JoinPage::Unsound JoinPage::askAboutUnsound(const std::vector<PieceCheck>& unsound) {
    const Language language = currentLanguage();
    QStringList lines;
    for (const PieceCheck& piece : unsound)
        lines << QString::fromStdString(pieceCheckText(piece, language));
    QMessageBox box(
        QMessageBox::Warning, mainCaption(),
        tr("в кусках есть блоки с ошибками:\n%1\nчто делать?").arg(lines.join(QLatin1Char('\n'))),
        QMessageBox::NoButton, window());
    box.setObjectName(QStringLiteral("FormPreCheck"));
    const auto button = [&box](const QString& text, const char* name,
                               QMessageBox::ButtonRole role) {
        QPushButton* b = box.addButton(text, role);
        b->setObjectName(QString::fromLatin1(name));
        return b;
    };
    QPushButton* repair = button(tr("сначала исправить"), "BitBtnRepair", QMessageBox::ActionRole);
    QPushButton* glue = button(tr("склеить как есть"), "BitBtnGlue", QMessageBox::AcceptRole);
    QPushButton* cancel = button(tr("отмена"), "BitBtnCancel", QMessageBox::RejectRole);
    box.setDefaultButton(repair);
    box.setEscapeButton(cancel);
    box.exec();
    if (box.clickedButton() == repair) return Unsound::RepairFirst;
    if (box.clickedButton() == glue) return Unsound::JoinAnyway;
    return Unsound::Cancel;
}

void JoinPage::chooseGlue() {
    const QSignalBlocker a(CheckMS1), b(CheckGlue);
    CheckGlue->setChecked(true);
    for (QCheckBox* box : {CheckMS1, Check1PP, Check1SH, CheckCont, CheckPre})
        box->setChecked(false);
    for (QWidget* w : std::initializer_list<QWidget*>{LabelMS1, Check1PP, Check1SH, Label1SH,
                                                      CheckCont, CheckPre})
        w->setEnabled(false);
}

void JoinPage::chooseStructuredJoin() {
    const QSignalBlocker a(CheckMS1), b(CheckGlue);
    CheckMS1->setChecked(true);
    CheckGlue->setChecked(false);
    // The check comes back as the user left it; it is on unless turned off.
    if (!CheckPre->isEnabled()) CheckPre->setChecked(preChosen_);
    for (QWidget* w : std::initializer_list<QWidget*>{LabelMS1, Check1PP, Check1SH, Label1SH,
                                                      CheckCont, CheckPre})
        w->setEnabled(true);
}

void JoinPage::askToStopJoin() {
    askStop(jobs_, FormYesNo_, window());
}

void JoinPage::showMessage(const QString& text) {
    LabelME->setText(text);
    joinMessageShown_ = true;
}

void JoinPage::showProgress(int percent, const QString& text) {
    LabelME->setText(text);
    GaugeZ->setValue(percent);
}

void JoinPage::jobFinished(Job job, const JobResult& result) {
    // A sound check goes on to the join, whose gauge and skull stay.
    if (job == Job::JoinCheck) {
        const auto* checked = std::get_if<PieceCheckResult>(&result);
        if (checked != nullptr && checkDone(*checked)) return;
    }
    // An input refused at the start has shown its own text already.
    const auto* joined = std::get_if<JoinOutcome>(&result);
    const Failure failure = joined != nullptr ? joined->failure : Failure{};
    const bool failed = failure && failure.kind != FailureKind::Stopped;
    if (job == Job::Join && (!failed || !joinMessageShown_)) {
        QString text = withDetail(joinResultText(failure), failure);
        // The end codes the join went on behind, under its outcome.
        for (const InnerEndCode& end :
             joined != nullptr ? joined->innerEnds : std::vector<InnerEndCode>{}) {
            text += QLatin1Char('\n') + QString::fromStdString(innerEndCodeText(
                                            end, request_.params.inputs.at(end.piece)));
        }
        LabelME->setText(text);
    }
    if (const auto* outOfMemory = std::get_if<Failure>(&result)) {
        LabelME->setText(QString::fromStdString(failureText(*outOfMemory)));
    }
    GaugeZ->hide();
    ImageZ->hide();
}

}  // namespace mpg::ui
