// The time-frame dialog TPlantillas, its chooser, and an export by hand that
// goes through it.
#include "app/Plantihoras.h"

#include <gtest/gtest.h>

#include <QAbstractButton>
#include <QApplication>
#include <QComboBox>
#include <QCursor>
#include <QDir>
#include <QFile>
#include <QFontInfo>
#include <QFontMetrics>
#include <QLabel>
#include <QListWidget>
#include <QMessageBox>
#include <QPushButton>
#include <QStyle>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <QWindow>

#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "app/MainForm.h"
#include "app/frame_dialog_chooser.h"
#include "app/gradient_panel.h"
#include "app_test_helpers.h"
#include "platform/dbf.h"
#include "platform/files.h"
#include "platform/xml_document.h"

// Readable failure messages for lists of texts.
static void PrintTo(const QStringList& list, std::ostream* os) {
  *os << '{';
  for (const QString& s : list) *os << " \"" << s.toStdString() << '"';
  *os << " }";
}

namespace tvs {
namespace {

using testing::ModalScript;
using testing::SeenMessageBox;

const QString kTitle = QStringLiteral("TransVelmarSauce");
const QString kTooMany = QStringLiteral(
    "Demasiados Marcos Horarios seleccionados.\r\nComo máximo puede seleccionar 2 Marcos Horarios");
const QString kNoneSelected = QStringLiteral("Debe al menos seleccionar 1 Marco Horario.");

// --- Documents ------------------------------------------------------------

std::string Escape(const std::string& text) {
  std::string out;
  for (char c : text) {
    if (c == '&') out += "&amp;";
    else if (c == '<') out += "&lt;";
    else if (c == '>') out += "&gt;";
    else out += c;
  }
  return out;
}

// Salida texts of each frame and each interval, by position. Intervals carry
// their items in Sauce's order: CODIGO_SAUCE, NOMBRE, INICIO, FIN, ORDEN,
// CLAVE_JORNADA.
struct Doc {
  std::vector<std::vector<std::string>> frames;
  std::vector<std::vector<std::string>> intervals;

  std::string Xml() const {
    static const char* const kDato[] = {"CODIGO_SAUCE", "NOMBRE", "INICIO",
                                        "FIN",          "ORDEN",  "CLAVE_JORNADA"};
    std::string x = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<SERVICIO><SALIDAS>\n";
    x += "<listasal seq=\"JORNADAS\">\n";
    for (const auto& f : frames) {
      x += "<listasal>";
      for (const auto& s : f) x += "<salida>" + Escape(s) + "</salida>";
      x += "</listasal>\n";
    }
    x += "</listasal>\n<listasal seq=\"INTERVALOS\">\n";
    for (const auto& i : intervals) {
      x += "<listasal>";
      for (size_t k = 0; k < i.size(); ++k)
        x += std::string("<salida dato=\"") + (k < 6 ? kDato[k] : "OTRO") + "\">" + Escape(i[k]) +
             "</salida>";
      x += "</listasal>\n";
    }
    return x + "</listasal>\n</SALIDAS></SERVICIO>\n";
  }
};

// Three frames with two intervals each (the morning one with a long name).
Doc ThreeFrames() {
  Doc d;
  d.frames = {{"M", "Mañana", "Lunes a viernes"},
              {"T", "Tarde", "Lunes a jueves"},
              {"N", "Noche", "Martes"}};
  d.intervals = {{"101", "Primera", "8:00", "8:55", "1", "M"},
                 {"201", "Tarde 1", "15:00", "15:55", "1", "T"},
                 {"102", "Tercera hora", "10:30", "11:00", "3", "M"},
                 {"301", "Noche", "20:00", "21:00", "1", "N"},
                 {"202", "Recreo", "16:00", "16:30", "2", "T"}};
  return d;
}

class PlantihorasTest : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_TRUE(dir_.isValid()); }

  std::string Write(const Doc& doc, const QString& name = QStringLiteral("sauce.xml")) {
    const QString path = dir_.filePath(name);
    QFile file(path);
    EXPECT_TRUE(file.open(QIODevice::WriteOnly));
    file.write(QByteArray::fromStdString(doc.Xml()));
    return QFile::encodeName(path).toStdString();
  }

