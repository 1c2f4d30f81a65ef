#include "ui/page_kit.h"

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
    // An empty geometry: the label takes its text's size at its place.
    if (control.geometry.size().isEmpty()) {
        label->move(control.geometry.topLeft());
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

QString withDetail(const char* text, const Failure& failure) {
    return QString::fromStdString(text + failureDetail(failure));
}

QStringList chooseFiles(QWidget* owner, int mode, const QString& allFiles, const QString& near,
                        QString& folder, int& filter) {
    // Streams from other systems often have upper-case extensions.
    const QStringList filters = {
        QStringLiteral("*.mpg;*.mpeg (*.mpg *.mpeg *.MPG *.MPEG *.Mpg *.Mpeg)"), allFiles};
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
