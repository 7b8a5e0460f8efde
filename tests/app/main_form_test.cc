#include "app/MainForm.h"

#include <gtest/gtest.h>

#include <QAbstractButton>
#include <QApplication>
#include <QDir>
#include <QFile>
#include <QFileDialog>
#include <QFileInfo>
#include <QFontInfo>
#include <QFontMetrics>
#include <QLabel>
#include <QMessageBox>
#include <QPushButton>
#include <QScreen>
#include <QSignalSpy>
#include <QStyle>
#include <QTemporaryDir>
#include <QTest>

#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "app/gradient_panel.h"
#include "app/help_viewer.h"
#include "app_test_helpers.h"

namespace tvs {
namespace {

using testing::ModalScript;
using testing::SeenFileDialog;
using testing::SeenMessageBox;

const QString kCaption = QStringLiteral("Exportar e importar datos entre Tavoleno y Sauce ");
const QString kTitle = QStringLiteral("TransVelmarSauce");
const QString kFinished = QStringLiteral("Proceso finalizado");
const QString kNoFile = QStringLiteral("No existe archivo");
constexpr char kNoIni[] = "(no file)";

// The smallest export that completes: one time frame with one interval (the
// other lists empty), so that no frame dialog is asked.
constexpr char kSmallExport[] = R"(<?xml version="1.0" encoding="UTF-8"?>
<SERVICIO><SALIDAS>
 <listasal seq="JORNADAS"><listasal>
  <salida>M</salida><salida>Mañana</salida><salida>L-V</salida>
 </listasal></listasal>
 <listasal seq="INTERVALOS"><listasal>
  <salida dato="CODIGO_SAUCE">101</salida><salida dato="NOMBRE">Primera</salida>
  <salida dato="INICIO">8:00</salida><salida dato="FIN">8:55</salida>
  <salida dato="ORDEN">1</salida><salida dato="CLAVE_JORNADA">M</salida>
 </listasal></listasal>
</SALIDAS></SERVICIO>
)";

// The same with a start time the slot builder cannot read: the run fails in
// its last builder, after the hourglass was set.
constexpr char kFailingExport[] = R"(<?xml version="1.0" encoding="UTF-8"?>
<SERVICIO><SALIDAS>
 <listasal seq="JORNADAS"><listasal><salida>M</salida></listasal></listasal>
 <listasal seq="INTERVALOS"><listasal>
  <salida dato="CODIGO_SAUCE">101</salida><salida dato="INICIO">8h</salida>
  <salida dato="FIN">8:55</salida><salida dato="ORDEN">1</salida>
  <salida dato="CLAVE_JORNADA">M</salida>
 </listasal></listasal>
</SALIDAS></SERVICIO>
)";

constexpr char kNotWellFormed[] = "<SERVICIO><SALIDAS></SERVICIO>";

std::string IniWith(const char* value) {
  return std::string("[Transformadores]\r\nTransformado=") + value + "\r\n";
}

class MainFormTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(vtemp_.isValid());
    ASSERT_TRUE(ini_dir_.isValid());
    qputenv("TRANSVELMAR_VTEMP", QFile::encodeName(vtemp_.path()));
    qputenv("TRANSVELMAR_INI_DIR", QFile::encodeName(ini_dir_.path()));
    // The dialog's folder, spelt as a user's disk may have it.
    ASSERT_TRUE(QDir(vtemp_.path()).mkdir(QStringLiteral("Sauce")));
    NumParametros = 0;  // as at the program's start
    Transformado = 0;
  }

  void TearDown() override {
    qunsetenv("TRANSVELMAR_VTEMP");
    qunsetenv("TRANSVELMAR_INI_DIR");
    EXPECT_EQ(QApplication::overrideCursor(), nullptr) << "hourglass left behind";
    while (QApplication::overrideCursor()) QApplication::restoreOverrideCursor();
  }

  QString SauceFolder() const { return vtemp_.filePath(QStringLiteral("Sauce")); }

  // Writes a document into the dialog's folder; returns its full path.
  QString WriteDocument(const QString& name, const char* content) const {
    const QString path = QDir(SauceFolder()).filePath(name);
    QFile file(path);
    EXPECT_TRUE(file.open(QIODevice::WriteOnly));
    file.write(content);
    return path;
  }

  std::string IniContent(const QString& name = QStringLiteral("Tavoleno.ini")) const {
    QFile file(ini_dir_.filePath(name));
    if (!file.open(QIODevice::ReadOnly)) return kNoIni;
    return file.readAll().toStdString();
  }

  bool WorkingTableExists(const QString& file_name) const {
    return QFileInfo::exists(vtemp_.filePath(file_name));
  }

  std::unique_ptr<TMForm> MakeForm(const QStringList& parameters) {
    auto form = std::make_unique<TMForm>(parameters);
    form->SetHelpActions(
        {[this](QWidget*, const QString& path) { help_contents_.push_back(path); },
         [this](QWidget*, const QString& path, int context) {
           help_contexts_.emplace_back(path, context);
         }});
    return form;
  }

  template <typename T>
  static T* Child(TMForm& form, const char* name) {
    T* w = form.findChild<T*>(QString::fromLatin1(name));
    EXPECT_NE(w, nullptr) << name;
    return w;
  }

  QTemporaryDir vtemp_;
  QTemporaryDir ini_dir_;
  std::vector<QString> help_contents_;
  std::vector<std::pair<QString, int>> help_contexts_;
};

