#include "app/help_viewer.h"

#include <gtest/gtest.h>

#include <QAbstractButton>
#include <QApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QMessageBox>
#include <QPushButton>
#include <QTemporaryDir>
#include <QListWidget>
#include <QTextBrowser>
#include <QTextCursor>
#include <QTimer>
#include <QTreeWidget>
#include <QTreeWidgetItemIterator>

#include <functional>
#include <regex>
#include <string>
#include <vector>

#include "platform/chm_reader.h"

namespace tvs {
namespace {

QString BuiltHelpFile() { return QStringLiteral(TVS_BINARY_DIR "/SAUCE.chm"); }

QWidget* FindHelpWindow() {
  QWidget* found = nullptr;
  int count = 0;
  for (QWidget* w : QApplication::topLevelWidgets()) {
    if (w->objectName() == QLatin1String("HelpWindow")) {
      found = w;
      ++count;
    }
  }
  EXPECT_LE(count, 1) << "the help window is not reused";
  return found;
}

QString ShownPath(QTextBrowser* browser) { return browser->source().path(QUrl::FullyDecoded); }

QTreeWidgetItem* FindItem(QTreeWidget* tree, const QString& text) {
  for (QTreeWidgetItemIterator it(tree); *it; ++it)
    if ((*it)->text(0) == text) return *it;
  return nullptr;
}

// The title the contents give to `internal_path`.
QString ContentsTitle(const ChmFile& chm, const std::string& internal_path) {
  for (const TocEntry& e : chm.TableOfContents())
    if (NormalizeChmPath(e.local) == internal_path) return QString::fromStdString(e.title);
  return {};
}

struct SeenBox {
  bool shown = false;
  QString title;
  QString text;
  QStringList buttons;
};

// Runs `action`, which may open a modal message box; answers the box with its
// first button and reports what it showed.
SeenBox AnswerMessageBox(const std::function<void()>& action) {
  SeenBox seen;
  QTimer timer;
  timer.setInterval(10);
  QObject::connect(&timer, &QTimer::timeout, [&] {
    auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
    if (box == nullptr) return;
    timer.stop();
    seen.shown = true;
    seen.title = box->windowTitle();
    seen.text = box->text();
    for (QAbstractButton* b : box->buttons()) seen.buttons << b->text();
    box->buttons().first()->click();
  });
  timer.start();
  action();
  timer.stop();
  return seen;
}

class HelpViewerTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_NE(qApp, nullptr) << "the widget tests need a QApplication";
    if (!QFileInfo::exists(BuiltHelpFile())) GTEST_SKIP() << "SAUCE.chm was not built (needs chmcmd)";
  }
  // The help window's parts, after it has been opened.
  void TakeParts() {
    window_ = FindHelpWindow();
    ASSERT_NE(window_, nullptr);
    tree_ = window_->findChild<QTreeWidget*>();
    browser_ = window_->findChild<QTextBrowser*>();
    ASSERT_NE(tree_, nullptr);
    ASSERT_NE(browser_, nullptr);
  }

  QWidget* window_ = nullptr;
  QTreeWidget* tree_ = nullptr;
  QTextBrowser* browser_ = nullptr;
};

TEST_F(HelpViewerTest, ContentsOpenTheWindowOnTheContents) {
  const ChmFile chm = ChmFile::Open(BuiltHelpFile().toStdString());
  ShowHelpContents(nullptr, BuiltHelpFile());
  TakeParts();
  EXPECT_TRUE(window_->isVisible());
  EXPECT_EQ(window_->windowTitle(), QStringLiteral("Ayuda de TransVelmarSauce"));

  // The tree holds the contents, in order and nested as the file gives them.
  const std::vector<TocEntry> toc = chm.TableOfContents();
  std::vector<TocEntry> shown;
  for (QTreeWidgetItemIterator it(tree_); *it; ++it) {
    int depth = 0;
    for (QTreeWidgetItem* p = (*it)->parent(); p != nullptr; p = p->parent()) ++depth;
    shown.push_back({(*it)->text(0).toStdString(), toc.at(shown.size()).local, depth});
  }
  EXPECT_EQ(shown, toc);

  // The page on the right is the default topic, taken out of the file.
  const std::string start = NormalizeChmPath(chm.DefaultTopic());
  EXPECT_EQ(ShownPath(browser_).toStdString(), start);
  EXPECT_EQ(browser_->documentTitle(), ContentsTitle(chm, start));
  EXPECT_TRUE(browser_->toPlainText().contains(ContentsTitle(chm, start)));

  // The page's style sheet came out of the file too: the heading has the
  // colour the sheet gives it.
  const std::string css = chm.Read("/estilo.css").value_or("");
  std::smatch m;
  ASSERT_TRUE(std::regex_search(css, m, std::regex(R"(h1\s*\{[^}]*\bcolor:\s*(#[0-9a-fA-F]{6}))")));
  QTextCursor heading(browser_->document());
  heading.movePosition(QTextCursor::NextCharacter);
  EXPECT_EQ(heading.charFormat().foreground().color(), QColor(QString::fromStdString(m[1])));

  // Asking again reuses the one window.
  ShowHelpContents(nullptr, BuiltHelpFile());
  EXPECT_EQ(FindHelpWindow(), window_);
}

