// The program's help: the compiled help file SAUCE.chm, read with chmlib and
// shown in a window of our own.
#pragma once

#include <QString>

class QWidget;

namespace tvs {

// Where SAUCE.chm is looked for: beside the executable, then in the installed
// data folder. Returns the first that exists, or the path beside the
// executable when none does (so a message can name it).
QString HelpFilePath();
// The same search from `executable_folder` instead of the running program's.
QString HelpFilePathIn(const QString& executable_folder);

// Opens the help window on the table of contents of `chm_path`. A missing or
// unreadable file gives a clear message box over `parent`; nothing else.
void ShowHelpContents(QWidget* parent, const QString& chm_path);

// Opens the topic with context number `context`. A missing file, or a context
// the file does not map, gives a clear message box; nothing else.
void ShowHelpContext(QWidget* parent, const QString& chm_path, int context);

}  // namespace tvs
