#include "app/application.h"

#include <QApplication>
#include <QIcon>
#include <QFont>
#include <QMessageBox>
#include <QPushButton>
#include <QWindow>

namespace tvs {
namespace {

void ShowBox(QWidget* parent, QMessageBox::Icon icon, const QString& text) {
  QMessageBox box(icon, QApplication::applicationDisplayName(), text, QMessageBox::NoButton,
                  DialogParentFor(parent));
  QPushButton* accept = box.addButton(QStringLiteral("Aceptar"), QMessageBox::AcceptRole);
  box.setDefaultButton(accept);
  box.setEscapeButton(accept);
  box.exec();
}

}  // namespace

void SetUpApplication() {
  // Only the name, not setApplicationDisplayName(): on X11 Qt appends a
  // display name to every window title, and the main window's caption must
  // stay as it is. applicationDisplayName() still answers the name.
  QApplication::setApplicationName(QString::fromLatin1(kApplicationTitle));
  // The installed desktop entry and icon (transvelmar.desktop, transvelmar.svg).
  QGuiApplication::setDesktopFileName(QStringLiteral("transvelmar"));
  QApplication::setWindowIcon(QIcon::fromTheme(QStringLiteral("transvelmar")));

  // The windows are laid out for the Windows fonts MS Sans Serif and Arial.
  // Arial resolves to the metric-compatible Liberation Sans through
  // fontconfig; MS Sans Serif would fall to DejaVu Sans, whose wider letters
  // overflow the fixed label bounds (the product line, 220 pixels), so it is
  // sent to Liberation Sans as well.
  QFont::insertSubstitutions(QStringLiteral("MS Sans Serif"),
                             {QStringLiteral("Liberation Sans"), QStringLiteral("DejaVu Sans")});
}

QWidget* DialogParentFor(QWidget* owner) {
  if (!owner) return nullptr;
  const QWindow* window = owner->window()->windowHandle();
  return window && window->parent() ? nullptr : owner;
}

void ShowMessage(QWidget* parent, const QString& text) {
  ShowBox(parent, QMessageBox::NoIcon, text);
}

void ShowErrorMessage(QWidget* parent, const QString& text) {
  ShowBox(parent, QMessageBox::Critical, text);
}

}  // namespace tvs
