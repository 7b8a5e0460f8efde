// The window program. Run by hand it shows the main window; started by
// Tavoleno as
//
//   TransVelmarSauce exportar|importar HOST_WINDOW_ID_IN_HEX
//
// it runs that direction inside Tavoleno's window and leaves the run result in
// Tavoleno.ini (see MainForm.h). Hosted mode needs X11: under a Wayland
// session it runs through XWayland (QT_QPA_PLATFORM=xcb, which is what a
// program under Wine sees as well).
#include <QApplication>

#include "app/MainForm.h"
#include "app/application.h"

int main(int argc, char** argv) {
  QApplication app(argc, argv);
  tvs::SetUpApplication();

  // QApplication has taken its own options (-platform ...) out of the list.
  tvs::TMForm form(QCoreApplication::arguments().mid(1));
  // Closing the main window ends the program. exit() rather than quit():
  // once the window has been given a foreign parent, quit() does not end the
  // event loop. Queued, because a hosted run can close the window while it is
  // first shown, before exec() has begun.
  QObject::connect(
      &form, &tvs::TMForm::windowClosed, &app, [] { QCoreApplication::exit(0); },
      Qt::QueuedConnection);
  form.show();
  return app.exec();
}