  // A dialog over `doc`, shown (not modally, so that the test drives it).
  std::unique_ptr<TPlantillas> Show(const Doc& doc) {
    auto dialog = std::make_unique<TPlantillas>(nullptr, Write(doc));
    dialog->show();
    EXPECT_TRUE(QTest::qWaitForWindowExposed(dialog.get()));
    return dialog;
  }

  QTemporaryDir dir_;
};

template <typename T>
T* Child(QWidget* w, const char* name) {
  T* child = w->findChild<T*>(QString::fromLatin1(name));
  EXPECT_NE(child, nullptr) << name;
  return child;
}

QListWidget* Frames(QWidget* d) { return Child<QListWidget>(d, "ListBox2"); }
QListWidget* Hours(QWidget* d) { return Child<QListWidget>(d, "ListBox1"); }

QStringList Texts(const QListWidget* list) {
  QStringList out;
  for (int i = 0; i < list->count(); ++i) out << list->item(i)->text();
  return out;
}

void ClickItem(QListWidget* list, int row, Qt::KeyboardModifiers modifiers = Qt::NoModifier) {
  QListWidgetItem* item = list->item(row);
  ASSERT_NE(item, nullptr) << "row " << row;
  list->scrollToItem(item);
  QTest::mouseClick(list->viewport(), Qt::LeftButton, modifiers, list->visualItemRect(item).center());
}

// Clicks the first row plainly, the others with Ctrl held: the selection
// becomes exactly `rows`.
void SelectRows(QListWidget* list, const std::vector<int>& rows) {
  for (size_t i = 0; i < rows.size(); ++i)
    ClickItem(list, rows[i], i == 0 ? Qt::NoModifier : Qt::ControlModifier);
}

enum class CloseBy { kButton, kEnter, kCloseBox };

const char* Name(CloseBy how) {
  switch (how) {
    case CloseBy::kButton: return "button";
    case CloseBy::kEnter: return "Enter";
    case CloseBy::kCloseBox: return "close box";
  }
  return "";
}

void Close(QWidget* dialog, CloseBy how) {
  switch (how) {
    case CloseBy::kButton:
      Child<QPushButton>(dialog, "BitBtnContinuar")->click();
      break;
    case CloseBy::kEnter: {
      // From the frame list, where the user clicked last: the key reaches the
      // dialog, which presses its default button.
      QTest::keyClick(Frames(dialog), Qt::Key_Return);
      break;
    }
    case CloseBy::kCloseBox:
      // What the window manager's close box does: a close request to the
      // window.
      dialog->windowHandle()->close();
      break;
  }
}

// --- Layout ---------------------------------------------------------------

TEST_F(PlantihorasTest, FormFrameCaptionPlaceAndPanel) {
  auto dialog = Show(ThreeFrames());
  EXPECT_EQ(dialog->objectName(), QStringLiteral("Plantillas"));
  EXPECT_EQ(dialog->windowTitle(), QStringLiteral("Planillas, Marcos o Jornadas Horarias"));
  EXPECT_EQ(dialog->size(), QSize(378, 315));
  EXPECT_EQ(dialog->minimumSize(), QSize(378, 315)) << "resizable";
  EXPECT_EQ(dialog->maximumSize(), QSize(378, 315)) << "resizable";
  EXPECT_EQ(dialog->pos(), QPoint(424, 285)) << "the dialog opens where it was designed";
  const Qt::WindowFlags flags = dialog->windowFlags();
  EXPECT_TRUE(flags & Qt::WindowCloseButtonHint);
  EXPECT_TRUE(flags & Qt::WindowSystemMenuHint);
  EXPECT_FALSE(flags & Qt::WindowMinimizeButtonHint);
  EXPECT_FALSE(flags & Qt::WindowMaximizeButtonHint);
  EXPECT_FALSE(flags & Qt::WindowContextHelpButtonHint);
  EXPECT_EQ(dialog->font().family(), QStringLiteral("MS Sans Serif"));
  EXPECT_EQ(dialog->font().pixelSize(), 11);

  auto* panel = Child<TDraw3D>(dialog.get(), "Draw3D4");
  ASSERT_NE(panel, nullptr);
  EXPECT_EQ(panel->parentWidget(), dialog.get());
  EXPECT_EQ(panel->geometry(), QRect(0, 0, 369, 281));
  EXPECT_EQ(panel->StartColor(), QColor(166, 202, 240));
  EXPECT_EQ(panel->MiddleColor(), QColor(Qt::white));
  EXPECT_EQ(panel->EndColor(), QColor(67, 78, 84));
  EXPECT_EQ(panel->property("helpContext").toInt(), 3);
}

