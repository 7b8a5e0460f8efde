#include "app/frame_dialog_chooser.h"

#include <QApplication>
#include <QCursor>
#include <QPointer>

#include "app/Plantihoras.h"
#include "app/application.h"
#include "platform/error.h"

namespace tvs {
namespace {

// The run shows the hourglass while it works; the user needs the arrow to
// pick frames, and gets the hourglass back when the dialog is gone.
class ArrowCursor {
 public:
  ArrowCursor() { QApplication::setOverrideCursor(QCursor(Qt::ArrowCursor)); }
  ~ArrowCursor() { QApplication::restoreOverrideCursor(); }
  ArrowCursor(const ArrowCursor&) = delete;
  ArrowCursor& operator=(const ArrowCursor&) = delete;
};

class FrameDialogChooser : public FrameChooser {
 public:
  explicit FrameDialogChooser(QWidget* owner) : owner_(owner) {}

  std::string ChooseFrames(const XmlDocument&, const std::string& xml_path) override {
    // The dialog reads the file by itself. It has no cancel: it comes back,
    // new and empty of selection, until it is closed with a valid choice.
    ArrowCursor arrow;
    for (;;) {
      // Hosted inside a foreign window the owner cannot parent a dialog.
      QPointer<TPlantillas> dialog = new TPlantillas(DialogParentFor(owner_), xml_path);
      dialog->exec();
      if (!dialog)  // destroyed with its owner meanwhile: the run cannot go on
        throw Error("La ventana de selección de marcos horarios se cerró sin elegir ningún marco");
      const bool valid = dialog->SeleccionValida();
      const std::string chosen = dialog->MarcosSeleccionados();
      delete dialog;
      if (valid) return chosen;
    }
  }

 private:
  QPointer<QWidget> owner_;
};

}  // namespace

std::unique_ptr<FrameChooser> MakeFrameDialogChooser(QWidget* owner) {
  return std::make_unique<FrameDialogChooser>(owner);
}

}  // namespace tvs
