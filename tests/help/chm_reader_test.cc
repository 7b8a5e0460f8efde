#include "platform/chm_reader.h"

#include <gtest/gtest.h>
#include <stdlib.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <regex>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "platform/error.h"

namespace tvs {
namespace {

namespace fs = std::filesystem;

// ---------------------------------------------------------------------------
// Sitemap parsing and path normalising, on inline text.

TEST(ParseSitemapTest, NestedListsGiveDepths) {
  const std::string html = R"(<HTML><BODY>
<OBJECT type="text/site properties"><param name="Window Styles" value="0x800025"></OBJECT>
<UL>
  <LI><OBJECT type="text/sitemap"><param name="Name" value="Uno"><param name="Local" value="uno.htm"></OBJECT>
  <UL>
    <LI><OBJECT type="text/sitemap"><param name="Name" value="Uno.a"><param name="Local" value="sub/a.htm"></OBJECT>
    <UL><LI><OBJECT type="text/sitemap"><param name="Name" value="Hondo"><param name="Local" value="h.htm"></OBJECT></UL>
  </UL>
  <LI><OBJECT type="text/sitemap"><param name="Name" value="Dos"><param name="Local" value="dos.htm#parte"></OBJECT>
</UL></BODY></HTML>)";
  const std::vector<TocEntry> want = {
      {"Uno", "uno.htm", 0}, {"Uno.a", "sub/a.htm", 1}, {"Hondo", "h.htm", 2}, {"Dos", "dos.htm#parte", 0}};
  EXPECT_EQ(ParseSitemap(html), want);
}

TEST(ParseSitemapTest, OneEntryPerObject) {
  struct Case {
    const char* label;
    std::string html;
    std::vector<TocEntry> want;
  };
  const Case cases[] = {
      {"lower-case tags, single quotes, unquoted values",
       "<ul><li><object type='text/sitemap'><param name=name value='Á b'><param name=local value=x.htm></object></ul>",
       {{"Á b", "x.htm", 0}}},
      {"character references decoded",
       R"(<UL><LI><OBJECT type="text/sitemap"><param name="Name" value="Qu&eacute; &amp; c&#243;mo &#x00F1; &laquo;x&raquo;"><param name="Local" value="a.htm"></OBJECT></UL>)",
       {{"Qué & cómo ñ «x»", "a.htm", 0}}},
      {"unknown references kept as written",
       R"(<UL><LI><OBJECT type="text/sitemap"><param name="Name" value="A &bogus; B & C"><param name="Local" value="a.htm"></OBJECT></UL>)",
       {{"A &bogus; B & C", "a.htm", 0}}},
      {"Windows-1252 text when not UTF-8",
       "<UL><LI><OBJECT type=\"text/sitemap\"><param name=\"Name\" value=\"Ma\xF1" "ana \x80\"><param name=\"Local\" value=\"m.htm\"></OBJECT></UL>",
       {{"Mañana €", "m.htm", 0}}},
      {"a heading without Local is kept",
       R"(<UL><LI><OBJECT type="text/sitemap"><param name="Name" value="Capítulo"></OBJECT><UL><LI><OBJECT type="text/sitemap"><param name="Name" value="P"><param name="Local" value="p.htm"></OBJECT></UL></UL>)",
       {{"Capítulo", "", 0}, {"P", "p.htm", 1}}},
      {"first Name and Local win; other params ignored",
       R"(<UL><LI><OBJECT type="text/sitemap"><param name="Name" value="Uno"><param name="Name" value="Otro"><param name="ImageNumber" value="11"><param name="Local" value="1.htm"><param name="Local" value="2.htm"></OBJECT></UL>)",
       {{"Uno", "1.htm", 0}}},
      {"comments, other objects and stray closing lists",
       R"(</UL></UL><!-- <OBJECT type="text/sitemap"><param name="Name" value="Comentado"></OBJECT> --><OBJECT type="text/site properties"><param name="Name" value="Propiedades"></OBJECT><UL><LI><OBJECT type="text/sitemap"><param name="Name" value="Real"><param name="Local" value="r.htm"></OBJECT></UL>)",
       {{"Real", "r.htm", 0}}},
      {"an object without parameters gives nothing", R"(<UL><OBJECT type="text/sitemap"></OBJECT></UL>)", {}},
      {"truncated input does not run past the end", R"(<UL><LI><OBJECT type="text/sitemap"><param name="Name" value="Cort)", {}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.label);
    EXPECT_EQ(ParseSitemap(c.html), c.want);
  }
}

TEST(NormalizeChmPathTest, Cases) {
  const std::pair<std::string, std::string> cases[] = {
      {"a.htm", "/a.htm"},
      {"/a.htm", "/a.htm"},
      {"sub/./b.htm", "/sub/b.htm"},
      {"sub/x/../b.htm", "/sub/b.htm"},
      {"../../a.htm", "/a.htm"},
      {"sub\\b.htm", "/sub/b.htm"},
      {"a.htm#seccion", "/a.htm"},
      {"ms-its:SAUCE.chm::/sub/b.htm", "/sub/b.htm"},
      {"mk:@MSITStore:C:\\ayuda\\SAUCE.chm::/a.htm#x", "/a.htm"},
      {"//a.htm", "/a.htm"},
      {"", "/"},
  };
  for (const auto& [in, want] : cases) {
    SCOPED_TRACE(in);
    EXPECT_EQ(NormalizeChmPath(in), want);
  }
}

// ---------------------------------------------------------------------------
// Opening files that are not help files.

class TempFolder {
 public:
  TempFolder() {
    std::string pattern = (fs::temp_directory_path() / "tvs-chm-XXXXXX").string();
    if (mkdtemp(pattern.data()) == nullptr) throw std::runtime_error("mkdtemp failed");
    path_ = pattern;
  }
  ~TempFolder() {
    std::error_code ec;
    fs::remove_all(path_, ec);
  }
  const fs::path& path() const { return path_; }

