#include "app/MainForm.h"

#include <QApplication>
#include <QCloseEvent>
#include <QFile>
#include <QFileDialog>
#include <QFileInfo>
#include <QLabel>
#include <QPushButton>
#include <QScreen>
#include <QShortcut>
#include <QStyle>
#include <QWindow>
#include <exception>

#include "app/application.h"
#include "app/frame_dialog_chooser.h"
#include "app/gradient_panel.h"
#include "app/help_viewer.h"
#include "export/export_run.h"
#include "export/short_codes.h"
#include "import/import_run.h"
#include "platform/error.h"
#include "platform/files.h"
#include "platform/ini_file.h"
#include "platform/working_folder.h"
#include "platform/xml_document.h"

namespace tvs {

TMForm* MForm = nullptr;
int NumParametros = 0;
int Transformado = 0;
std::unique_ptr<CodeList> CodigosCortos;
std::unique_ptr<CodeList> CodigosLargos;
std::unique_ptr<XmlDocument> XMLDoc;

namespace {

constexpr char kHelpContextProperty[] = "helpContext";
constexpr char kIniFileName[] = "Tavoleno.ini";
constexpr char kIniSection[] = "Transformadores";
constexpr char kIniKey[] = "Transformado";

// A path as the engine takes it: the file system's bytes.
std::string LocalPath(const QString& path) { return QFile::encodeName(path).toStdString(); }

// Lower-cases the letters A to Z only, as the direction is compared.
QString LowerAsciiLetters(QString text) {
  for (QChar& c : text) {
    if (c >= QLatin1Char('A') && c <= QLatin1Char('Z')) c = QChar(c.unicode() - 'A' + 'a');
  }
  return text;
}

// Tavoleno.ini beside the executable, or in TRANSVELMAR_INI_DIR when that is
// set (an installed program's folder is not writable). An existing file whose
// name differs in letter case is the one Tavoleno reads under Wine, so it is
// the one written.
std::string RunResultPath() {
  const QString override_dir = qEnvironmentVariable("TRANSVELMAR_INI_DIR");
  const std::string folder =
      LocalPath(override_dir.isEmpty() ? QCoreApplication::applicationDirPath() : override_dir);
  const std::string existing = FindIgnoringCase(folder, kIniFileName);
  return existing.empty() ? JoinPath(folder, kIniFileName) : existing;
}

// The hourglass for the whole application while a run works, taken away
// however the run ends.
class WaitCursor {
 public:
  WaitCursor() { QApplication::setOverrideCursor(Qt::WaitCursor); }
  ~WaitCursor() { QApplication::restoreOverrideCursor(); }
  WaitCursor(const WaitCursor&) = delete;
  WaitCursor& operator=(const WaitCursor&) = delete;
};

QPushButton* MakeButton(QWidget* panel, const char* name, const QRect& bounds, const QIcon& icon,
                        const QString& text) {
  auto* button = new QPushButton(icon, text, panel);
  button->setObjectName(QString::fromLatin1(name));
  button->setGeometry(bounds);
  button->setAutoDefault(false);
  return button;
}

QLabel* MakeLabel(QWidget* panel, const char* name, const QRect& bounds, const QString& text,
                  const QFont& font) {
  auto* label = new QLabel(text, panel);
  label->setObjectName(QString::fromLatin1(name));
  label->setGeometry(bounds);
  label->setFont(font);
  label->setAlignment(Qt::AlignLeft | Qt::AlignTop);
  label->setAutoFillBackground(false);  // the panel's gradient shows through
  return label;
}

}  // namespace

// Marks a run in progress. When the host window went away during the run,
// the window closes once the run is over.
class TMForm::RunScope {
 public:
  explicit RunScope(TMForm* form) : form_(form) { ++form_->runs_in_progress_; }
  ~RunScope() {
    if (--form_->runs_in_progress_ == 0 && form_->host_gone_ && !form_->closed_) {
      form_->CloseWindow();
    }
  }
  RunScope(const RunScope&) = delete;
  RunScope& operator=(const RunScope&) = delete;