TEST_F(HelpViewerTest, ContextThreeShowsTheMainWindowPage) {
  const ChmFile chm = ChmFile::Open(BuiltHelpFile().toStdString());
  ShowHelpContext(nullptr, BuiltHelpFile(), 3);
  TakeParts();
  EXPECT_TRUE(window_->isVisible());
  EXPECT_EQ(ShownPath(browser_), QStringLiteral("/ventana_principal.htm"));
  const QString title = ContentsTitle(chm, "/ventana_principal.htm");
  EXPECT_EQ(browser_->documentTitle(), title);
  ASSERT_NE(tree_->currentItem(), nullptr);
  EXPECT_EQ(tree_->currentItem()->text(0), title);
}

TEST_F(HelpViewerTest, ContentsItemsAndLinksShowTheirPages) {
  const ChmFile chm = ChmFile::Open(BuiltHelpFile().toStdString());
  ShowHelpContents(nullptr, BuiltHelpFile());
  TakeParts();

  // Choosing an entry of the contents.
  const QString tables = ContentsTitle(chm, "/tablas_trabajo.htm");
  QTreeWidgetItem* item = FindItem(tree_, tables);
  ASSERT_NE(item, nullptr);
  tree_->setCurrentItem(item);
  EXPECT_EQ(ShownPath(browser_), QStringLiteral("/tablas_trabajo.htm"));
  EXPECT_EQ(browser_->documentTitle(), tables);

  // Following a link of that page (relative, as the pages write them), then
  // going back.
  emit browser_->anchorClicked(QUrl(QStringLiteral("importar.htm")));
  EXPECT_EQ(ShownPath(browser_), QStringLiteral("/importar.htm"));
  ASSERT_NE(tree_->currentItem(), nullptr);
  EXPECT_EQ(tree_->currentItem()->text(0), ContentsTitle(chm, "/importar.htm"));
  EXPECT_TRUE(browser_->isBackwardAvailable());
  browser_->backward();
  EXPECT_EQ(ShownPath(browser_), QStringLiteral("/tablas_trabajo.htm"));

  // Choosing a keyword of the index.
  auto* index = window_->findChild<QListWidget*>();
  ASSERT_NE(index, nullptr);
  const std::vector<TocEntry> keywords = chm.Index();
  ASSERT_EQ(index->count(), int(keywords.size()));
  const int last = index->count() - 1;
  EXPECT_EQ(index->item(last)->text().toStdString(), keywords.back().title);
  emit index->itemActivated(index->item(last));
  EXPECT_EQ(ShownPath(browser_).toStdString(), NormalizeChmPath(keywords.back().local));

  // The style sheet and other files come out of the help file; a name it
  // does not hold gives nothing.
  const QVariant css = browser_->loadResource(QTextDocument::StyleSheetResource, QUrl("estilo.css"));
  EXPECT_EQ(css.toString().toStdString(), chm.Read("/estilo.css").value_or("?"));
  EXPECT_TRUE(browser_->loadResource(QTextDocument::ImageResource, QUrl("no-esta.png")).isNull());
  EXPECT_TRUE(browser_->loadResource(QTextDocument::HtmlResource, QUrl("no-esta.htm")).toString().isEmpty());
}

TEST_F(HelpViewerTest, MissingFileOrContextGivesAMessage) {
  const QString missing = QDir::temp().filePath(QStringLiteral("tvs-no-esta/SAUCE.chm"));
  struct Case {
    const char* label;
    std::function<void()> action;
    QString text;
  };
  const Case cases[] = {
      {"contents, missing file", [&] { ShowHelpContents(nullptr, missing); },
       QStringLiteral("No se encuentra el archivo de ayuda «%1»").arg(missing)},
      {"context, missing file", [&] { ShowHelpContext(nullptr, missing, 3); },
       QStringLiteral("No se encuentra el archivo de ayuda «%1»").arg(missing)},
      {"context the file does not map", [&] { ShowHelpContext(nullptr, BuiltHelpFile(), 999); },
       QStringLiteral("El archivo de ayuda «%1» no tiene ningún tema para el contexto número 999.")
           .arg(BuiltHelpFile())},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.label);
    if (QWidget* w = FindHelpWindow()) w->hide();
    const SeenBox seen = AnswerMessageBox(c.action);
    ASSERT_TRUE(seen.shown);
    EXPECT_EQ(seen.text, c.text);
    EXPECT_EQ(seen.title, QApplication::applicationDisplayName());
    EXPECT_EQ(seen.buttons, QStringList{QStringLiteral("Aceptar")});
    // Nothing else: no help window comes up.
    if (QWidget* w = FindHelpWindow()) {
      EXPECT_FALSE(w->isVisible());
    }
  }
}

TEST(HelpFilePathTest, BesideTheProgramThenTheInstalledDataFolder) {
  QTemporaryDir prefix;
  ASSERT_TRUE(prefix.isValid());
  const QDir root(prefix.path());
  ASSERT_TRUE(root.mkpath(QStringLiteral("bin")));
  const QString bin = root.filePath(QStringLiteral("bin"));
  const QString beside = root.filePath(QStringLiteral("bin/SAUCE.chm"));
  const QString installed = root.filePath(QStringLiteral("share/transvelmar/SAUCE.chm"));
  auto touch = [](const QString& path) {
    QDir().mkpath(QFileInfo(path).path());
    QFile f(path);
    return f.open(QIODevice::WriteOnly);
  };

  EXPECT_EQ(HelpFilePathIn(bin), beside) << "neither exists: the path beside the program";
  ASSERT_TRUE(touch(installed));
  EXPECT_EQ(HelpFilePathIn(bin), installed);
  ASSERT_TRUE(touch(beside));
  EXPECT_EQ(HelpFilePathIn(bin), beside);
  EXPECT_EQ(HelpFilePath(), HelpFilePathIn(QCoreApplication::applicationDirPath()));
}

}  // namespace
}  // namespace tvs
