#include "app/help_viewer.h"

#include <QCoreApplication>
#include <QDesktopServices>
#include <QDir>
#include <QFileInfo>
#include <QHBoxLayout>
#include <QImage>
#include <QListWidget>
#include <QPointer>
#include <QPushButton>
#include <QSplitter>
#include <QSignalBlocker>
#include <QStringDecoder>
#include <QTabWidget>
#include <QTextBrowser>
#include <QTreeWidget>
#include <QTreeWidgetItemIterator>
#include <QUrl>
#include <QVBoxLayout>
#include <QWidget>

#include <algorithm>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "app/application.h"
#include "platform/chm_reader.h"
#include "platform/error.h"

namespace tvs {
namespace {

constexpr char kHelpFileName[] = "SAUCE.chm";
// Relative to the executable's folder: <prefix>/bin -> <prefix>/share/transvelmar.
constexpr char kInstalledDataFolder[] = "../share/transvelmar";
// Pages are addressed as chm:/internal/path, so that QUrl resolves relative
// links between them the way a browser would.
constexpr char kScheme[] = "chm";
constexpr int kLocalRole = Qt::UserRole;

QString FromUtf8(const std::string& s) { return QString::fromUtf8(s.data(), qsizetype(s.size())); }

// The URL of a page named as a sitemap or the context map names it.
QUrl TopicUrl(const QString& local) {
  QString path = local;
  QString fragment;
  if (const qsizetype hash = path.indexOf(u'#'); hash >= 0) {
    fragment = path.mid(hash + 1);
    path.truncate(hash);
  }
  QUrl url;
  url.setScheme(QString::fromLatin1(kScheme));
  url.setPath(FromUtf8(NormalizeChmPath(path.toStdString())));
  if (!fragment.isEmpty()) url.setFragment(fragment);
  return url;
}

// The page's bytes as text: UTF-8 when they are valid UTF-8 (the pages of
// this program), otherwise Windows-1252 (pages from the classic compiler).
QString DecodePage(const QByteArray& bytes) {
  QStringDecoder utf8(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
  QString text = utf8.decode(bytes);
  if (!utf8.hasError()) return text;
  QStringDecoder cp1252("windows-1252");
  if (cp1252.isValid()) return cp1252.decode(bytes);
  return QString::fromLatin1(bytes);
}

// A text browser that takes its pages, style sheets and images out of the
// open help file.
class ChmBrowser : public QTextBrowser {
 public:
  explicit ChmBrowser(QWidget* parent = nullptr) : QTextBrowser(parent) {}

  void SetFile(const ChmFile* chm) { chm_ = chm; }

  QVariant loadResource(int type, const QUrl& name) override {
    const QUrl url = name.isRelative() ? source().resolved(name) : name;
    if (url.scheme() != QLatin1String(kScheme)) return QTextBrowser::loadResource(type, name);
    if (chm_ == nullptr) return {};
    const std::optional<std::string> bytes =
        chm_->Read(url.path(QUrl::FullyDecoded).toStdString());
    if (!bytes) return {};
    const QByteArray data(bytes->data(), qsizetype(bytes->size()));
    if (type == QTextDocument::ImageResource) {
      QImage image;
      image.loadFromData(data);
      return image;
    }
    return DecodePage(data);
  }

 private:
  const ChmFile* chm_ = nullptr;
};

// The help window: the contents (and the index) on the left, the page on the
// right. One instance serves the whole program and is reused.
class HelpWindow : public QWidget {
 public:
  explicit HelpWindow(QWidget* parent) : QWidget(parent, Qt::Window) {
    setWindowTitle(QStringLiteral("Ayuda de TransVelmarSauce"));
    setObjectName(QStringLiteral("HelpWindow"));
    createNavigation();
    createContents();
    createBrowser();
    createLayout();
    resize(920, 620);
  }

  const QString& FilePath() const { return file_path_; }

  // Opens `path`, replacing the file shown before. Throws Error when it
  // cannot be read; the window is then left as it was.
  void OpenFile(const QString& path) {
    auto chm = std::make_unique<ChmFile>(ChmFile::Open(path.toStdString()));
    const std::vector<TocEntry> contents = chm->TableOfContents();
    const std::vector<TocEntry> index = chm->Index();
    browser_->SetFile(chm.get());
    browser_->clearHistory();
    chm_ = std::move(chm);
    file_path_ = path;
    // The browser does not load again a page whose address it already shows,
    // and the new file may hold another page under the same address.
    reload_next_ = true;
    FillContents(contents);
    FillIndex(index);
  }

  // The topic of context number `id`; nullopt when the file maps none.
  std::optional<std::string> TopicForContext(int id) const {
    if (id < 0) return std::nullopt;
    return chm_->TopicForContext(uint32_t(id));
  }

  // The default topic, else the first page the contents name.
  void ShowStart() {
    std::string start = chm_->DefaultTopic();
    if (start.empty() || !chm_->Contains(start)) {
      start.clear();
      for (const TocEntry& e : chm_->TableOfContents()) {
        if (!e.local.empty() && chm_->Contains(e.local)) {
          start = e.local;
          break;
        }
      }
    }
    if (!start.empty()) ShowUrl(TopicUrl(FromUtf8(start)));
    tabs_->setCurrentWidget(tree_);
  }

  void ShowTopic(const std::string& internal_path) { ShowUrl(TopicUrl(FromUtf8(internal_path))); }

  void Present() {
    show();
    setWindowState(windowState() & ~Qt::WindowMinimized);
    raise();
    activateWindow();
  }

 private:
  void createNavigation() {
    back_ = new QPushButton(QStringLiteral("< Atrás"));
    forward_ = new QPushButton(QStringLiteral("Adelante >"));
    home_ = new QPushButton(QStringLiteral("Inicio"));
    back_->setEnabled(false);
    forward_->setEnabled(false);
  }

  void createContents() {
    tree_ = new QTreeWidget;
    tree_->setHeaderHidden(true);
    tree_->setColumnCount(1);
    index_ = new QListWidget;
    tabs_ = new QTabWidget;
    tabs_->addTab(tree_, QStringLiteral("Contenido"));
    tabs_->addTab(index_, QStringLiteral("Índice"));
    connect(tree_, &QTreeWidget::currentItemChanged, this,
            [this](QTreeWidgetItem* item, QTreeWidgetItem*) { ShowItem(item); });
    connect(tree_, &QTreeWidget::itemClicked, this,
            [this](QTreeWidgetItem* item, int) { ShowItem(item); });
    connect(index_, &QListWidget::itemActivated, this, [this](QListWidgetItem* item) {
      if (item != nullptr) ShowLocal(item->data(kLocalRole).toString());
    });
    connect(index_, &QListWidget::itemClicked, this, [this](QListWidgetItem* item) {
      if (item != nullptr) ShowLocal(item->data(kLocalRole).toString());
    });
  }

  void createBrowser() {
    browser_ = new ChmBrowser;
    // Links are followed here: pages inside the file by path, anything else
    // (a web address) by the desktop.
    browser_->setOpenLinks(false);
    connect(browser_, &QTextBrowser::anchorClicked, this, [this](const QUrl& link) {
      const QUrl url = link.isRelative() ? browser_->source().resolved(link) : link;
      if (url.scheme() == QLatin1String(kScheme)) ShowUrl(url);
      else QDesktopServices::openUrl(url);
    });
    connect(browser_, &QTextBrowser::sourceChanged, this, [this](const QUrl& url) { SelectItemFor(url); });
    connect(browser_, &QTextBrowser::backwardAvailable, back_, &QPushButton::setEnabled);
    connect(browser_, &QTextBrowser::forwardAvailable, forward_, &QPushButton::setEnabled);
    connect(back_, &QPushButton::clicked, browser_, &QTextBrowser::backward);
    connect(forward_, &QPushButton::clicked, browser_, &QTextBrowser::forward);
    connect(home_, &QPushButton::clicked, this, [this] {
      if (chm_) ShowStart();
    });
  }

  void createLayout() {
    auto* buttons = new QHBoxLayout;
    buttons->addWidget(back_);
    buttons->addWidget(forward_);
    buttons->addWidget(home_);
    buttons->addStretch();
    auto* page = new QWidget;
    auto* page_layout = new QVBoxLayout(page);
    page_layout->setContentsMargins(0, 0, 0, 0);
    page_layout->addLayout(buttons);
    page_layout->addWidget(browser_);
    auto* splitter = new QSplitter(Qt::Horizontal);
    splitter->addWidget(tabs_);
    splitter->addWidget(page);
    splitter->setStretchFactor(0, 0);
    splitter->setStretchFactor(1, 1);
    splitter->setSizes({270, 650});
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(splitter);
  }

  void FillContents(const std::vector<TocEntry>& entries) {
    const QSignalBlocker blocker(tree_);
    tree_->clear();
    // The last item at each depth: an entry one level deeper goes under it.
    std::vector<QTreeWidgetItem*> parents;
    for (const TocEntry& e : entries) {
      const size_t depth = std::min(size_t(e.depth), parents.size());
      parents.resize(depth);
      auto* item = depth == 0 ? new QTreeWidgetItem(tree_) : new QTreeWidgetItem(parents.back());
      item->setText(0, FromUtf8(e.title));
      item->setData(0, kLocalRole, FromUtf8(e.local));
      parents.push_back(item);
    }
    tree_->expandAll();
  }

  void FillIndex(const std::vector<TocEntry>& entries) {
    index_->clear();
    for (const TocEntry& e : entries) {
      if (e.local.empty()) continue;
      auto* item = new QListWidgetItem(FromUtf8(e.title), index_);
      item->setData(kLocalRole, FromUtf8(e.local));
    }
  }

  void ShowItem(QTreeWidgetItem* item) {
    if (item == nullptr) return;
    const QString local = item->data(0, kLocalRole).toString();
    if (local.isEmpty()) item->setExpanded(true);
    else ShowLocal(local);
  }

  void ShowLocal(const QString& local) {
    if (!local.isEmpty()) ShowUrl(TopicUrl(local));
  }

  void ShowUrl(const QUrl& url) {
    browser_->setSource(url, QTextDocument::HtmlResource);
    if (reload_next_) {
      reload_next_ = false;
      browser_->reload();
    }
  }

  // Keeps the contents in step with the page shown, however it was reached.
  void SelectItemFor(const QUrl& url) {
    const QString path = url.path(QUrl::FullyDecoded);
    for (QTreeWidgetItemIterator it(tree_); *it; ++it) {
      const QString local = (*it)->data(0, kLocalRole).toString();
      if (local.isEmpty()) continue;
      if (TopicUrl(local).path(QUrl::FullyDecoded).compare(path, Qt::CaseInsensitive) == 0) {
        const QSignalBlocker blocker(tree_);
        tree_->setCurrentItem(*it);
        tree_->scrollToItem(*it);
        return;
      }
    }
  }

  std::unique_ptr<ChmFile> chm_;
  QString file_path_;
  bool reload_next_ = false;
  QPushButton* back_ = nullptr;
  QPushButton* forward_ = nullptr;
  QPushButton* home_ = nullptr;
  QTabWidget* tabs_ = nullptr;
  QTreeWidget* tree_ = nullptr;
  QListWidget* index_ = nullptr;
  ChmBrowser* browser_ = nullptr;
};

QPointer<HelpWindow>& Instance() {
  static QPointer<HelpWindow> instance;
  return instance;
}

// The help window showing `chm_path`, created or reused; null after telling
// the user why the file cannot be shown.
HelpWindow* WindowFor(QWidget* parent, const QString& chm_path) {
  QPointer<HelpWindow>& window = Instance();
  try {
    if (window && window->FilePath() == chm_path && QFileInfo::exists(chm_path)) return window;
    // The help belongs to the program's own window: it closes with it and
    // does not keep the program alive after it.
    auto* created = window ? nullptr : new HelpWindow(parent != nullptr ? parent->window() : nullptr);
    try {
      (window ? window.data() : created)->OpenFile(chm_path);
    } catch (...) {
      delete created;
      throw;
    }
    if (created != nullptr) window = created;
    return window;
  } catch (const Error& e) {
    ShowMessage(parent, QString::fromUtf8(e.what()));
    return nullptr;
  }
}

}  // namespace

QString HelpFilePathIn(const QString& executable_folder) {
  const QDir folder(executable_folder);
  const QString beside = folder.filePath(QString::fromLatin1(kHelpFileName));
  const QString installed = QDir::cleanPath(folder.filePath(
      QString::fromLatin1(kInstalledDataFolder) + u'/' + QString::fromLatin1(kHelpFileName)));
  for (const QString& candidate : {beside, installed})
    if (QFileInfo(candidate).isFile()) return candidate;
  return beside;
}

QString HelpFilePath() { return HelpFilePathIn(QCoreApplication::applicationDirPath()); }

void ShowHelpContents(QWidget* parent, const QString& chm_path) {
  HelpWindow* window = WindowFor(parent, chm_path);
  if (window == nullptr) return;
  window->ShowStart();
  window->Present();
}

void ShowHelpContext(QWidget* parent, const QString& chm_path, int context) {
  HelpWindow* window = WindowFor(parent, chm_path);
  if (window == nullptr) return;
  const std::optional<std::string> topic = window->TopicForContext(context);
  if (!topic) {
    ShowMessage(parent, QStringLiteral("El archivo de ayuda «%1» no tiene ningún tema para el "
                                       "contexto número %2.")
                            .arg(chm_path)
                            .arg(context));
    return;
  }
  window->ShowTopic(*topic);
  window->Present();
}

}  // namespace tvs