void ExpectPlainBox(const SeenMessageBox& seen, const QString& text) {
  EXPECT_TRUE(seen.shown) << text.toStdString();
  EXPECT_EQ(seen.title, kTitle);
  EXPECT_EQ(seen.text, text);
  EXPECT_EQ(seen.buttons, QStringList{QStringLiteral("Aceptar")});
}

void ExpectErrorBox(const SeenMessageBox& seen) {
  EXPECT_TRUE(seen.shown);
  EXPECT_EQ(seen.title, kTitle);
  EXPECT_FALSE(seen.text.isEmpty());
  EXPECT_EQ(seen.icon, QMessageBox::Critical);
  EXPECT_EQ(seen.buttons, QStringList{QStringLiteral("Aceptar")});
}

// ---------------------------------------------------------------- layout --

TEST_F(MainFormTest, WindowFrameCaptionSizeAndFont) {
  auto form = MakeForm({});
  EXPECT_EQ(form->windowTitle(), kCaption);
  EXPECT_EQ(form->size(), QSize(632, 266));
  EXPECT_EQ(form->minimumSize(), QSize(632, 266)) << "resizable";
  EXPECT_EQ(form->maximumSize(), QSize(632, 266)) << "resizable";
  const Qt::WindowFlags flags = form->windowFlags();
  EXPECT_FALSE(flags & Qt::WindowMinimizeButtonHint);
  EXPECT_FALSE(flags & Qt::WindowMaximizeButtonHint);
  EXPECT_TRUE(flags & Qt::WindowCloseButtonHint);
  EXPECT_TRUE(flags & Qt::WindowTitleHint);
  EXPECT_FALSE(flags & Qt::FramelessWindowHint);
  EXPECT_EQ(form->font().family(), QStringLiteral("MS Sans Serif"));
  EXPECT_EQ(form->font().pointSize(), 8);
  EXPECT_EQ(MForm, form.get());
}

TEST_F(MainFormTest, PanelsPaintTheirThreeColours) {
  struct PanelCase {
    const char* name;
    QRect bounds;
    QColor start, middle, end;
  };
  const QColor sand(249, 211, 125), cream(255, 238, 221);
  const PanelCase cases[] = {
      {"PanelExportar", {1, 0, 315, 169}, sand, Qt::white, cream},
      {"PanelImportar", {316, 0, 317, 169}, sand, Qt::white, cream},
      {"PanelInferior", {0, 168, 633, 97}, {194, 205, 254}, {207, 242, 254}, {204, 216, 230}},
  };
  auto form = MakeForm({});
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    auto* panel = Child<TDraw3D>(*form, c.name);
    ASSERT_NE(panel, nullptr);
    EXPECT_EQ(panel->parentWidget(), form.get());
    EXPECT_EQ(panel->geometry(), c.bounds);
    EXPECT_EQ(panel->StartColor(), c.start);
    EXPECT_EQ(panel->MiddleColor(), c.middle);
    EXPECT_EQ(panel->EndColor(), c.end);
    // Painted: first row the start colour, the middle row the middle one, the
    // last row the end colour (column 2 holds no control on any panel).
    const QImage image = panel->grab().toImage();
    const int h = image.height();
    const std::pair<int, QColor> rows[] = {{0, c.start}, {h / 2, c.middle}, {h - 1, c.end}};
    for (const auto& [y, want] : rows) {
      const QColor got = image.pixelColor(2, y);
      EXPECT_LE(std::abs(got.red() - want.red()), 3) << "row " << y;
      EXPECT_LE(std::abs(got.green() - want.green()), 3) << "row " << y;
      EXPECT_LE(std::abs(got.blue() - want.blue()), 3) << "row " << y;
    }
  }
}

