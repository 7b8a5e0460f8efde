#include "app/Plantihoras.h"

#include <QApplication>
#include <QComboBox>
#include <QFont>
#include <QKeyEvent>
#include <QLabel>
#include <QListWidget>
#include <QPalette>
#include <QPushButton>
#include <QShortcut>
#include <QShowEvent>
#include <QSignalBlocker>
#include <QStyle>

#include "app/application.h"
#include "app/gradient_panel.h"
#include "app/help_viewer.h"
#include "export/sauce_lists.h"
#include "platform/codepage.h"
#include "platform/error.h"

namespace tvs {
namespace {

constexpr std::string_view kFrameList = "JORNADAS";
constexpr std::string_view kIntervalList = "INTERVALOS";
constexpr int kHelpContext = 3;
constexpr char kHelpContextProperty[] = "helpContext";
// Width of each code in MarcosSeleccionados.
constexpr size_t kCodeWidth = 10;
constexpr size_t kIntervalLineWidth = 20;

// The form's design: size and screen position (it is not centred).
constexpr int kFormWidth = 378, kFormHeight = 315;
constexpr int kFormLeft = 424, kFormTop = 285;

const QColor kSkyBlue(166, 202, 240);
const QColor kRed(255, 0, 0);
const QColor kMaroon(128, 0, 0);
const QColor kYellow(255, 255, 0);
// The Windows system colour "inactive caption text" of the standard theme,
// the end colour of the panel's gradient.
const QColor kInactiveCaptionText(67, 78, 84);

// Text of a node as the document gives it (untrimmed), in the 8-bit code page.
std::string CodePageText(const XmlNode& node) { return ToWindows1252(node.Text()); }

// A code-page text for display: characters outside the code page show as '?'.
QString Display(const std::string& code_page_text) {
  return QString::fromStdString(FromWindows1252(code_page_text));
}

std::string CodePageText(const QString& shown) { return ToWindows1252(shown.toStdString()); }

QFont PixelFont(const char* family, int pixels, bool bold, bool italic = false,
                bool underline = false) {
  QFont font{QString::fromLatin1(family)};
  font.setPixelSize(pixels);
  font.setBold(bold);
  font.setItalic(italic);
  font.setUnderline(underline);
  return font;
}

QLabel* MakeLabel(QWidget* parent, const char* name, const QString& text, QRect geometry,
                  const QFont& font, const QColor& color) {
  auto* label = new QLabel(text, parent);
  label->setObjectName(QString::fromLatin1(name));
  label->setGeometry(geometry);
  label->setFixedSize(geometry.size());
  label->setFont(font);
  QPalette palette = label->palette();
  palette.setColor(QPalette::WindowText, color);
  label->setPalette(palette);
  label->setAutoFillBackground(false);  // transparent: the gradient shows through
  label->setWordWrap(true);
  label->setAlignment(Qt::AlignLeft | Qt::AlignTop);
  return label;
}

}  // namespace

const QString TPlantillas::kTooManyFrames =
    QStringLiteral("Demasiados Marcos Horarios seleccionados.") + QStringLiteral("\r\n") +
    QStringLiteral("Como máximo puede seleccionar 2 Marcos Horarios");
const QString TPlantillas::kNoFrame = QStringLiteral("Debe al menos seleccionar 1 Marco Horario.");

TPlantillas::TPlantillas(QWidget* owner, std::string archivo_xml)
    : QDialog(owner, Qt::Dialog | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                         Qt::WindowCloseButtonHint),
      archivo_xml_(std::move(archivo_xml)) {
  setObjectName(QStringLiteral("Plantillas"));
  setWindowTitle(QStringLiteral("Planillas, Marcos o Jornadas Horarias"));
  setFixedSize(kFormWidth, kFormHeight);
  move(kFormLeft, kFormTop);  // marks the position as chosen: QDialog does not centre it
  setFont(PixelFont("MS Sans Serif", 11, false));
  CreateComponents();
}

TPlantillas::~TPlantillas() = default;

void TPlantillas::CreateComponents() {
  Draw3D4 = new TDraw3D(this);
  Draw3D4->setObjectName(QStringLiteral("Draw3D4"));
  Draw3D4->setGeometry(0, 0, 369, 281);
  Draw3D4->SetColors(kSkyBlue, Qt::white, kInactiveCaptionText);
  Draw3D4->setProperty(kHelpContextProperty, kHelpContext);

  const QColor window_text = QApplication::palette().color(QPalette::Text);
  LabelPlantillas = MakeLabel(
      Draw3D4, "LabelPlantillas",
      QStringLiteral("Seleccione 1, o los 2 Marcos Horarios que quiere aplicar a su Horario en "
                     "Tavoleno."),
      QRect(16, 2, 321, 33), PixelFont("Arial", 13, true), window_text);
  LabelSelec = MakeLabel(
      Draw3D4, "LabelSelec",
      QStringLiteral("Para seleccionar mas de un Marco Horario, mantenga (Ctrl) pulsado y "
                     "seleccione cada marco con 1 click del botón izquierdo del ratón."),
      QRect(16, 36, 321, 50), PixelFont("Arial", 13, true, true), kRed);
  LabelMarcos = MakeLabel(Draw3D4, "LabelMarcos", QStringLiteral("MARCOS"), QRect(40, 86, 74, 16),
                          PixelFont("Arial", 16, true), kMaroon);
  Label1 = MakeLabel(Draw3D4, "Label1", QStringLiteral("HORAS"), QRect(215, 86, 67, 18),
                     PixelFont("Arial", 16, true), kMaroon);

  ListBox2 = new QListWidget(Draw3D4);
  ListBox2->setObjectName(QStringLiteral("ListBox2"));
  ListBox2->setGeometry(16, 103, 127, 45);
  ListBox2->setSelectionMode(QAbstractItemView::ExtendedSelection);

  ListBox1 = new QListWidget(Draw3D4);
  ListBox1->setObjectName(QStringLiteral("ListBox1"));
  ListBox1->setGeometry(152, 103, 193, 146);
  ListBox1->setSelectionMode(QAbstractItemView::SingleSelection);

  const QString dash = QStringLiteral("-");
  LabelNombre = MakeLabel(Draw3D4, "LabelNombre", dash, QRect(9, 151, 120, 41),
                          PixelFont("Arial", 16, true, false, true), kMaroon);
  LabelPlanFec1 = MakeLabel(Draw3D4, "LabelPlanFec1", dash, QRect(9, 196, 120, 23),
                            PixelFont("Arial", 16, true), kMaroon);
  LabelPlanFec2 = MakeLabel(Draw3D4, "LabelPlanFec2", dash, QRect(9, 226, 120, 23),
                            PixelFont("Arial", 16, true), kMaroon);

  // Never shown: its current item is the frame being shown.
  ComboBoxPlantilla = new QComboBox(Draw3D4);
  ComboBoxPlantilla->setObjectName(QStringLiteral("ComboBoxPlantilla"));
  ComboBoxPlantilla->setGeometry(150, 254, 81, 21);
  ComboBoxPlantilla->setFont(PixelFont("MS Sans Serif", 11, true));
  QPalette yellow = ComboBoxPlantilla->palette();
  yellow.setColor(QPalette::Base, kYellow);
  yellow.setColor(QPalette::Button, kYellow);
  ComboBoxPlantilla->setPalette(yellow);
  ComboBoxPlantilla->setVisible(false);

  BitBtnContinuar = new QPushButton(style()->standardIcon(QStyle::SP_DialogOkButton),
                                    QStringLiteral("Continuar"), Draw3D4);
  BitBtnContinuar->setObjectName(QStringLiteral("BitBtnContinuar"));
  BitBtnContinuar->setGeometry(255, 253, 89, 25);
  BitBtnContinuar->setFont(PixelFont("MS Sans Serif", 11, true));
  BitBtnContinuar->setDefault(true);
  BitBtnContinuar->setProperty(kHelpContextProperty, kHelpContext);

  setTabOrder(BitBtnContinuar, ComboBoxPlantilla);
  setTabOrder(ComboBoxPlantilla, ListBox1);
  setTabOrder(ListBox1, ListBox2);
  BitBtnContinuar->setFocus();

  connect(BitBtnContinuar, &QPushButton::clicked, this, &TPlantillas::BitBtnContinuarClick);
  // A click, also one that takes the item out of the selection, and a change
  // of the focused item or of the selection from the keyboard.
  connect(ListBox2, &QListWidget::itemClicked, this, &TPlantillas::ListBox2Click);
  connect(ListBox2, &QListWidget::currentRowChanged, this, &TPlantillas::ListBox2Click);
  connect(ListBox2, &QListWidget::itemSelectionChanged, this, &TPlantillas::ListBox2Click);
  connect(ComboBoxPlantilla, &QComboBox::activated, this, &TPlantillas::ComboBoxPlantillaChange);

  auto* f1 = new QShortcut(QKeySequence(Qt::Key_F1), this);
  f1->setContext(Qt::WindowShortcut);
  connect(f1, &QShortcut::activated, this,
          [this] { ShowHelpContext(this, HelpFilePath(), kHelpContext); });
}

void TPlantillas::showEvent(QShowEvent* event) {
  QDialog::showEvent(event);
  if (event->spontaneous() || activated_) return;
  activated_ = true;
  FormActivate();
  BitBtnContinuar->setFocus();
}

void TPlantillas::keyPressEvent(QKeyEvent* event) {
  // The dialog has no cancel: Escape neither closes it nor skips the test.
  if (event->key() == Qt::Key_Escape && event->modifiers() == Qt::NoModifier) {
    event->accept();
    return;
  }
  QDialog::keyPressEvent(event);
}

void TPlantillas::done(int result) {
  // close(), the close box and the default button all arrive here, once per
  // closing; the closing test runs while the dialog is still on the screen,
  // so that its message appears over it.
  if (closing_) return;
  closing_ = true;
  FormClose();
  QDialog::done(result);
  closing_ = false;
}

void TPlantillas::FormActivate() {
  auto doc = std::make_unique<XmlDocument>();
  try {
    doc->Load(archivo_xml_);
  } catch (const Error&) {
    // A file that cannot be read gives empty lists, as a file that does not
    // parse does; the dialog can then only be closed with its message.
  }
  XMLDocPlantillas = std::move(doc);

  const XmlNodeList frames = SelectEntries(*XMLDocPlantillas, kFrameList);
  if (frames.Count() > 1) {
    const QSignalBlocker block_list(ListBox2);
    ComboBoxPlantilla->clear();
    ListBox2->clear();
    for (size_t i = 0; i < frames.Count(); ++i) {
      const Entry frame(frames.Item(i));
      if (frame.Count() < 1) continue;  // no code to list it by
      const QString code = Display(CodePageText(frame.Salida(0)));
      ComboBoxPlantilla->addItem(code);
      ListBox2->addItem(code);
    }
  }
  ComboBoxPlantilla->setCurrentIndex(ComboBoxPlantilla->count() > 0 ? 0 : -1);
  ComboBoxPlantillaChange();
}

void TPlantillas::ComboBoxPlantillaChange() {
  const std::string current = CodePageText(ComboBoxPlantilla->currentText());
  const QString dash = QStringLiteral("-");
  LabelNombre->setText(dash);
  LabelPlanFec1->setText(dash);
  LabelPlanFec2->setText(dash);
  if (!XMLDocPlantillas) return;

  const XmlNodeList frames = SelectEntries(*XMLDocPlantillas, kFrameList);
  if (frames.Count() > 1) {
    for (size_t i = 0; i < frames.Count(); ++i) {
      const Entry frame(frames.Item(i));
      if (frame.Count() < 3) continue;  // no name and further text to show
      if (CodePageText(frame.Salida(0)) != current) continue;
      LabelNombre->setText(Display(CodePageText(frame.Salida(1))));
      LabelPlanFec1->setText(Display(CodePageText(frame.Salida(2))));
    }
  }

  const XmlNodeList intervals = SelectEntries(*XMLDocPlantillas, kIntervalList);
  if (intervals.Count() > 1) {
    ListBox1->clear();
    for (size_t i = 0; i < intervals.Count(); ++i) {
      const Entry interval(intervals.Item(i));
      if (interval.Count() < 6) continue;
      if (CodePageText(interval.Salida(5)) != current) continue;
      // ORDEN-NOMBRE-INICIO-FIN
      std::string line = CodePageText(interval.Salida(4)) + "-" + CodePageText(interval.Salida(1)) +
                         "-" + CodePageText(interval.Salida(2)) + "-" +
                         CodePageText(interval.Salida(3));
      if (line.size() > kIntervalLineWidth) line.resize(kIntervalLineWidth);
      ListBox1->addItem(Display(line));
    }
  }
}

void TPlantillas::ListBox2Click() {
  // The focused item: the one clicked last, selected or not.
  ComboBoxPlantilla->setCurrentIndex(ListBox2->currentRow());
  ComboBoxPlantillaChange();
}

void TPlantillas::BitBtnContinuarClick() { close(); }

void TPlantillas::FormClose() {
  seleccion_valida_ = true;
  marcos_seleccionados_.clear();

  const qsizetype selected = ListBox2->selectedItems().size();
  if (selected > 2) {
    ShowMessage(this, kTooManyFrames);
    seleccion_valida_ = false;
  } else if (selected == 0) {
    ShowMessage(this, kNoFrame);
    seleccion_valida_ = false;
  }

  for (int i = 0; i < ListBox2->count(); ++i) {
    const QListWidgetItem* item = ListBox2->item(i);
    if (!item->isSelected()) continue;
    std::string code = CodePageText(item->text());
    code.resize(kCodeWidth, ' ');
    marcos_seleccionados_ += code;
  }
}

}  // namespace tvs
