// What the window's pages share: their controls described as data (object
// name, place and text), the makers that build a control from such a
// description, the stream file dialog and the stop question.
#pragma once

#include <QCoreApplication>
#include <QRect>
#include <QString>
#include <QStringList>

#include "stream/failure.h"

class QCheckBox;
class QFrame;
class QLabel;
class QWidget;

namespace mpg::ui {

class JobController;
class TFormYesNo;

// One control as the design places it. The text is the untranslated source,
// marked for the translation tools where it is written and shown through
// tr() of the page that owns it.
struct ControlSpec {
    const char* name;
    QRect geometry;
    const char* text = "";
};

// The window's caption, and the caption put back over a message shown there.
QString mainCaption();

void keepSource(QObject* control, const char* source);

// A control at its place, its text's source kept for a change of language.
template <class W>
W* place(W* widget, const ControlSpec& control) {
    widget->setObjectName(QString::fromLatin1(control.name));
    widget->setGeometry(control.geometry);
    if (*control.text != 0) keepSource(widget, control.text);
    return widget;
}

QFrame* makePanel(QWidget* parent, const char* name);
// Grey status texts ("status", "mess", "info") are bold; plain grey labels are not.
QLabel* makeLabel(QWidget* parent, const ControlSpec& control, const QString& text, bool grey,
                  bool bold);
QCheckBox* makeCheck(QWidget* parent, const ControlSpec& control, const QString& text,
                     bool checked);

// The texts of a page's controls shown anew when the language changes. A
// control keeps the source of its text (and of its tooltip) and the text it
// was last given from it; a change of language shows the source in the new
// language wherever the control still shows that text. A text the page has
// put there since (a status, "стоп" on a running job's button) stays until
// the page sets it again.
void keepSource(QObject* control, const char* source);
void keepToolTip(QObject* control, const char* source, const char* context);
void retranslateControls(QWidget* page, const char* context);

// A number with its digits grouped, as every count and position shows.
QString grouped(uint64_t n);

// A status text with the failure's file and reason behind it.
QString withDetail(const std::string& text, const Failure& failure);

// An open-file dialog (a QFileDialog::FileMode) with the stream filter and
// `allFiles`, starting in `folder` (else `near`'s folder, else the home
// folder); remembers the folder and filter chosen.
QStringList chooseFiles(QWidget* owner, int mode, const QString& allFiles, const QString& near,
                        QString& folder, int& filter);

// "остановить процесс?"; a yes stops the job that was running when asked.
void askStop(JobController& jobs, TFormYesNo* yesNo, QWidget* owner);

// Whether writing to `path` replaces a file, so that the user is asked
// first: only a regular file has contents to lose. A device (/dev/null), a
// FIFO or a terminal takes the stream as it comes.
bool replacesAFile(const QString& path);

}  // namespace mpg::ui