TEST_F(MainFormTest, ControlsAsLaidOut) {
  struct ControlCase {
    const char* name;
    const char* panel;
    QRect bounds;
    QString text;
    const char* family;
    int point_size;
    bool bold;
    std::optional<QColor> colour;  // labels only; none: the palette's text colour
    bool word_wrap;
  };
  const ControlCase cases[] = {
      {"LabelExportar", "PanelExportar", {24, 24, 265, 57},
       "Transformar datos desde Sauce hacia Tavoleno ", "Arial", 12, true, std::nullopt, true},
      {"BExportar", "PanelExportar", {96, 120, 89, 25}, "Aceptar", "MS Sans Serif", 8, false,
       std::nullopt, false},
      {"LabelImportar", "PanelImportar", {8, 24, 305, 57},
       "Transformar datos desde Tavoleno hacia Sauce", "Arial", 12, true, std::nullopt, true},
      {"BImportar", "PanelImportar", {96, 120, 89, 25}, "Aceptar", "MS Sans Serif", 8, false,
       std::nullopt, false},
      {"LabelVersion", "PanelInferior", {8, 72, 220, 13}, "TransTavolenoSauce para VR16 V-1.0",
       "MS Sans Serif", 8, true, QColor(Qt::red), false},
      {"BClose", "PanelInferior", {256, 32, 89, 25}, "&Salir", "MS Sans Serif", 8, false,
       std::nullopt, false},
      {"Button1", "PanelInferior", {512, 56, 75, 25}, "F1 Ayuda", "MS Sans Serif", 8, false,
       std::nullopt, false},
  };
  auto form = MakeForm({});
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    auto* w = Child<QWidget>(*form, c.name);
    ASSERT_NE(w, nullptr);
    ASSERT_NE(w->parentWidget(), nullptr);
    EXPECT_EQ(w->parentWidget()->objectName(), QString::fromLatin1(c.panel));
    EXPECT_EQ(w->geometry(), c.bounds);
    EXPECT_EQ(w->font().family(), QString::fromLatin1(c.family));
    EXPECT_EQ(w->font().pointSize(), c.point_size);
    EXPECT_EQ(w->font().bold(), c.bold);
    // Both Windows faces resolve to the metric-compatible Liberation Sans.
    EXPECT_EQ(QFontInfo(w->font()).family(), QStringLiteral("Liberation Sans"));
    if (auto* label = qobject_cast<QLabel*>(w)) {
      EXPECT_EQ(label->text(), c.text);
      EXPECT_EQ(label->wordWrap(), c.word_wrap);
      EXPECT_FALSE(label->autoFillBackground()) << "not transparent";
      EXPECT_EQ(label->alignment(), Qt::AlignLeft | Qt::AlignTop);
      EXPECT_EQ(label->palette().color(QPalette::WindowText),
                c.colour.value_or(QApplication::palette(label).color(QPalette::WindowText)));
      // The text shows whole within the bounds.
      const QFontMetrics metrics(label->font());
      if (c.word_wrap) {
        EXPECT_LE(label->heightForWidth(c.bounds.width()), c.bounds.height());
      } else {
        EXPECT_LE(metrics.horizontalAdvance(c.text), c.bounds.width());
        EXPECT_LE(metrics.height(), c.bounds.height());
      }
    } else {
      auto* button = qobject_cast<QPushButton*>(w);
      ASSERT_NE(button, nullptr);
      EXPECT_EQ(button->text(), c.text);
    }
  }
}