  void Write(const std::string& name, const std::string& bytes) const {
    const fs::path p = path_ / name;
    fs::create_directories(p.parent_path());
    std::ofstream(p, std::ios::binary) << bytes;
  }

 private:
  fs::path path_;
};

TEST(ChmFileTest, OpenFailuresNameTheFile) {
  TempFolder dir;
  dir.Write("texto.chm", "esto no es un archivo de ayuda compilado\n");
  const std::string cases[] = {(dir.path() / "no-esta.chm").string(), (dir.path() / "texto.chm").string(),
                               dir.path().string()};
  for (const std::string& path : cases) {
    SCOPED_TRACE(path);
    try {
      ChmFile::Open(path);
      ADD_FAILURE() << "opened";
    } catch (const Error& e) {
      EXPECT_NE(std::string(e.what()).find("«" + path + "»"), std::string::npos) << e.what();
    }
  }
}

// ---------------------------------------------------------------------------
// A tiny help project compiled with chmcmd here and now.

std::string FindChmcmd() {
  const char* path_env = std::getenv("PATH");
  std::stringstream dirs(path_env ? path_env : "");
  std::string dir;
  while (std::getline(dirs, dir, ':')) {
    const fs::path candidate = fs::path(dir.empty() ? "." : dir) / "chmcmd";
    std::error_code ec;
    if (fs::is_regular_file(candidate, ec)) return candidate.string();
  }
  return {};
}

// A page at the top, a page in a folder, a second file named like the folder
// page at the top (so that resolving a stored path must take the longest tail
// that exists), an image, a contents file and a context map.
const char kTopPage[] = "<html><head><meta charset=\"utf-8\"><title>Principal</title></head>"
                        "<body><p>Página principal</p><a href=\"sub/b.htm\">B</a></body></html>\n";
const char kSubPage[] = "<html><head><title>B</title></head><body>Dentro de sub "
                        "<img src=\"../logo.png\"><a href=\"../principal.htm\">volver</a></body></html>\n";
const char kDecoyPage[] = "<html><body>La b de arriba</body></html>\n";
const std::string kImage = std::string("\x89PNG\r\n\x1a\n\0\0\0\rIHDR", 16) + "not really";

const char kContents[] = R"(<HTML><BODY><UL>
<LI><OBJECT type="text/sitemap"><param name="Name" value="Página principal"><param name="Local" value="principal.htm"></OBJECT>
<UL><LI><OBJECT type="text/sitemap"><param name="Name" value="La página B"><param name="Local" value="sub/b.htm"></OBJECT></UL>
<LI><OBJECT type="text/sitemap"><param name="Name" value="Arriba"><param name="Local" value="b.htm"></OBJECT>
</UL></BODY></HTML>
)";

