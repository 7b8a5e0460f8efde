// What the window program sets up once for the whole application, and the two
// message boxes every window of it uses.
#pragma once

#include <QString>

class QWidget;

namespace tvs {

// The application's title: the caption of its message boxes and its name
// towards the desktop.
inline constexpr char kApplicationTitle[] = "TransVelmarSauce";

// Call once, right after the QApplication is constructed: sets the title and
// the substitutes of the Windows fonts the windows ask for. (The help file,
// SAUCE.chm, is found by HelpFilePath() of help_viewer.h.)
void SetUpApplication();

// The parent to give a dialog or message box of `owner`: `owner` itself, or
// none when owner's window sits inside another program's window (hosted
// mode). Qt refuses such a window as a dialog's transient parent ("must be a
// top level window"), so those dialogs are top-level windows of their own.
QWidget* DialogParentFor(QWidget* owner);

// The plain message box: caption the application title, no icon, one button
// "Aceptar" (also taken by Enter and Escape). Returns when it is dismissed.
// `parent` goes through DialogParentFor().
void ShowMessage(QWidget* parent, const QString& text);

// The error box shown when a run ends by a failure: as ShowMessage, with the
// error icon.
void ShowErrorMessage(QWidget* parent, const QString& text);

}  // namespace tvs