TEST_F(MainFormTest, ButtonsCarryTheStockGlyphs) {
  auto form = MakeForm({});
  QStyle* style = form->style();
  const auto image = [](const QIcon& icon) { return icon.pixmap(16, 16).toImage(); };
  const QImage ok = image(style->standardIcon(QStyle::SP_DialogOkButton));
  const QImage close = image(style->standardIcon(QStyle::SP_DialogCloseButton));
  ASSERT_FALSE(ok.isNull());
  ASSERT_FALSE(close.isNull());
  const std::pair<const char*, QImage> cases[] = {
      {"BExportar", ok}, {"BImportar", ok}, {"BClose", close}};
  for (const auto& [name, want] : cases) {
    auto* button = Child<QPushButton>(*form, name);
    ASSERT_NE(button, nullptr);
    EXPECT_EQ(image(button->icon()), want) << name;
  }
  EXPECT_TRUE(Child<QPushButton>(*form, "Button1")->icon().isNull());
}

TEST_F(MainFormTest, TabOrderRunsFromTheBottomStrip) {
  auto form = MakeForm({});
  QStringList chain;
  QWidget* w = form.get();
  for (int i = 0; i < 50; ++i) {
    w = w->nextInFocusChain();
    if (w == form.get()) break;
    if (w->window() == form.get() && (w->focusPolicy() & Qt::TabFocus)) chain << w->objectName();
  }
  EXPECT_EQ(chain, (QStringList{"BClose", "Button1", "BExportar", "BImportar"}));

  form->show();
  QApplication::setActiveWindow(form.get());
  ASSERT_TRUE(QTest::qWaitForWindowActive(form.get()));
  EXPECT_EQ(QApplication::focusWidget(), Child<QWidget>(*form, "BClose"));
}

TEST_F(MainFormTest, ByHandTheWindowIsCentredAndNoRunStarts) {
  ModalScript script;  // any modal window would be unexpected
  auto form = MakeForm({});
  form->show();
  const QRect screen = form->screen()->geometry();
  EXPECT_EQ(form->pos(), QPoint(screen.x() + (screen.width() - 632) / 2,
                                screen.y() + (screen.height() - 266) / 2));
  EXPECT_TRUE(form->isVisible());
  EXPECT_EQ(NumParametros, 0);
  EXPECT_EQ(Transformado, 0);
  EXPECT_TRUE(form->ArchivoXML().isEmpty());
  EXPECT_NE(CodigosCortos, nullptr);
  EXPECT_NE(CodigosLargos, nullptr);
}

// ------------------------------------------------------------------ help --

TEST_F(MainFormTest, HelpButtonOpensTheContents) {
  auto form = MakeForm({});
  form->show();
  Child<QPushButton>(*form, "Button1")->click();
  EXPECT_EQ(help_contents_, std::vector<QString>{HelpFilePath()});
  EXPECT_TRUE(help_contexts_.empty());
}

TEST_F(MainFormTest, F1OpensContextThreeFromEveryControl) {
  auto form = MakeForm({});
  form->show();
  QApplication::setActiveWindow(form.get());
  ASSERT_TRUE(QTest::qWaitForWindowActive(form.get()));
  const char* const focused[] = {"BClose", "Button1", "BExportar", "BImportar"};
  for (const char* name : focused) {
    SCOPED_TRACE(name);
    help_contexts_.clear();
    auto* w = Child<QWidget>(*form, name);
    w->setFocus();
    QTest::keyClick(w, Qt::Key_F1);
    ASSERT_EQ(help_contexts_.size(), 1u);
    EXPECT_EQ(help_contexts_[0].first, HelpFilePath());
    EXPECT_EQ(help_contexts_[0].second, 3);
  }
  EXPECT_TRUE(help_contents_.empty());
}

// ---------------------------------------------------- the file dialog ----