TEST_F(PlantihorasTest, ComponentsAsLaidOut) {
  struct Case {
    const char* name;
    QRect bounds;
    QString text;  // labels and the button
    const char* family;
    int pixels;
    bool bold, italic, underline;
    std::optional<QColor> colour;  // labels
  };
  const QColor maroon(128, 0, 0);
  const QColor window_text = QApplication::palette().color(QPalette::Text);
  const Case cases[] = {
      {"LabelPlantillas", {16, 2, 321, 33},
       "Seleccione 1, o los 2 Marcos Horarios que quiere aplicar a su Horario en Tavoleno.",
       "Arial", 13, true, false, false, window_text},
      {"LabelSelec", {16, 36, 321, 50},
       "Para seleccionar mas de un Marco Horario, mantenga (Ctrl) pulsado y seleccione cada "
       "marco con 1 click del botón izquierdo del ratón.",
       "Arial", 13, true, true, false, QColor(255, 0, 0)},
      {"LabelMarcos", {40, 86, 74, 16}, "MARCOS", "Arial", 16, true, false, false, maroon},
      {"Label1", {215, 86, 67, 18}, "HORAS", "Arial", 16, true, false, false, maroon},
      {"ListBox2", {16, 103, 127, 45}, "", "MS Sans Serif", 11, false, false, false, {}},
      {"ListBox1", {152, 103, 193, 146}, "", "MS Sans Serif", 11, false, false, false, {}},
      {"LabelNombre", {9, 151, 120, 41}, "", "Arial", 16, true, false, true, maroon},
      {"LabelPlanFec1", {9, 196, 120, 23}, "", "Arial", 16, true, false, false, maroon},
      {"LabelPlanFec2", {9, 226, 120, 23}, "-", "Arial", 16, true, false, false, maroon},
      {"ComboBoxPlantilla", {150, 254, 81, 21}, "", "MS Sans Serif", 11, true, false, false, {}},
      {"BitBtnContinuar", {255, 253, 89, 25}, "Continuar", "MS Sans Serif", 11, true, false, false,
       {}},
  };
  auto dialog = Show(ThreeFrames());
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    auto* w = Child<QWidget>(dialog.get(), c.name);
    ASSERT_NE(w, nullptr);
    EXPECT_EQ(w->parentWidget()->objectName(), QStringLiteral("Draw3D4"));
    EXPECT_EQ(w->geometry(), c.bounds);
    EXPECT_EQ(w->font().family(), QString::fromLatin1(c.family));
    EXPECT_EQ(w->font().pixelSize(), c.pixels);
    EXPECT_EQ(w->font().bold(), c.bold);
    EXPECT_EQ(w->font().italic(), c.italic);
    EXPECT_EQ(w->font().underline(), c.underline);
    EXPECT_EQ(QFontInfo(w->font()).family(), QStringLiteral("Liberation Sans"));
    if (auto* label = qobject_cast<QLabel*>(w)) {
      // Fixed captions show whole; the frame's texts are the document's.
      if (!c.text.isEmpty()) {
        EXPECT_EQ(label->text(), c.text);
        // Its lines fit, but for the descent below the last one.
        EXPECT_LE(label->heightForWidth(c.bounds.width()),
                  c.bounds.height() + QFontMetrics(label->font()).descent())
            << "text cut";
      }
      EXPECT_TRUE(label->wordWrap());
      EXPECT_FALSE(label->autoFillBackground()) << "not transparent";
      EXPECT_EQ(label->minimumSize(), c.bounds.size()) << "not of fixed size";
      EXPECT_EQ(label->maximumSize(), c.bounds.size()) << "not of fixed size";
      EXPECT_EQ(label->palette().color(QPalette::WindowText), *c.colour);
    }
  }
  EXPECT_EQ(Frames(dialog.get())->selectionMode(), QAbstractItemView::ExtendedSelection);
  EXPECT_EQ(Hours(dialog.get())->selectionMode(), QAbstractItemView::SingleSelection);

  auto* combo = Child<QComboBox>(dialog.get(), "ComboBoxPlantilla");
  EXPECT_FALSE(combo->isVisible());
  EXPECT_EQ(combo->palette().color(QPalette::Base), QColor(255, 255, 0));

  auto* button = Child<QPushButton>(dialog.get(), "BitBtnContinuar");
  EXPECT_TRUE(button->isDefault());
  EXPECT_EQ(button->property("helpContext").toInt(), 3);
  const QImage ok = dialog->style()->standardIcon(QStyle::SP_DialogOkButton).pixmap(16).toImage();
  ASSERT_FALSE(ok.isNull());
  EXPECT_EQ(button->icon().pixmap(16).toImage(), ok) << "not the OK glyph";
}

