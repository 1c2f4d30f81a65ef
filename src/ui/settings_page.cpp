#include "ui/settings_page.h"

#include <QCheckBox>
#include <QComboBox>
#include <QEvent>
#include <QLabel>

#include "i18n/qt_translations.h"
#include "ui/language.h"
#include "ui/page_kit.h"
#include "ui/widgets.h"

namespace mpg::ui {

namespace {

namespace layout {
constexpr ControlSpec CheckHP{
    "CheckHP",
    {24, 31, 161, 17},
    QT_TRANSLATE_NOOP("mpg::ui::SettingsPage", "высокий приоритет задачи")};
constexpr ControlSpec CheckST{
    "CheckST",
    {24, 55, 465, 17},
    QT_TRANSLATE_NOOP("mpg::ui::SettingsPage",
                      "строго по схеме MPEG-1 (заполнение секторов — ошибка)")};
constexpr ControlSpec Label1{
    "Label1",
    {24, 88, 0, 0},
    QT_TRANSLATE_NOOP("mpg::ui::SettingsPage", "как сохранять битые паки")};
constexpr ControlSpec Bevel4{"Bevel4", {24, 104, 457, 3}};
constexpr ControlSpec CheckFA{
    "CheckFA",
    {24, 112, 361, 17},
    QT_TRANSLATE_NOOP("mpg::ui::SettingsPage",
                      "выставить размер в заголовке по фактическому размеру блока")};
constexpr ControlSpec CheckPR{
    "CheckPR",
    {24, 128, 465, 17},
    QT_TRANSLATE_NOOP(
        "mpg::ui::SettingsPage",
        "если блок длиннее, чем указано в заголовке - обрезать, если короче - добить нулями")};
constexpr ControlSpec LabelLang{
    "LabelLang", {24, 160, 0, 0}, QT_TRANSLATE_NOOP("mpg::ui::SettingsPage", "язык окон")};
constexpr ControlSpec Bevel5{"Bevel5", {24, 176, 457, 3}};
constexpr ControlSpec ComboLang{"ComboLang", {24, 186, 200, 22}};
constexpr ControlSpec ImageVLG{"ImageVLG", {392, 12, 100, 10}};
constexpr ControlSpec ImageVLB{"ImageVLB", {392, 28, 100, 10}};
}  // namespace layout

}  // namespace

SettingsPage::SettingsPage(AppState& state, QWidget* parent) : QWidget(parent), state_(state) {
    setObjectName(QStringLiteral("TabSheetCFG"));
    CheckHP = makeCheck(this, layout::CheckHP, tr(layout::CheckHP.text), true);
    connect(CheckHP, &QCheckBox::toggled, this, [this](bool on) { state_.highPriority = on; });
    state_.highPriority = true;
    CheckST = makeCheck(this, layout::CheckST, tr(layout::CheckST.text), false);
    connect(CheckST, &QCheckBox::toggled, this,
            [this](bool on) { state_.rules = on ? StreamRules::Literal : StreamRules::Sound; });
    state_.rules = StreamRules::Sound;
    makeLabel(this, layout::Label1, tr(layout::Label1.text), true, false)->adjustSize();
    makeBevel(QString::fromLatin1(layout::Bevel4.name), this, layout::Bevel4.geometry);
    CheckFA = makeCheck(this, layout::CheckFA, tr(layout::CheckFA.text), true);
    CheckPR = makeCheck(this, layout::CheckPR, tr(layout::CheckPR.text), false);
    for (QCheckBox* box : {CheckFA, CheckPR}) {
        connect(box, &QCheckBox::clicked, this, [this, box] { chooseBrokenBlockWrite(box); });
    }
    makeLabel(this, layout::LabelLang, tr(layout::LabelLang.text), true, false)->adjustSize();
    makeBevel(QString::fromLatin1(layout::Bevel5.name), this, layout::Bevel5.geometry);
    ComboLang = place(new QComboBox(this), layout::ComboLang);
    fillLanguages();
    connect(ComboLang, &QComboBox::activated, this, [this](int item) {
        chooseLanguage(languageNamed(ComboLang->itemData(item).toString().toStdString()));
    });
    ImageVLG = place(new TImage(QStringLiteral("ImageVLG"), QStringLiteral("logo"), this),
                     layout::ImageVLG);
    ImageVLB = place(new TImage(QStringLiteral("ImageVLB"), QStringLiteral("logo-hover"), this),
                     layout::ImageVLB);
    ImageVLG->hide();
    ImageVLB->hide();
}

void SettingsPage::fillLanguages() {
    const QSignalBlocker block(ComboLang);
    ComboLang->clear();
    ComboLang->addItem(tr("как в системе"), QString());
    // Each language by its own name, so that a user finds theirs whatever
    // the window speaks.
    ComboLang->addItem(QStringLiteral("русский"), QStringLiteral("ru"));
    ComboLang->addItem(QStringLiteral("English"), QStringLiteral("en"));
    const std::optional<Language> chosen = chosenLanguage();
    ComboLang->setCurrentIndex(
        chosen ? ComboLang->findData(QString::fromLatin1(languageCode(*chosen))) : 0);
}

void SettingsPage::changeEvent(QEvent* event) {
    if (event->type() == QEvent::LanguageChange) {
        retranslateControls(this, "mpg::ui::SettingsPage");
        fillLanguages();
    }
    QWidget::changeEvent(event);
}

void SettingsPage::chooseBrokenBlockWrite(QCheckBox* sender) {
    // Exactly one of the two is checked; clicking the checked one keeps it.
    const QSignalBlocker blockFA(CheckFA), blockPR(CheckPR);
    CheckFA->setChecked(false);
    CheckPR->setChecked(false);
    sender->setChecked(true);
    state_.headerFromRealSize = CheckFA->isChecked();
}

QString SettingsPage::logoPicture(bool hovered) const {
    return (hovered ? ImageVLB : ImageVLG)->picture();
}

}  // namespace mpg::ui