TEST_F(MainFormTest, FileDialogOpensInTheSauceFolderWhateverItsCase) {
  // A second folder of another case is passed over when the exact one exists.
  struct FolderCase {
    const char* label;
    QString create;       // besides "Sauce" made by SetUp; "" for none
    bool remove_sauce;
    QString expected;     // relative to the working folder; "" the folder itself
  };
  const FolderCase cases[] = {
      {"mixed case", "", false, "Sauce"},
      {"exact name wins", "sauce", false, "sauce"},
      {"upper case", "SAUCE", true, "SAUCE"},
      {"none: the working folder", "", true, ""},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.label);
    QDir working(vtemp_.path());
    if (!c.create.isEmpty()) {
      ASSERT_TRUE(working.mkdir(c.create));
    }
    if (c.remove_sauce) {
      ASSERT_TRUE(working.rmdir(QStringLiteral("Sauce")));
    }
    SeenFileDialog seen;
    SeenMessageBox missing;
    {
      ModalScript script;
      script.CancelFileDialog(&seen).AnswerMessageBox(&missing);
      auto form = MakeForm({});
      form->show();
      Child<QPushButton>(*form, "BExportar")->click();
    }
    EXPECT_TRUE(seen.shown);
    EXPECT_EQ(seen.title, QStringLiteral("Archivo XML"));
    EXPECT_EQ(seen.name_filters, QStringList{QStringLiteral("*.xml")});
    EXPECT_EQ(seen.default_suffix, QStringLiteral("xml"));
    EXPECT_EQ(seen.file_mode, QFileDialog::AnyFile);
    EXPECT_TRUE(seen.non_native);
    EXPECT_EQ(QDir(seen.directory).canonicalPath(),
              QDir(working.filePath(c.expected)).canonicalPath());
    ExpectPlainBox(missing, kNoFile);
    // Put the folders back as SetUp left them.
    if (!c.create.isEmpty()) {
      ASSERT_TRUE(working.rmdir(c.create));
    }
    if (c.remove_sauce) {
      ASSERT_TRUE(working.mkdir(QStringLiteral("Sauce")));
    }
  }
}

TEST_F(MainFormTest, TypedNameGetsTheDefaultSuffixAndAMissingOneIsReported) {
  WriteDocument(QStringLiteral("muestra.xml"), kSmallExport);
  struct TypedCase {
    QString typed;
    QString expected_file;  // in the Sauce folder
    QString message;
  };
  const TypedCase cases[] = {
      {"falta", "falta.xml", kNoFile},
      {"muestra", "muestra.xml", kFinished},
  };
  auto form = MakeForm({});
  form->show();
  for (const auto& c : cases) {
    SCOPED_TRACE(c.typed.toStdString());
    SeenMessageBox box;
    {
      ModalScript script;
      script.TypeFileName(c.typed).AnswerMessageBox(&box);
      Child<QPushButton>(*form, "BExportar")->click();
    }
    ExpectPlainBox(box, c.message);
    EXPECT_EQ(form->ArchivoXML(), QDir(SauceFolder()).filePath(c.expected_file));
  }
}

// ----------------------------------------------------------- the runs ----

TEST_F(MainFormTest, ExportByHandCompletesAndDisablesTheRunButtons) {
  const QString path = WriteDocument(QStringLiteral("muestra.xml"), kSmallExport);
  auto form = MakeForm({});
  QSignalSpy closed(form.get(), &TMForm::windowClosed);
  form->show();
  SeenMessageBox finished;
  {
    ModalScript script;
    script.TypeFileName(QStringLiteral("muestra.xml")).AnswerMessageBox(&finished);
    Child<QPushButton>(*form, "BExportar")->click();
  }
  ExpectPlainBox(finished, kFinished);
  EXPECT_TRUE(finished.cursor_restored) << "hourglass still up at \"Proceso finalizado\"";
  EXPECT_EQ(Transformado, 1);
  EXPECT_EQ(form->ArchivoXML(), path);
  EXPECT_EQ(form->MarcosElegidos(), "M");
  EXPECT_TRUE(WorkingTableExists(QStringLiteral("DIASHORAST.DBF")));
  EXPECT_FALSE(Child<QPushButton>(*form, "BExportar")->isEnabled());
  EXPECT_FALSE(Child<QPushButton>(*form, "BImportar")->isEnabled());
  EXPECT_TRUE(Child<QPushButton>(*form, "BClose")->isEnabled());
  EXPECT_TRUE(Child<QPushButton>(*form, "Button1")->isEnabled());
  EXPECT_TRUE(form->isVisible()) << "by hand the window stays open";

  Child<QPushButton>(*form, "Button1")->click();  // help still works
  EXPECT_EQ(help_contents_.size(), 1u);
  Child<QPushButton>(*form, "BClose")->click();
  EXPECT_EQ(closed.count(), 1);
  EXPECT_FALSE(form->isVisible());
  EXPECT_EQ(IniContent(), kNoIni) << "by hand nothing is written";
}