TEST_F(PlantihorasTest, TabOrderStartsAtTheButtonWhichHasTheFocus) {
  auto dialog = Show(ThreeFrames());
  QStringList chain;
  QWidget* w = Child<QWidget>(dialog.get(), "BitBtnContinuar");
  for (int i = 0; i < 50; ++i) {
    if (w->window() == dialog.get() && (w->focusPolicy() & Qt::TabFocus) && !w->objectName().isEmpty())
      chain << w->objectName();
    w = w->nextInFocusChain();
    if (w->objectName() == QStringLiteral("BitBtnContinuar")) break;
  }
  EXPECT_EQ(chain, (QStringList{"BitBtnContinuar", "ComboBoxPlantilla", "ListBox1", "ListBox2"}));
  EXPECT_EQ(dialog->focusWidget(), Child<QWidget>(dialog.get(), "BitBtnContinuar"));
}

// --- Showing the frames ---------------------------------------------------

TEST_F(PlantihorasTest, ListsTheFramesAndShowsTheFirst) {
  auto dialog = Show(ThreeFrames());
  EXPECT_EQ(Texts(Frames(dialog.get())), (QStringList{"M", "T", "N"}));
  auto* combo = Child<QComboBox>(dialog.get(), "ComboBoxPlantilla");
  QStringList combo_items;
  for (int i = 0; i < combo->count(); ++i) combo_items << combo->itemText(i);
  EXPECT_EQ(combo_items, (QStringList{"M", "T", "N"}));
  EXPECT_EQ(combo->currentText(), QStringLiteral("M"));
  EXPECT_TRUE(Frames(dialog.get())->selectedItems().isEmpty());
  EXPECT_EQ(Child<QLabel>(dialog.get(), "LabelNombre")->text(), QStringLiteral("Mañana"));
  EXPECT_EQ(Child<QLabel>(dialog.get(), "LabelPlanFec1")->text(), QStringLiteral("Lunes a viernes"));
  EXPECT_EQ(Child<QLabel>(dialog.get(), "LabelPlanFec2")->text(), QStringLiteral("-"));
  // ORDEN-NOMBRE-INICIO-FIN, cut to 20 characters.
  EXPECT_EQ(Texts(Hours(dialog.get())),
            (QStringList{"1-Primera-8:00-8:55", "3-Tercera hora-10:30"}));
}

