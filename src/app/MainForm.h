// TMForm, the main window MForm: the export run and the import run side by
// side, each on a gradient panel with its caption and its button, and a strip
// along the bottom with the product line, "&Salir" and "F1 Ayuda".
//
// Run by hand the window is a fixed-size framed window centred on the screen,
// and the user starts a run with a button. Started by Tavoleno with the two
// parameters "exportar"/"importar" and the hexadecimal id of one of its
// windows (hosted mode), it sits borderless inside that window, runs the named
// direction as it is first shown, closes itself when the run completed or
// found no file, and leaves the run result in Tavoleno.ini as it closes.
//
// A process completes at most one run: a completed run disables both run
// buttons. Runs are synchronous on the user-interface thread; the only windows
// that take input meanwhile are the file dialog, the message boxes and the
// time-frame dialog. The window starts the engine's runs and shows their
// outcome; it never builds a table row itself.
#pragma once

#include <QString>
#include <QStringList>
#include <QWidget>
#include <functional>
#include <memory>
#include <string>

#include "app/hosting.h"

QT_BEGIN_NAMESPACE
class QCloseEvent;
class QFileDialog;
class QLabel;
class QPushButton;
class QWindow;
QT_END_NAMESPACE

namespace tvs {

class CodeList;
class TDraw3D;
class TMForm;
class XmlDocument;

// Process-wide state, kept with the main window.
extern TMForm* MForm;     // the main window, while it exists
extern int NumParametros;  // 2 in hosted mode; 0 otherwise (also after a bad window id)
extern int Transformado;   // the run result: 0 no run completed, 1 completed, -1 no file (hosted)
// Created empty with the main window. Each export run keeps its own code lists
// (the engine's export context), so these two only stand for the program's
// state; nothing fills them.
extern std::unique_ptr<CodeList> CodigosCortos;
extern std::unique_ptr<CodeList> CodigosLargos;
// The run's XML document. Each engine run (ExportRun, ImportRun) loads and
// owns its document for the length of the run, so the window never holds one
// and this stays null; it stands for the program's state like the code lists.
extern std::unique_ptr<XmlDocument> XMLDoc;

class TMForm : public QWidget {
  Q_OBJECT

 public:
  // The help the window opens. Defaults to the program's help viewer; tests
  // put recorders in its place.
  struct HelpActions {
    std::function<void(QWidget* parent, const QString& chm_path)> contents;
    std::function<void(QWidget* parent, const QString& chm_path, int context)> context;
  };
  // The help context of the window, its panels and its buttons.
  static constexpr int kHelpContext = 3;

  // `parameters`: the command line after the program's name, with Qt's own
  // options (-platform ...) already taken out by QApplication. Creating the
  // window runs FormCreate, which may show an error box for a bad window id.
  explicit TMForm(const QStringList& parameters, QWidget* parent = nullptr);
  ~TMForm() override;
  TMForm(const TMForm&) = delete;
  TMForm& operator=(const TMForm&) = delete;

  // The full path of the XML file of the last run that chose one; "" at start.
  const QString& ArchivoXML() const { return archivo_xml_; }
  // The time frames chosen by the last completed export run.
  const std::string& MarcosElegidos() const { return marcos_elegidos_; }
  // True when the window sits inside a foreign (host) window.
  bool IsEmbedded() const { return host_window_ != nullptr; }

  void SetHelpActions(HelpActions actions);

  // The first showing runs FormShow before the window comes up: in hosted
  // mode the run's dialogs appear on their own, and a run that closes the
  // window leaves it unshown.
  void setVisible(bool visible) override;

 signals:
  // Emitted each time the window has closed, after FormClose. The program
  // ends on it.
  void windowClosed();

 protected:
  void closeEvent(QCloseEvent* event) override;

 private slots:
  void BExportarClick();
  void BImportarClick();
  void Button1Click();
  void HelpKeyPressed();
  void HostWindowDestroyed();

 private:
  class RunScope;

  void CreateWindowFrame();
  void CreatePanels();
  void CreateControls();
  void CreateOpenDialog();
  void CreateHelp();

  void FormCreate();
  void FormShow();
  void FormClose();

  void AttachToHost(HostHandle handle);
  void PlaceOnFirstShow();
  // Steps 1 and 2 of both runs: the file dialog and the test that the file
  // exists. False when the run ends there.
  bool ChooseExistingXmlFile();
  // The common end of both runs after their work has succeeded.
  void FinishCompletedRun();
  void ShowRunFailure(const char* what);
  // Closes the window, running FormClose, also when it sits in a foreign
  // window (where QWidget::close() does nothing).
  void CloseWindow();

  const QStringList parameters_;

  TDraw3D* PanelExportar = nullptr;
  TDraw3D* PanelImportar = nullptr;
  TDraw3D* PanelInferior = nullptr;
  QLabel* LabelExportar = nullptr;
  QLabel* LabelImportar = nullptr;
  QLabel* LabelVersion = nullptr;
  QPushButton* BExportar = nullptr;
  QPushButton* BImportar = nullptr;
  QPushButton* BClose = nullptr;
  QPushButton* Button1 = nullptr;
  std::unique_ptr<QFileDialog> OpenDialogXML;

  QString archivo_xml_;
  std::string marcos_elegidos_;
  HelpActions help_;

  QWindow* host_window_ = nullptr;  // the foreign parent, when embedded
  bool shown_once_ = false;
  bool closed_ = false;
  int runs_in_progress_ = 0;
  bool host_gone_ = false;  // the host window was destroyed
};

}  // namespace tvs
