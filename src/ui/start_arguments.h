// The window program's command line: `mpgmend [FILE]`. A desktop's file
// manager starts it with the stream a user opened (Exec=mpgmend %f), and the
// window opens that stream as if its name had been typed into the input
// field and the open button pressed.
#pragma once

#include <QString>
#include <QStringList>

namespace mpg::ui {

class TFormMain;

// The file named in the arguments (the program's name first), empty when
// none is. --help and --version print their text to standard output and end
// the program with status 0; an unknown option or a second file prints why
// to standard error and ends it with status 2, the command line's usage
// error. Called before any window exists, so that these leave none behind.
QString startFile(const QStringList& arguments);

// Puts `file` into the repair page's input field and opens it, as the open
// button does: the status line tells whether it opened and what stream it
// holds. Nothing happens for an empty name.
void openFromArguments(TFormMain& window, const QString& file);

}  // namespace mpg::ui