TEST_F(PlantihorasTest, ClickedFrameIsShown) {
  auto dialog = Show(ThreeFrames());
  ClickItem(Frames(dialog.get()), 1);
  EXPECT_EQ(Child<QLabel>(dialog.get(), "LabelNombre")->text(), QStringLiteral("Tarde"));
  EXPECT_EQ(Child<QLabel>(dialog.get(), "LabelPlanFec1")->text(), QStringLiteral("Lunes a jueves"));
  EXPECT_EQ(Child<QLabel>(dialog.get(), "LabelPlanFec2")->text(), QStringLiteral("-"));
  EXPECT_EQ(Texts(Hours(dialog.get())), (QStringList{"1-Tarde 1-15:00-15:5", "2-Recreo-16:00-16:30"}));
  ClickItem(Frames(dialog.get()), 2);
  EXPECT_EQ(Child<QLabel>(dialog.get(), "LabelNombre")->text(), QStringLiteral("Noche"));
  EXPECT_EQ(Texts(Hours(dialog.get())), (QStringList{"1-Noche-20:00-21:00"}));
}

TEST_F(PlantihorasTest, FrameTakenOutOfTheSelectionIsStillShown) {
  auto dialog = Show(ThreeFrames());
  QListWidget* frames = Frames(dialog.get());
  ClickItem(frames, 1);
  ClickItem(frames, 0, Qt::ControlModifier);
  EXPECT_EQ(Child<QLabel>(dialog.get(), "LabelNombre")->text(), QStringLiteral("Mañana"));
  ClickItem(frames, 1, Qt::ControlModifier);  // removes T from the selection
  EXPECT_FALSE(frames->item(1)->isSelected());
  EXPECT_TRUE(frames->item(0)->isSelected());
  EXPECT_EQ(Child<QLabel>(dialog.get(), "LabelNombre")->text(), QStringLiteral("Tarde"));
  EXPECT_EQ(Texts(Hours(dialog.get())), (QStringList{"1-Tarde 1-15:00-15:5", "2-Recreo-16:00-16:30"}));
}

TEST_F(PlantihorasTest, TextsAsTheDocumentGivesThemThroughTheCodePage) {
  Doc doc;
  doc.frames = {{" M1 ", " Mañana ", "Łódź"}, {"T", "Tarde", "-"}};
  doc.intervals = {{"1", "Ñu", " 8:00", "8:55", "1", " M1 "},
                   {"2", "Otra", "9:00", "9:55", "2", "M1"}};
  auto dialog = Show(doc);
  EXPECT_EQ(Texts(Frames(dialog.get())), (QStringList{" M1 ", "T"}));
  EXPECT_EQ(Child<QLabel>(dialog.get(), "LabelNombre")->text(), QStringLiteral(" Mañana "));
  EXPECT_EQ(Child<QLabel>(dialog.get(), "LabelPlanFec1")->text(), QStringLiteral("?\u00F3d?"));
  // Only the interval whose CLAVE_JORNADA is " M1 " as it stands.
  EXPECT_EQ(Texts(Hours(dialog.get())), (QStringList{"1-Ñu- 8:00-8:55"}));
}

TEST_F(PlantihorasTest, IntervalLinesNeedTheFrameCodeInTheSameCase) {
  Doc doc;
  doc.frames = {{"m", "Mañana", "L-V"}, {"T", "Tarde", "L-J"}};
  doc.intervals = {{"1", "Primera", "8:00", "8:55", "1", "M"}, {"2", "Tarde", "15:00", "15:55", "1", "T"}};
  auto dialog = Show(doc);
  EXPECT_EQ(Child<QLabel>(dialog.get(), "LabelNombre")->text(), QStringLiteral("Mañana"));
  EXPECT_TRUE(Texts(Hours(dialog.get())).isEmpty());
}

TEST_F(PlantihorasTest, IntervalListOfOneElementLeavesTheHoursEmpty) {
  Doc doc;
  doc.frames = {{"M", "Mañana", "L-V"}, {"T", "Tarde", "L-J"}};
  doc.intervals = {{"1", "Primera", "8:00", "8:55", "1", "M"}};
  auto dialog = Show(doc);
  for (int row : {0, 1, 0}) {
    ClickItem(Frames(dialog.get()), row);
    EXPECT_EQ(Hours(dialog.get())->count(), 0) << "row " << row;
  }
  EXPECT_EQ(Child<QLabel>(dialog.get(), "LabelNombre")->text(), QStringLiteral("Mañana"));
}