const char kProject[] = R"([OPTIONS]
Compiled file=prueba.chm
Contents file=contenido.hhc
Default topic=principal.htm
Title=Ayuda de prueba

[FILES]
principal.htm
sub/b.htm
b.htm
logo.png

[ALIAS]
IDH_PRINCIPAL=principal.htm
IDH_B=sub/b.htm
IDH_ARRIBA=b.htm

[MAP]
#define IDH_PRINCIPAL 3
#define IDH_B 1007
#define IDH_ARRIBA 70000
)";

class CompiledFixtureTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    const std::string chmcmd = FindChmcmd();
    if (chmcmd.empty()) return;
    dir_ = new TempFolder();
    dir_->Write("principal.htm", kTopPage);
    dir_->Write("sub/b.htm", kSubPage);
    dir_->Write("b.htm", kDecoyPage);
    dir_->Write("logo.png", kImage);
    dir_->Write("contenido.hhc", kContents);
    dir_->Write("prueba.hhp", kProject);
    const std::string command = "cd '" + dir_->path().string() + "' && '" + chmcmd +
                                "' prueba.hhp > chmcmd.log 2>&1";
    if (std::system(command.c_str()) != 0 || !fs::exists(dir_->path() / "prueba.chm")) {
      std::ifstream log(dir_->path() / "chmcmd.log");
      std::stringstream text;
      text << log.rdbuf();
      compile_log_ = new std::string(text.str());
    }
  }
  static void TearDownTestSuite() {
    delete dir_;
    dir_ = nullptr;
    delete compile_log_;
    compile_log_ = nullptr;
  }
  void SetUp() override {
    if (dir_ == nullptr) GTEST_SKIP() << "chmcmd (fp-utils) is not installed";
    ASSERT_EQ(compile_log_, nullptr) << "chmcmd failed:\n" << *compile_log_;
  }
  std::string ChmPath() const { return (dir_->path() / "prueba.chm").string(); }

  static TempFolder* dir_;
  static std::string* compile_log_;
};

TempFolder* CompiledFixtureTest::dir_ = nullptr;
std::string* CompiledFixtureTest::compile_log_ = nullptr;

TEST_F(CompiledFixtureTest, TableOfContentsAndHeader) {
  const ChmFile chm = ChmFile::Open(ChmPath());
  EXPECT_EQ(chm.path(), ChmPath());
  EXPECT_EQ(chm.ContentsFile(), "/contenido.hhc");
  EXPECT_EQ(chm.IndexFile(), "");
  EXPECT_EQ(chm.DefaultTopic(), "principal.htm");
  EXPECT_EQ(chm.Title(), "Ayuda de prueba");
  const std::vector<TocEntry> want = {
      {"Página principal", "principal.htm", 0}, {"La página B", "sub/b.htm", 1}, {"Arriba", "b.htm", 0}};
  EXPECT_EQ(chm.TableOfContents(), want);
  EXPECT_TRUE(chm.Index().empty());
}