TEST_F(MainFormTest, FailingRunRestoresTheCursorAndCanBeRepeated) {
  const QString path = WriteDocument(QStringLiteral("mala.xml"), kFailingExport);
  auto form = MakeForm({});
  form->show();
  SeenMessageBox first, second;
  {
    ModalScript script;
    script.TypeFileName(QStringLiteral("mala.xml")).AnswerMessageBox(&first);
    Child<QPushButton>(*form, "BExportar")->click();
  }
  ExpectErrorBox(first);
  EXPECT_TRUE(first.text.contains(QStringLiteral("8h"))) << first.text.toStdString();
  EXPECT_TRUE(first.cursor_restored) << "hourglass still up at the error box";
  EXPECT_EQ(QApplication::overrideCursor(), nullptr);
  EXPECT_EQ(Transformado, 0);
  EXPECT_TRUE(Child<QPushButton>(*form, "BExportar")->isEnabled());
  EXPECT_TRUE(Child<QPushButton>(*form, "BImportar")->isEnabled());
  EXPECT_FALSE(WorkingTableExists(QStringLiteral("DIASHORAST.DBF"))) << "tables all or none";

  // Cancelling the dialog now repeats the run with the file chosen before.
  {
    ModalScript script;
    script.CancelFileDialog().AnswerMessageBox(&second);
    Child<QPushButton>(*form, "BExportar")->click();
  }
  ExpectErrorBox(second);
  EXPECT_EQ(second.text, first.text);
  EXPECT_EQ(form->ArchivoXML(), path);
  EXPECT_EQ(QApplication::overrideCursor(), nullptr);
}

TEST_F(MainFormTest, DocumentThatIsNotWellFormedFailsBeforeAnyTable) {
  WriteDocument(QStringLiteral("rota.xml"), kNotWellFormed);
  auto form = MakeForm({});
  form->show();
  SeenMessageBox error;
  {
    ModalScript script;
    script.TypeFileName(QStringLiteral("rota.xml")).AnswerMessageBox(&error);
    Child<QPushButton>(*form, "BExportar")->click();
  }
  ExpectErrorBox(error);
  EXPECT_TRUE(error.text.contains(QStringLiteral("rota.xml"))) << error.text.toStdString();
  EXPECT_EQ(Transformado, 0);
  EXPECT_TRUE(QDir(vtemp_.path()).entryList({"*.DBF", "*.dbf"}, QDir::Files).isEmpty());
}