TEST_F(PlantihorasTest, IncompleteElementsArePassedOver) {
  Doc doc;
  doc.frames = {{"M", "Mañana", "L-V"}, {}, {"T"}, {"N", "Noche", "Martes"}};
  doc.intervals = {{"1", "Primera", "8:00", "8:55", "1", "M"},
                   {"2", "Sin clave", "9:00", "9:55", "2"},
                   {"3", "Tercera", "10:00", "10:55", "3", "M"},
                   {"4", "Tarde", "15:00", "15:55", "1", "T"}};
  auto dialog = Show(doc);
  EXPECT_EQ(Texts(Frames(dialog.get())), (QStringList{"M", "T", "N"}));
  EXPECT_EQ(Texts(Hours(dialog.get())), (QStringList{"1-Primera-8:00-8:55", "3-Tercera-10:00-10:5"}));
  // T has a code but neither name nor further text: its hours show, the
  // labels keep "-".
  ClickItem(Frames(dialog.get()), 1);
  EXPECT_EQ(Child<QLabel>(dialog.get(), "LabelNombre")->text(), QStringLiteral("-"));
  EXPECT_EQ(Texts(Hours(dialog.get())), (QStringList{"1-Tarde-15:00-15:55"}));
  ClickItem(Frames(dialog.get()), 2);
  EXPECT_EQ(Child<QLabel>(dialog.get(), "LabelNombre")->text(), QStringLiteral("Noche"));
}

TEST_F(PlantihorasTest, SingleFrameDocumentListsNothing) {
  Doc doc;
  doc.frames = {{"M", "Mañana", "L-V"}};
  doc.intervals = {{"1", "Primera", "8:00", "8:55", "1", "M"}, {"2", "Segunda", "9:00", "9:55", "2", "M"}};
  auto dialog = Show(doc);
  EXPECT_EQ(Frames(dialog.get())->count(), 0);
  EXPECT_EQ(Child<QLabel>(dialog.get(), "LabelNombre")->text(), QStringLiteral("-"));
  // The combo box has no current text: no interval has an empty CLAVE_JORNADA.
  EXPECT_EQ(Hours(dialog.get())->count(), 0);
}

// --- Closing --------------------------------------------------------------

TEST_F(PlantihorasTest, EveryWayOfClosingRunsTheClosingTest) {
  struct Case {
    std::vector<int> rows;
    std::optional<QString> message;
    bool valid;
    std::string codes;
  } cases[] = {
      {{}, kNoneSelected, false, ""},
      {{1}, std::nullopt, true, "T         "},
      {{0, 2}, std::nullopt, true, "M         N         "},
      {{0, 1, 2}, kTooMany, false, "M         T         N         "},
  };
  for (const CloseBy how : {CloseBy::kButton, CloseBy::kEnter, CloseBy::kCloseBox}) {
    for (const Case& c : cases) {
      SCOPED_TRACE(std::string(Name(how)) + ", " + std::to_string(c.rows.size()) + " selected");
      auto dialog = Show(ThreeFrames());
      SelectRows(Frames(dialog.get()), c.rows);
      SeenMessageBox seen;
      {
        ModalScript script;
        if (c.message) script.AnswerMessageBox(&seen);
        Close(dialog.get(), how);
      }
      EXPECT_FALSE(dialog->isVisible()) << "the dialog closes in every case";
      EXPECT_EQ(dialog->SeleccionValida(), c.valid);
      EXPECT_EQ(dialog->MarcosSeleccionados(), c.codes);
      if (c.message) {
        EXPECT_EQ(seen.title, kTitle);
        EXPECT_EQ(seen.text, *c.message);
        EXPECT_EQ(seen.buttons, QStringList{QStringLiteral("Aceptar")});
        EXPECT_EQ(seen.icon, QMessageBox::NoIcon);
      }
    }
  }
}

