#include "ui/page_kit.h"

#include <QAbstractButton>
#include <QAction>
#include <QCheckBox>
#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QFrame>
#include <QLabel>

#include "mpgmend_version.h"
#include "text/messages.h"
#include "ui/form_yes_no.h"
#include "ui/job_controller.h"

namespace mpg::ui {

namespace {

constexpr char kSource[] = "mpgSource";
constexpr char kShown[] = "mpgShown";
constexpr char kTipSource[] = "mpgTipSource";
constexpr char kTipShown[] = "mpgTipShown";
constexpr char kAutoSize[] = "mpgAutoSize";

QString textOf(const QObject* o) {
    if (const auto* b = qobject_cast<const QAbstractButton*>(o)) return b->text();
    if (const auto* l = qobject_cast<const QLabel*>(o)) return l->text();
    if (const auto* a = qobject_cast<const QAction*>(o)) return a->text();
    return QString();
}

void setTextOf(QObject* o, const QString& text) {
    if (auto* b = qobject_cast<QAbstractButton*>(o)) b->setText(text);
    if (auto* a = qobject_cast<QAction*>(o)) a->setText(text);
    if (auto* l = qobject_cast<QLabel*>(o)) {
        l->setText(text);
        if (l->property(kAutoSize).toBool()) l->adjustSize();
    }
}

QString toolTipOf(const QObject* o) {
    if (const auto* w = qobject_cast<const QWidget*>(o)) return w->toolTip();
    if (const auto* a = qobject_cast<const QAction*>(o)) return a->toolTip();
    return QString();
}

void setToolTipOf(QObject* o, const QString& text) {
    if (auto* w = qobject_cast<QWidget*>(o)) w->setToolTip(text);
    if (auto* a = qobject_cast<QAction*>(o)) a->setToolTip(text);
}

}  // namespace

QString mainCaption() {
    return QCoreApplication::translate("mpg::ui::TFormMain",
                                       "ремонт файлов в формате MPEG1   ver. %1")
        .arg(QStringLiteral(MPGMEND_VERSION));
}

QFrame* makePanel(QWidget* parent, const char* name) {
    auto* panel = new QFrame(parent);
    panel->setObjectName(QString::fromLatin1(name));
    panel->setFrameShape(QFrame::StyledPanel);
    panel->setFrameShadow(QFrame::Raised);
    return panel;
}

QLabel* makeLabel(QWidget* parent, const ControlSpec& control, const QString& text, bool grey,
                  bool bold) {
    auto* label = new QLabel(text, parent);
    label->setObjectName(QString::fromLatin1(control.name));
    if (*control.text != 0) keepSource(label, control.text);
    // An empty geometry: the label takes its text's size at its place.
    if (control.geometry.size().isEmpty()) {
        label->move(control.geometry.topLeft());
        label->setProperty(kAutoSize, true);
    } else {
        label->setGeometry(control.geometry);
    }
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

QCheckBox* makeCheck(QWidget* parent, const ControlSpec& control, const QString& text,
                     bool checked) {
    auto* box = place(new QCheckBox(text, parent), control);
    box->setChecked(checked);
    return box;
}

void keepSource(QObject* control, const char* source) {
    control->setProperty(kSource, QByteArray(source));
    control->setProperty(kShown, textOf(control));
}

void keepToolTip(QObject* control, const char* source, const char* context) {
    const QString text = QCoreApplication::translate(context, source);
    setToolTipOf(control, text);
    control->setProperty(kTipSource, QByteArray(source));
    control->setProperty(kTipShown, text);
}

void retranslateControls(QWidget* page, const char* context) {
    for (QObject* o : page->findChildren<QObject*>()) {
        const QByteArray source = o->property(kSource).toByteArray();
        if (!source.isEmpty() && textOf(o) == o->property(kShown).toString()) {
            const QString text = QCoreApplication::translate(context, source.constData());
            setTextOf(o, text);
            o->setProperty(kShown, text);
        }
        const QByteArray tip = o->property(kTipSource).toByteArray();
        if (!tip.isEmpty() && toolTipOf(o) == o->property(kTipShown).toString()) {
            const QString text = QCoreApplication::translate(context, tip.constData());
            setToolTipOf(o, text);
            o->setProperty(kTipShown, text);
        }
    }
}

QString grouped(uint64_t n) {
    return QString::fromStdString(countText(n));
}

QString withDetail(const std::string& text, const Failure& failure) {
    return QString::fromStdString(text + failureDetail(failure));
}

QStringList chooseFiles(QWidget* owner, int mode, const QString& allFiles, const QString& near,
                        QString& folder, int& filter) {
    // Streams from other systems often have upper-case extensions. The
    // third entry adds what discs hold (a DVD's VOBs, a video CD's
    // AVSEQ01.DAT); it comes last, so that a filter index kept from
    // before still names the same entry.
    const QStringList filters = {
        QStringLiteral("*.mpg;*.mpeg (*.mpg *.mpeg *.MPG *.MPEG *.Mpg *.Mpeg)"), allFiles,
        QStringLiteral("*.mpg;*.mpeg;*.vob;*.dat (*.mpg *.mpeg *.vob *.dat *.MPG *.MPEG *.VOB "
                       "*.DAT *.Mpg *.Mpeg *.Vob *.Dat)")};
    QFileDialog dialog(owner);
    dialog.setFileMode(static_cast<QFileDialog::FileMode>(mode));
    dialog.setNameFilters(filters);
    dialog.selectNameFilter(filters.value(filter, filters.first()));
    // Where it was last, else the input's folder, else the home folder:
    // never the program's own.
    QString start = folder;
    if (start.isEmpty()) {
        const QFileInfo input(near);
        start = !near.isEmpty() && input.absoluteDir().exists() ? input.absolutePath()
                                                                : QDir::homePath();
    }
    dialog.setDirectory(start);
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty()) return {};
    // The folder of the first file chosen, and the filter in use, for next time.
    folder = QFileInfo(dialog.selectedFiles().first()).absolutePath();
    filter = std::max<int>(0, static_cast<int>(filters.indexOf(dialog.selectedNameFilter())));
    return dialog.selectedFiles();
}

void askStop(JobController& jobs, TFormYesNo* yesNo, QWidget* owner) {
    const uint64_t job = jobs.generation();
    const QString question =
        QCoreApplication::translate("mpg::ui::TFormMain", "остановить процесс?");
    // The job may have ended while the question was open: the answer then
    // must not reach the next job.
    if (yesNo != nullptr && yesNo->AskYesNo(question, owner)) jobs.stop(job);
}

bool replacesAFile(const QString& path) {
    return QFileInfo(path).isFile();
}

}  // namespace mpg::ui