// How each run ends, by hand and hosted, and what Tavoleno.ini holds after
// the window has closed. Hosted runs start from the first showing; by hand the
// test presses the button. A window that did not close itself is closed with
// "&Salir".
TEST_F(MainFormTest, RunResultTable) {
  enum class FileAction { kCancel, kTypeMissing, kTypeGood, kTypeFailing, kNone };
  enum class Outcome { kFinished, kNoFile, kError, kNoRun };
  struct RunCase {
    const char* label;
    QStringList parameters;
    const char* button;  // by hand: the run button pressed
    FileAction file;
    Outcome outcome;
    int transformado;
    bool closes_itself;
    std::string ini;
  };
  const RunCase cases[] = {
      {"by hand, cancelled", {}, "BExportar", FileAction::kCancel, Outcome::kNoFile, 0, false,
       kNoIni},
      {"by hand, typed missing", {}, "BExportar", FileAction::kTypeMissing, Outcome::kNoFile, 0,
       false, kNoIni},
      {"by hand, completed", {}, "BExportar", FileAction::kTypeGood, Outcome::kFinished, 1, false,
       kNoIni},
      {"by hand, failed", {}, "BExportar", FileAction::kTypeFailing, Outcome::kError, 0, false,
       kNoIni},
      {"by hand, import of a folder without tables fails", {}, "BImportar", FileAction::kTypeGood,
       Outcome::kError, 0, false, kNoIni},
      {"hosted, completed", {"exportar", "0"}, nullptr, FileAction::kTypeGood,
       Outcome::kFinished, 1, true, IniWith("1")},
      {"hosted, cancelled", {"exportar", "0"}, nullptr, FileAction::kCancel, Outcome::kNoFile, -1,
       true, IniWith("-1")},
      {"hosted, typed missing", {"exportar", "0"}, nullptr, FileAction::kTypeMissing,
       Outcome::kNoFile, -1, true, IniWith("-1")},
      {"hosted, failed", {"exportar", "0"}, nullptr, FileAction::kTypeFailing, Outcome::kError, 0,
       false, IniWith("0")},
      {"hosted import, cancelled", {"importar", "0"}, nullptr, FileAction::kCancel,
       Outcome::kNoFile, -1, true, IniWith("-1")},
      {"hosted import fails", {"importar", "0"}, nullptr, FileAction::kTypeGood, Outcome::kError,
       0, false, IniWith("0")},
      {"hosted, no direction", {"nada", "0"}, nullptr, FileAction::kNone, Outcome::kNoRun, 0,
       false, IniWith("0")},
  };
  WriteDocument(QStringLiteral("muestra.xml"), kSmallExport);
  WriteDocument(QStringLiteral("mala.xml"), kFailingExport);
  for (const auto& c : cases) {
    SCOPED_TRACE(c.label);
    NumParametros = 0;
    QFile::remove(ini_dir_.filePath(QStringLiteral("Tavoleno.ini")));
    QDir(vtemp_.path()).removeRecursively();
    QDir().mkpath(SauceFolder());
    WriteDocument(QStringLiteral("muestra.xml"), kSmallExport);
    WriteDocument(QStringLiteral("mala.xml"), kFailingExport);

    SeenMessageBox box;
    auto form = MakeForm(c.parameters);
    QSignalSpy closed(form.get(), &TMForm::windowClosed);
    {
      ModalScript script;
      switch (c.file) {
        case FileAction::kCancel: script.CancelFileDialog(); break;
        case FileAction::kTypeMissing: script.TypeFileName(QStringLiteral("falta.xml")); break;
        case FileAction::kTypeGood: script.TypeFileName(QStringLiteral("muestra.xml")); break;
        case FileAction::kTypeFailing: script.TypeFileName(QStringLiteral("mala.xml")); break;
        case FileAction::kNone: break;
      }
      if (c.outcome != Outcome::kNoRun) script.AnswerMessageBox(&box);
      form->show();
      if (c.button) Child<QPushButton>(*form, c.button)->click();
    }
    switch (c.outcome) {
      case Outcome::kFinished: ExpectPlainBox(box, kFinished); break;
      case Outcome::kNoFile: ExpectPlainBox(box, kNoFile); break;
      case Outcome::kError: ExpectErrorBox(box); break;
      case Outcome::kNoRun: EXPECT_FALSE(box.shown); break;
    }
    EXPECT_EQ(Transformado, c.transformado);
    const bool completed = c.outcome == Outcome::kFinished;
    EXPECT_EQ(Child<QPushButton>(*form, "BExportar")->isEnabled(), !completed);
    EXPECT_EQ(Child<QPushButton>(*form, "BImportar")->isEnabled(), !completed);
    EXPECT_EQ(closed.count(), c.closes_itself ? 1 : 0);
    EXPECT_EQ(form->isVisible(), !c.closes_itself);
    if (!c.closes_itself) {
      EXPECT_EQ(IniContent(), kNoIni) << "written before the close";
      Child<QPushButton>(*form, "BClose")->click();
      EXPECT_EQ(closed.count(), 1);
    }
    EXPECT_EQ(IniContent(), c.ini);
  }
}