TEST_F(CompiledFixtureTest, ContextNumbersResolveToTheirTopics) {
  const ChmFile chm = ChmFile::Open(ChmPath());
  const std::pair<uint32_t, std::optional<std::string>> cases[] = {
      {3, "/principal.htm"}, {1007, "/sub/b.htm"}, {70000, "/b.htm"}, {4, std::nullopt}, {0, std::nullopt}};
  for (const auto& [id, want] : cases) {
    SCOPED_TRACE(id);
    EXPECT_EQ(chm.TopicForContext(id), want);
  }
  // The compiler stored absolute source paths; the map still lists all three.
  const auto map = chm.ContextMap();
  ASSERT_EQ(map.size(), 3u);
  for (const auto& [id, stored] : map) {
    SCOPED_TRACE(id);
    EXPECT_EQ(stored.front(), '/');
  }
}

TEST_F(CompiledFixtureTest, StoredPathsResolveToTheLongestTailPresent) {
  const ChmFile chm = ChmFile::Open(ChmPath());
  const std::pair<std::string, std::optional<std::string>> cases[] = {
      {"/build/help/sub/b.htm", "/sub/b.htm"},
      {"/build/help/b.htm", "/b.htm"},
      {"sub/b.htm", "/sub/b.htm"},
      {"C:\\proyecto\\ayuda\\sub\\b.htm", "/sub/b.htm"},
      {"/build/help/otra/b.htm", "/b.htm"},
      {"/build/help/nada.htm", std::nullopt},
      {"", std::nullopt},
  };
  for (const auto& [stored, want] : cases) {
    SCOPED_TRACE(stored);
    EXPECT_EQ(chm.ResolveStoredPath(stored), want);
  }
}

TEST_F(CompiledFixtureTest, ReadsFilesByteForByte) {
  const ChmFile chm = ChmFile::Open(ChmPath());
  const std::pair<std::string, std::optional<std::string>> cases[] = {
      {"/principal.htm", kTopPage},
      {"principal.htm", kTopPage},
      {"/sub/../sub/b.htm", kSubPage},
      {"/SUB/B.HTM", kSubPage},  // chmlib ignores letter case
      {"/logo.png", kImage},
      {"/b.htm", kDecoyPage},
      {"/no-esta.htm", std::nullopt},
      {"/sub/", std::nullopt},
      {"/", std::nullopt},
  };
  for (const auto& [path, want] : cases) {
    SCOPED_TRACE(path);
    EXPECT_EQ(chm.Read(path), want);
    EXPECT_EQ(chm.Contains(path), want.has_value());
  }
}

TEST_F(CompiledFixtureTest, ListsOrdinaryFilesOnly) {
  const ChmFile chm = ChmFile::Open(ChmPath());
  const std::vector<std::string> files = chm.ListFiles();
  const std::set<std::string> got(files.begin(), files.end());
  const std::set<std::string> want = {"/principal.htm", "/sub/b.htm", "/b.htm", "/logo.png", "/contenido.hhc"};
  EXPECT_EQ(got, want);
}

TEST_F(CompiledFixtureTest, MovedFileKeepsWorking) {
  ChmFile first = ChmFile::Open(ChmPath());
  ChmFile second = std::move(first);
  EXPECT_EQ(second.TopicForContext(3), "/principal.htm");
  ChmFile third = ChmFile::Open(ChmPath());
  third = std::move(second);
  EXPECT_EQ(third.Read("/b.htm"), kDecoyPage);
}

// ---------------------------------------------------------------------------
// The program's own help file, as the build compiled it.

std::string Slurp(const fs::path& p) {
  std::ifstream in(p, std::ios::binary);
  std::stringstream s;
  s << in.rdbuf();
  return s.str();
}