 private:
  TMForm* form_;
};

TMForm::TMForm(const QStringList& parameters, QWidget* parent)
    : QWidget(parent),
      parameters_(parameters),
      help_{&ShowHelpContents, &ShowHelpContext} {
  MForm = this;
  CreateWindowFrame();
  CreatePanels();
  CreateControls();
  CreateOpenDialog();
  CreateHelp();
  FormCreate();
}

TMForm::~TMForm() {
  if (host_window_) {
    // Our native window is a child of the foreign window object, which would
    // delete it behind QWidget's back: ours goes first. Deleting the foreign
    // object leaves the other program's window alone.
    destroy();
    delete host_window_;
  }
  if (MForm == this) MForm = nullptr;
}

void TMForm::SetHelpActions(HelpActions actions) { help_ = std::move(actions); }

void TMForm::CreateWindowFrame() {
  setObjectName(QStringLiteral("MForm"));
  setWindowTitle(QStringLiteral("Exportar e importar datos entre Tavoleno y Sauce "));
  // A fixed dialog border: a title and a close box, no minimise or maximise
  // box, no resizing.
  setWindowFlags(Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                 Qt::WindowCloseButtonHint | Qt::MSWindowsFixedSizeDialogHint);
  setFixedSize(632, 266);
  setFont(QFont(QStringLiteral("MS Sans Serif"), 8));
}

void TMForm::CreatePanels() {
  const QColor sand(249, 211, 125);
  const QColor cream(255, 238, 221);
  PanelExportar = new TDraw3D(this);
  PanelExportar->setObjectName(QStringLiteral("PanelExportar"));
  PanelExportar->setGeometry(1, 0, 315, 169);
  PanelExportar->SetColors(sand, Qt::white, cream);

  PanelImportar = new TDraw3D(this);
  PanelImportar->setObjectName(QStringLiteral("PanelImportar"));
  PanelImportar->setGeometry(316, 0, 317, 169);
  PanelImportar->SetColors(sand, Qt::white, cream);

  PanelInferior = new TDraw3D(this);
  PanelInferior->setObjectName(QStringLiteral("PanelInferior"));
  PanelInferior->setGeometry(0, 168, 633, 97);
  PanelInferior->SetColors(QColor(194, 205, 254), QColor(207, 242, 254), QColor(204, 216, 230));
}

void TMForm::CreateControls() {
  // Created in tab order (the bottom strip first), which also makes it the
  // focus chain; setTabOrder below states it outright.
  const QIcon ok_icon = style()->standardIcon(QStyle::SP_DialogOkButton);
  const QIcon close_icon = style()->standardIcon(QStyle::SP_DialogCloseButton);

  BClose = MakeButton(PanelInferior, "BClose", QRect(256, 32, 89, 25), close_icon,
                      QStringLiteral("&Salir"));
  Button1 = MakeButton(PanelInferior, "Button1", QRect(512, 56, 75, 25), QIcon(),
                       QStringLiteral("F1 Ayuda"));
  BExportar = MakeButton(PanelExportar, "BExportar", QRect(96, 120, 89, 25), ok_icon,
                         QStringLiteral("Aceptar"));
  BImportar = MakeButton(PanelImportar, "BImportar", QRect(96, 120, 89, 25), ok_icon,
                         QStringLiteral("Aceptar"));
  setTabOrder(BClose, Button1);
  setTabOrder(Button1, BExportar);
  setTabOrder(BExportar, BImportar);

  QFont caption_font(QStringLiteral("Arial"), 12);
  caption_font.setBold(true);
  LabelExportar = MakeLabel(PanelExportar, "LabelExportar", QRect(24, 24, 265, 57),
                            QStringLiteral("Transformar datos desde Sauce hacia Tavoleno "),
                            caption_font);
  LabelExportar->setWordWrap(true);
  LabelImportar = MakeLabel(PanelImportar, "LabelImportar", QRect(8, 24, 305, 57),
                            QStringLiteral("Transformar datos desde Tavoleno hacia Sauce"),
                            caption_font);
  LabelImportar->setWordWrap(true);

  QFont version_font(QStringLiteral("MS Sans Serif"), 8);
  version_font.setBold(true);
  LabelVersion = MakeLabel(PanelInferior, "LabelVersion", QRect(8, 72, 220, 13),
                           QStringLiteral("TransTavolenoSauce para VR16 V-1.0"), version_font);
  QPalette red_text = LabelVersion->palette();
  red_text.setColor(QPalette::WindowText, Qt::red);
  LabelVersion->setPalette(red_text);

  connect(BExportar, &QPushButton::clicked, this, &TMForm::BExportarClick);
  connect(BImportar, &QPushButton::clicked, this, &TMForm::BImportarClick);
  connect(BClose, &QPushButton::clicked, this, &TMForm::CloseWindow);
  connect(Button1, &QPushButton::clicked, this, &TMForm::Button1Click);
}

void TMForm::CreateOpenDialog() {
  OpenDialogXML = std::make_unique<QFileDialog>(this, QStringLiteral("Archivo XML"));
  OpenDialogXML->setObjectName(QStringLiteral("OpenDialogXML"));
  // Qt's own dialog, the same on every desktop (and one tests can drive).
  OpenDialogXML->setOption(QFileDialog::DontUseNativeDialog);
  OpenDialogXML->setAcceptMode(QFileDialog::AcceptOpen);
  // Any name is accepted, also one of a file that does not exist: the run
  // itself reports it ("No existe archivo").
  OpenDialogXML->setFileMode(QFileDialog::AnyFile);
  OpenDialogXML->setNameFilter(QStringLiteral("*.xml"));
  OpenDialogXML->setDefaultSuffix(QStringLiteral("xml"));
  OpenDialogXML->setLabelText(QFileDialog::LookIn, QStringLiteral("Buscar en:"));
  OpenDialogXML->setLabelText(QFileDialog::FileName, QStringLiteral("Nombre:"));
  OpenDialogXML->setLabelText(QFileDialog::FileType, QStringLiteral("Tipo:"));
  OpenDialogXML->setLabelText(QFileDialog::Accept, QStringLiteral("&Abrir"));
  OpenDialogXML->setLabelText(QFileDialog::Reject, QStringLiteral("Cancelar"));

  // The folder "sauce" of the working folder, however its name is written on
  // disk; the working folder itself when it has none.
  const std::string working_folder = DefaultWorkingFolder();
  const std::string sauce = FindIgnoringCase(working_folder, "sauce");
  if (!sauce.empty() && FolderExists(sauce)) {
    OpenDialogXML->setDirectory(QFile::decodeName(QByteArray::fromStdString(sauce)));
  } else if (FolderExists(working_folder)) {
    OpenDialogXML->setDirectory(QFile::decodeName(QByteArray::fromStdString(working_folder)));
  }
}

void TMForm::CreateHelp() {
  for (QWidget* w : std::initializer_list<QWidget*>{this, PanelExportar, PanelImportar,
                                                    PanelInferior, BExportar, BImportar, BClose,
                                                    Button1}) {
    w->setProperty(kHelpContextProperty, kHelpContext);
  }
  auto* f1 = new QShortcut(QKeySequence(Qt::Key_F1), this);
  f1->setContext(Qt::WindowShortcut);
  connect(f1, &QShortcut::activated, this, &TMForm::HelpKeyPressed);
}

void TMForm::FormCreate() {
  CodigosCortos = std::make_unique<CodeList>();
  CodigosLargos = std::make_unique<CodeList>();
  Transformado = 0;
  if (parameters_.size() != 2) return;

  HostHandle handle = 0;
  try {
    handle = ParseHostHandle(parameters_[1]);
  } catch (const Error& e) {
    // The window stays framed and top-level, and NumParametros 0.
    ShowErrorMessage(this, QString::fromUtf8(e.what()));
    return;
  }
  // The border goes first: changing the window flags recreates the native
  // window, which would lose a foreign parent given before.
  setWindowFlags(Qt::Window | Qt::FramelessWindowHint);
  AttachToHost(handle);
  NumParametros = static_cast<int>(parameters_.size());
}

void TMForm::AttachToHost(HostHandle handle) {
  // Handle 0, an id that names no window, or a platform other than X11: the
  // window stays top-level (borderless, in hosted mode all the same).
  if (!ForeignWindowExists(handle)) return;
  host_window_ = QWindow::fromWinId(handle);
  winId();  // the native window, so that it can be given its parent
  windowHandle()->setParent(host_window_);
  // The file dialog becomes a top-level window of its own (see
  // DialogParentFor); message boxes do the same by themselves.
  OpenDialogXML->setParent(nullptr, OpenDialogXML->windowFlags());

  // Tavoleno closing its window ends the program, as closing ours does.
  auto* watcher = new ForeignWindowWatcher(handle, this);
  connect(watcher, &ForeignWindowWatcher::foreignWindowDestroyed, this,
          &TMForm::HostWindowDestroyed);
}

void TMForm::setVisible(bool visible) {
  if (visible && !shown_once_) {
    shown_once_ = true;
    PlaceOnFirstShow();
    FormShow();
    if (closed_) return;
  }
  QWidget::setVisible(visible);
}

void TMForm::PlaceOnFirstShow() {
  if (host_window_) {
    move(0, 0);  // the top left corner of the host window
    return;
  }
  if (const QScreen* s = screen()) {
    const QRect area = s->geometry();
    move(area.x() + (area.width() - width()) / 2, area.y() + (area.height() - height()) / 2);
  }
}

void TMForm::FormShow() {
  // The parameter count is tested again: after a bad window id NumParametros
  // is 0, and the named run still starts.
  if (parameters_.size() != 2) return;
  const QString direction = LowerAsciiLetters(parameters_[0]);
  if (direction == QLatin1String("importar")) BImportarClick();
  if (direction == QLatin1String("exportar")) BExportarClick();
}

void TMForm::closeEvent(QCloseEvent* event) {
  FormClose();
  event->accept();
  closed_ = true;
  emit windowClosed();
}

void TMForm::FormClose() {
  if (NumParametros != 2) return;
  const std::string path = RunResultPath();
  try {
    WriteIniInteger(path, kIniSection, kIniKey, Transformado);
  } catch (const std::exception& e) {
    // The close goes ahead; Tavoleno then finds the result of an earlier run
    // or none.
    ShowErrorMessage(this,
                     QStringLiteral("No se pudo guardar el resultado para Tavoleno.\n") +
                         QString::fromUtf8(e.what()));
  }
}

void TMForm::CloseWindow() {
  if (!host_window_) {
    close();
    return;
  }
  // QWindow::close() refuses a window that has a parent window, so the close
  // is delivered here the way Qt delivers it to a top-level window.
  QCloseEvent event;
  QCoreApplication::sendEvent(this, &event);
  if (event.isAccepted()) hide();
}

void TMForm::HostWindowDestroyed() {
  host_gone_ = true;
  // A run in progress (its file dialog, say) finishes first; RunScope closes
  // the window afterwards.
  if (runs_in_progress_ == 0 && !closed_) CloseWindow();
}

bool TMForm::ChooseExistingXmlFile() {
  if (OpenDialogXML->exec() == QDialog::Accepted) {
    const QStringList files = OpenDialogXML->selectedFiles();
    if (!files.isEmpty()) archivo_xml_ = QFileInfo(files.first()).absoluteFilePath();
  }
  if (!archivo_xml_.isEmpty() && FileExists(LocalPath(archivo_xml_))) return true;

  ShowMessage(this, QStringLiteral("No existe archivo"));
  if (NumParametros == 2) {
    Transformado = -1;
    CloseWindow();
  }
  return false;
}

void TMForm::FinishCompletedRun() {
  Transformado = 1;
  ShowMessage(this, QStringLiteral("Proceso finalizado"));
  BExportar->setEnabled(false);
  BImportar->setEnabled(false);
  if (NumParametros == 2) CloseWindow();
}

void TMForm::ShowRunFailure(const char* what) {
  // Transformado, the buttons and the window stay as they were.
  ShowErrorMessage(this, QString::fromUtf8(what));
}

void TMForm::BExportarClick() {
  RunScope run(this);
  if (!ChooseExistingXmlFile()) return;
  try {
    // The engine loads the document (a file that is not well formed ends the
    // run before any table is touched) and builds the tables; the time-frame
    // dialog is asked through the chooser when the document has two or more
    // frames.
    WaitCursor hourglass;
    const std::unique_ptr<FrameChooser> chooser = MakeFrameDialogChooser(this);
    const ExportResult result =
        ExportRun(LocalPath(archivo_xml_), DefaultWorkingFolder(), *chooser);
    marcos_elegidos_ = result.marcos_elegidos;
  } catch (const std::exception& e) {
    ShowRunFailure(e.what());
    return;
  } catch (...) {
    ShowRunFailure("La exportación terminó por un error desconocido");
    return;
  }
  FinishCompletedRun();
}

void TMForm::BImportarClick() {
  RunScope run(this);
  if (!ChooseExistingXmlFile()) return;
  try {
    WaitCursor hourglass;
    ImportRun(LocalPath(archivo_xml_), DefaultWorkingFolder());
  } catch (const std::exception& e) {
    ShowRunFailure(e.what());
    return;
  } catch (...) {
    ShowRunFailure("La importación terminó por un error desconocido");
    return;
  }
  FinishCompletedRun();
}

void TMForm::Button1Click() {
  if (help_.contents) help_.contents(this, HelpFilePath());
}

void TMForm::HelpKeyPressed() {
  // The context of the focused control, else of the nearest parent that has
  // one; every control of this window carries the window's.
  int context = kHelpContext;
  for (QWidget* w = QApplication::focusWidget(); w; w = w->parentWidget()) {
    const QVariant value = w->property(kHelpContextProperty);
    if (value.isValid()) {
      context = value.toInt();
      break;
    }
    if (w == this) break;
  }
  if (help_.context) help_.context(this, HelpFilePath(), context);
}

}  // namespace tvs