TEST_F(PlantihorasTest, EscapeDoesNotClose) {
  auto dialog = Show(ThreeFrames());
  ModalScript script;  // no message may come up
  QTest::keyClick(Frames(dialog.get()), Qt::Key_Escape);
  EXPECT_TRUE(dialog->isVisible());
}

TEST_F(PlantihorasTest, CodesComeInListOrderAsTenCharacters) {
  struct Case {
    std::vector<int> clicks;  // first plain, then with Ctrl
    std::string codes;
  } cases[] = {
      {{0, 1}, "ABCD      ABCDEFGHIJ"},
      {{1, 0}, "ABCD      ABCDEFGHIJ"},
      {{2, 0}, "ABCD      Ñandú     "},
      {{1}, "ABCDEFGHIJ"},
      {{2}, "Ñandú     "},
  };
  Doc doc;
  doc.frames = {{"ABCD", "Cuatro", "-"}, {"ABCDEFGHIJKL", "Doce", "-"}, {"Ñandú", "Cinco", "-"}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.codes);
    auto dialog = Show(doc);
    SelectRows(Frames(dialog.get()), c.clicks);
    Close(dialog.get(), CloseBy::kButton);
    EXPECT_TRUE(dialog->SeleccionValida());
    // Windows-1252 bytes, 10 per code.
    std::string want;
    for (unsigned char ch : QString::fromStdString(c.codes).toLatin1()) want += static_cast<char>(ch);
    EXPECT_EQ(dialog->MarcosSeleccionados(), want);
  }
}

// --- The chooser ----------------------------------------------------------

// Runs `select` on a modal frame dialog and then presses its button, from an
// event of its own (so that the closing test's message can be answered).
std::function<void(QWidget*)> SelectAndContinue(std::vector<int> rows,
                                                bool* started_empty = nullptr,
                                                std::optional<Qt::CursorShape>* cursor = nullptr) {
  return [rows, started_empty, cursor](QWidget* modal) {
    auto* dialog = qobject_cast<TPlantillas*>(modal);
    ASSERT_NE(dialog, nullptr) << testing::Describe(modal).toStdString();
    if (started_empty) *started_empty = Frames(dialog)->selectedItems().isEmpty();
    if (cursor && QApplication::overrideCursor())
      *cursor = QApplication::overrideCursor()->shape();
    SelectRows(Frames(dialog), rows);
    QPushButton* button = Child<QPushButton>(dialog, "BitBtnContinuar");
    QTimer::singleShot(0, button, &QPushButton::click);
  };
}

TEST_F(PlantihorasTest, ChooserShowsTheDialogAgainUntilTheChoiceIsValid) {
  const std::string path = Write(ThreeFrames());
  XmlDocument doc;
  doc.Load(path);
  QWidget owner;
  const std::unique_ptr<FrameChooser> chooser = MakeFrameDialogChooser(&owner);
  SeenMessageBox too_many, none;
  bool second_empty = false, third_empty = false;
  std::string chosen;
  {
    ModalScript script;
    script.Then(SelectAndContinue({0, 1, 2}))
        .AnswerMessageBox(&too_many)
        .Then(SelectAndContinue({}, &second_empty))
        .AnswerMessageBox(&none)
        .Then(SelectAndContinue({2, 1}, &third_empty));
    chosen = chooser->ChooseFrames(doc, path);
  }
  EXPECT_EQ(chosen, "T         N         ");
  EXPECT_EQ(too_many.text, kTooMany);
  EXPECT_EQ(none.text, kNoneSelected);
  EXPECT_TRUE(second_empty) << "a new dialog starts without selection";
  EXPECT_TRUE(third_empty);
  EXPECT_TRUE(owner.findChildren<TPlantillas*>().isEmpty()) << "dialogs not released";
}