// The two parameters: which mean hosted mode, which start a run, and what a
// bad window id does. Each run here is cancelled at its dialog.
TEST_F(MainFormTest, CommandLineTable) {
  struct CommandLineCase {
    const char* label;
    QStringList parameters;
    bool error_box;   // a bad window id
    bool run_starts;
    bool hosted;
  };
  const CommandLineCase cases[] = {
      {"none", {}, false, false, false},
      {"one parameter", {"exportar"}, false, false, false},
      {"three parameters", {"exportar", "0", "x"}, false, false, false},
      {"letter case ignored", {"EXPORTAR", "1A2B"}, false, true, true},
      {"import, lower-case hex", {"Importar", "1a2b"}, false, true, true},
      {"handle 0", {"exportar", "0"}, false, true, true},
      {"leading blank: no run", {" exportar", "0"}, false, false, true},
      {"trailing blank: no run", {"exportar ", "0"}, false, false, true},
      {"neither direction", {"exportarx", "0"}, false, false, true},
      // U+0130 lowers to a plain "i" in Unicode, but only A-Z count.
      {"only A-Z are lowered", {QChar(0x130) + QStringLiteral("MPORTAR"), "0"}, false, false,
       true},
      {"leading zeros", {"exportar", "00000001A2B"}, false, true, true},
      {"largest id", {"exportar", "FFFFFFFF"}, false, true, true},
      {"0x prefix", {"exportar", "0x1A2B"}, true, true, false},
      {"dollar prefix", {"exportar", "$1A2B"}, true, true, false},
      {"sign", {"exportar", "-1"}, true, true, false},
      {"blank inside", {"exportar", "1A 2B"}, true, true, false},
      {"empty id", {"exportar", ""}, true, true, false},
      {"too large", {"exportar", "100000000"}, true, true, false},
      {"bad id, no direction", {"nada", "G1"}, true, false, false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.label);
    NumParametros = 0;
    QFile::remove(ini_dir_.filePath(QStringLiteral("Tavoleno.ini")));
    SeenMessageBox error, missing;
    SeenFileDialog dialog;
    std::unique_ptr<TMForm> form;
    std::unique_ptr<QSignalSpy> closed;
    {
      ModalScript script;
      if (c.error_box) script.AnswerMessageBox(&error);
      if (c.run_starts) script.CancelFileDialog(&dialog).AnswerMessageBox(&missing);
      form = MakeForm(c.parameters);
      closed = std::make_unique<QSignalSpy>(form.get(), &TMForm::windowClosed);
      form->show();
    }
    if (c.error_box) {
      ExpectErrorBox(error);
      EXPECT_TRUE(error.text.contains(c.parameters[1])) << error.text.toStdString();
    }
    EXPECT_EQ(dialog.shown, c.run_starts);
    if (c.run_starts) ExpectPlainBox(missing, kNoFile);
    EXPECT_EQ(NumParametros, c.hosted ? 2 : 0);
    EXPECT_EQ(bool(form->windowFlags() & Qt::FramelessWindowHint), c.hosted);
    // Off X11 no window can be a parent: hosted, the window stays top-level.
    EXPECT_FALSE(form->IsEmbedded());
    const bool closes_itself = c.hosted && c.run_starts;
    EXPECT_EQ(Transformado, closes_itself ? -1 : 0);
    EXPECT_EQ(closed->count(), closes_itself ? 1 : 0);
    if (!closes_itself) form->close();
    EXPECT_EQ(IniContent(), c.hosted ? IniWith(closes_itself ? "-1" : "0") : kNoIni);
  }
}

TEST_F(MainFormTest, IniFileNamedInAnotherCaseIsTheOneWrittenAndKept) {
  const QString other = ini_dir_.filePath(QStringLiteral("TAVOLENO.INI"));
  {
    QFile file(other);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write("[Tavoleno]\r\nIdioma=ES\r\n[Transformadores]\r\nTransformado=1\r\n");
  }
  {
    ModalScript script;
    script.CancelFileDialog().AnswerMessageBox(nullptr);
    auto form = MakeForm({"exportar", "0"});
    form->show();
  }
  EXPECT_EQ(IniContent(QStringLiteral("TAVOLENO.INI")),
            "[Tavoleno]\r\nIdioma=ES\r\n[Transformadores]\r\nTransformado=-1\r\n");
  EXPECT_FALSE(QFileInfo::exists(ini_dir_.filePath(QStringLiteral("Tavoleno.ini"))));
}

TEST_F(MainFormTest, IniWriteFailureIsShownAndTheCloseGoesAhead) {
  // The result file's name taken by a folder: the write cannot replace it.
  ASSERT_TRUE(QDir(ini_dir_.path()).mkpath(QStringLiteral("Tavoleno.ini/dentro")));
  SeenMessageBox error;
  auto form = MakeForm({"nada", "0"});
  QSignalSpy closed(form.get(), &TMForm::windowClosed);
  form->show();
  {
    ModalScript script;
    script.AnswerMessageBox(&error);
    Child<QPushButton>(*form, "BClose")->click();
  }
  ExpectErrorBox(error);
  EXPECT_TRUE(error.text.contains(QStringLiteral("Tavoleno.ini"))) << error.text.toStdString();
  EXPECT_EQ(closed.count(), 1);
  EXPECT_FALSE(form->isVisible());
}

}  // namespace
}  // namespace tvs
