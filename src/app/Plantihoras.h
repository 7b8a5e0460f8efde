// TPlantillas: the time-frame selection dialog ("Planillas, Marcos o Jornadas
// Horarias"). Shown by the export run when the document holds two or more
// time frames, so that the user picks the one or two the timetable will use.
//
// The dialog reads the document by itself: when it is first shown it loads
// the file it was given into a document of its own and lists the frame codes
// of JORNADAS in ListBox2. The frame clicked last (the focused item, whether
// the click selected it or took it out of the selection) is shown with its
// name, a further text and its intervals from INTERVALOS. Texts are shown as
// the document gives them (not trimmed), through the Windows-1252 code page.
//
// There is no cancel. Every way of closing (the button, Enter, the close box)
// runs the closing test: fewer than one or more than two selected frames give
// a message and SeleccionValida() false; the dialog closes all the same, and
// the caller shows a new one. Escape does nothing.
//
// Elements with fewer `salida` children than the dialog reads (a frame without
// a code, a frame without name and further text, an interval with fewer than
// six items) are passed over; Sauce always writes them complete.
#pragma once

#include <QDialog>
#include <memory>
#include <string>

#include "platform/xml_document.h"

QT_BEGIN_NAMESPACE
class QComboBox;
class QLabel;
class QListWidget;
class QPushButton;
QT_END_NAMESPACE

namespace tvs {

class TDraw3D;

class TPlantillas : public QDialog {
  Q_OBJECT

 public:
  // `owner` is the main window; `archivo_xml` the file the export run loaded.
  TPlantillas(QWidget* owner, std::string archivo_xml);
  ~TPlantillas() override;

  // Set when the dialog closes: true with one or two frames selected.
  bool SeleccionValida() const { return seleccion_valida_; }
  // Set when the dialog closes: the code of each selected frame as exactly 10
  // Windows-1252 characters (blank-filled, or cut), upper item first. Filled
  // even when the selection is not valid.
  const std::string& MarcosSeleccionados() const { return marcos_seleccionados_; }

  // Message texts of the closing test.
  static const QString kTooManyFrames;
  static const QString kNoFrame;

 protected:
  void showEvent(QShowEvent* event) override;
  void keyPressEvent(QKeyEvent* event) override;

 public slots:
  // Every way of closing ends here (close(), the close box, accept()).
  void done(int result) override;

 private slots:
  void FormActivate();
  void ListBox2Click();
  void ComboBoxPlantillaChange();
  void BitBtnContinuarClick();

 private:
  void CreateComponents();
  void FormClose();

  // Components, in the order of the form (each also carries its name as its
  // object name, for the tests).
  TDraw3D* Draw3D4 = nullptr;
  QLabel* LabelPlantillas = nullptr;
  QLabel* LabelPlanFec1 = nullptr;
  QLabel* LabelPlanFec2 = nullptr;
  QPushButton* BitBtnContinuar = nullptr;
  QComboBox* ComboBoxPlantilla = nullptr;
  QLabel* LabelNombre = nullptr;
  QListWidget* ListBox1 = nullptr;
  QLabel* Label1 = nullptr;
  QListWidget* ListBox2 = nullptr;
  QLabel* LabelSelec = nullptr;
  QLabel* LabelMarcos = nullptr;

  std::string marcos_seleccionados_;
  bool seleccion_valida_ = false;

  std::string archivo_xml_;
  std::unique_ptr<XmlDocument> XMLDocPlantillas;
  bool activated_ = false;
  bool closing_ = false;
};

}  // namespace tvs