TEST_F(PlantihorasTest, ChooserShowsTheArrowDuringTheRunsHourglass) {
  const std::string path = Write(ThreeFrames());
  XmlDocument doc;
  doc.Load(path);
  QWidget owner;
  const std::unique_ptr<FrameChooser> chooser = MakeFrameDialogChooser(&owner);
  std::optional<Qt::CursorShape> cursor;
  QApplication::setOverrideCursor(Qt::WaitCursor);
  {
    ModalScript script;
    script.Then(SelectAndContinue({0}, nullptr, &cursor));
    EXPECT_EQ(chooser->ChooseFrames(doc, path), "M         ");
  }
  ASSERT_NE(QApplication::overrideCursor(), nullptr);
  EXPECT_EQ(QApplication::overrideCursor()->shape(), Qt::WaitCursor) << "hourglass not back";
  QApplication::restoreOverrideCursor();
  EXPECT_EQ(QApplication::overrideCursor(), nullptr);
  EXPECT_EQ(cursor, Qt::ArrowCursor);
}

// --- An export by hand through the dialog ----------------------------------

class ExportThroughDialogTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(vtemp_.isValid());
    ASSERT_TRUE(ini_dir_.isValid());
    qputenv("TRANSVELMAR_VTEMP", QFile::encodeName(vtemp_.path()));
    qputenv("TRANSVELMAR_INI_DIR", QFile::encodeName(ini_dir_.path()));
    ASSERT_TRUE(QDir(vtemp_.path()).mkdir(QStringLiteral("Sauce")));
    NumParametros = 0;
    Transformado = 0;
    XMLDoc.reset();
  }
  void TearDown() override {
    qunsetenv("TRANSVELMAR_VTEMP");
    qunsetenv("TRANSVELMAR_INI_DIR");
    while (QApplication::overrideCursor()) QApplication::restoreOverrideCursor();
  }

  QTemporaryDir vtemp_;
  QTemporaryDir ini_dir_;
};

TEST_F(ExportThroughDialogTest, TwoFramesChosenInTheDialogGetTheirMarks) {
  Doc doc;
  doc.frames = {{"T", "Tarde", "L-J"}, {"M", "Mañana", "L-V"}, {"N", "Noche", "Martes"}};
  doc.intervals = {{"201", "Tarde 1", "15:00", "15:55", "1", "T"},
                   {"101", "Primera", "8:00", "8:55", "2", "M"},
                   {"301", "Noche", "20:00", "21:00", "1", "N"}};
  const QString path = QDir(vtemp_.filePath(QStringLiteral("Sauce"))).filePath("dos.xml");
  {
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write(QByteArray::fromStdString(doc.Xml()));
  }
  TMForm form(QStringList{});
  form.show();
  SeenMessageBox finished;
  std::optional<Qt::CursorShape> cursor;
  {
    ModalScript script;
    script.TypeFileName(QStringLiteral("dos.xml"))
        .Then(SelectAndContinue({1, 0}, nullptr, &cursor))
        .AnswerMessageBox(&finished);
    form.findChild<QPushButton*>(QStringLiteral("BExportar"))->click();
  }
  EXPECT_EQ(finished.text, QStringLiteral("Proceso finalizado"));
  EXPECT_EQ(cursor, Qt::ArrowCursor);
  EXPECT_EQ(Transformado, 1);
  EXPECT_EQ(form.MarcosElegidos(), "T         M         ");

  const std::string file = FindIgnoringCase(QFile::encodeName(vtemp_.path()).toStdString(), "DIASHORAST.DBF");
  ASSERT_FALSE(file.empty());
  const DbfTable table = ParseDbf(ReadFile(file), "DIASHORAST");
  ASSERT_EQ(table.RecordCount(), 21u);
  const size_t diho = table.FieldIndex("DIHO"), marco = table.FieldIndex("MARCO");
  for (size_t r = 0; r < 21; ++r) {
    SCOPED_TRACE(r);
    const std::string day = std::to_string(r % 7 + 1);
    // T starts later than M: M gets "0", T "1"; N was not chosen.
    const char* want_marco[] = {"1", "0", ""};
    EXPECT_EQ(table.Text(r, marco), want_marco[r / 7]);
    EXPECT_EQ(table.Text(r, diho), day + "1");
  }
}

}  // namespace
}  // namespace tvs