class ProgramHelpTest : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!fs::exists(ChmPath())) {
      if (FindChmcmd().empty()) GTEST_SKIP() << "chmcmd (fp-utils) is not installed";
      FAIL() << ChmPath() << " was not built (target sauce_chm)";
    }
  }
  static std::string ChmPath() { return std::string(TVS_BINARY_DIR) + "/SAUCE.chm"; }
  static std::vector<std::string> SourcePages() {
    std::vector<std::string> pages;
    for (const auto& e : fs::directory_iterator(fs::path(TVS_SOURCE_DIR) / "help"))
      if (e.path().extension() == ".htm") pages.push_back(e.path().filename().string());
    std::sort(pages.begin(), pages.end());
    return pages;
  }
};

TEST_F(ProgramHelpTest, ContentsListEveryPage) {
  const ChmFile chm = ChmFile::Open(ChmPath());
  const std::vector<std::string> pages = SourcePages();
  ASSERT_FALSE(pages.empty());
  std::set<std::string> listed;
  for (const TocEntry& e : chm.TableOfContents()) listed.insert(NormalizeChmPath(e.local));
  for (const std::string& page : pages) {
    SCOPED_TRACE(page);
    EXPECT_TRUE(listed.count("/" + page)) << "not in the table of contents";
    EXPECT_EQ(chm.Read("/" + page), Slurp(fs::path(TVS_SOURCE_DIR) / "help" / page)) << "stale or missing";
  }
}

TEST_F(ProgramHelpTest, ContextThreeIsTheMainWindowPage) {
  const ChmFile chm = ChmFile::Open(ChmPath());
  EXPECT_EQ(chm.TopicForContext(3), "/ventana_principal.htm");
  EXPECT_EQ(chm.Title(), "Ayuda de TransVelmarSauce");
  EXPECT_TRUE(chm.Contains(chm.DefaultTopic())) << chm.DefaultTopic();
}

// Every page a sitemap names, and every page, style sheet or image a page
// links to, is in the file; and each contents title is its page's title.
TEST_F(ProgramHelpTest, EveryLinkResolves) {
  const ChmFile chm = ChmFile::Open(ChmPath());
  std::vector<TocEntry> entries = chm.TableOfContents();
  const std::vector<TocEntry> index = chm.Index();
  EXPECT_FALSE(index.empty());
  entries.insert(entries.end(), index.begin(), index.end());
  for (const TocEntry& e : entries) {
    SCOPED_TRACE(e.title);
    EXPECT_TRUE(chm.Contains(e.local)) << e.local;
  }
  const std::regex link(R"re((?:href|src)\s*=\s*"([^"]*)")re", std::regex::icase);
  const std::regex title(R"(<title>([^<]*)</title>)", std::regex::icase);
  std::map<std::string, std::string> titles;
  for (const std::string& page : SourcePages()) {
    SCOPED_TRACE(page);
    const std::string html = chm.Read("/" + page).value_or("");
    EXPECT_NE(html.find("<meta charset=\"utf-8\">"), std::string::npos);
    // The text browser loads a linked sheet only when its type is given.
    EXPECT_NE(html.find(R"(<link rel="stylesheet" type="text/css" href="estilo.css">)"), std::string::npos);
    std::smatch m;
    if (std::regex_search(html, m, title)) titles["/" + page] = m[1];
    for (auto it = std::sregex_iterator(html.begin(), html.end(), link); it != std::sregex_iterator(); ++it) {
      const std::string target = (*it)[1];
      if (target.find("://") != std::string::npos || target.rfind("mailto:", 0) == 0) continue;
      if (target.empty() || target[0] == '#') continue;
      EXPECT_TRUE(chm.Contains(target)) << "broken link " << target;
    }
  }
  for (const TocEntry& e : chm.TableOfContents()) {
    SCOPED_TRACE(e.local);
    EXPECT_EQ(titles[NormalizeChmPath(e.local)], e.title);
  }
}

}  // namespace
}  // namespace tvs
