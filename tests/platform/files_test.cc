#include "platform/files.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "platform/error.h"

namespace tvs {
namespace {

namespace fs = std::filesystem;

class FilesTest : public ::testing::Test {
 protected:
  FilesTest() {
    std::string pattern = (fs::temp_directory_path() / "tvs-files-XXXXXX").string();
    dir_ = mkdtemp(pattern.data());
  }
  ~FilesTest() override {
    SetWriteFaultForTesting(nullptr);
    fs::remove_all(dir_);
  }

  std::string Path(const std::string& name) const { return dir_ + "/" + name; }

  void Put(const std::string& name, const std::string& bytes) const {
    std::ofstream(Path(name), std::ios::binary) << bytes;
  }

  std::string Get(const std::string& name) const {
    std::ifstream in(Path(name), std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
  }

  std::vector<std::string> Entries() const {
    std::vector<std::string> names;
    for (const auto& e : fs::directory_iterator(dir_)) names.push_back(e.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
  }

  // The message of the Error `f` throws; "" when it throws none.
  template <typename F>
  static std::string ErrorOf(F f) {
    try {
      f();
    } catch (const Error& e) {
      return e.what();
    }
    return "";
  }

  std::string dir_;
};

TEST_F(FilesTest, ExistenceTellsFilesFromFolders) {
  Put("file", "x");
  fs::create_directory(Path("folder"));
  fs::create_symlink(Path("file"), Path("link-to-file"));
  fs::create_symlink(Path("folder"), Path("link-to-folder"));
  fs::create_symlink(Path("missing"), Path("dangling"));
  struct Case {
    const char* name;
    bool file, folder;
  };
  const Case cases[] = {{"file", true, false},          {"folder", false, true},
                        {"link-to-file", true, false},  {"link-to-folder", false, true},
                        {"dangling", false, false},     {"missing", false, false}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(FileExists(Path(c.name)), c.file);
    EXPECT_EQ(FolderExists(Path(c.name)), c.folder);
  }
}

TEST_F(FilesTest, JoinPathAddsOneSeparator) {
  const std::tuple<std::string, std::string, std::string> cases[] = {
      {"/a/b", "T.DBF", "/a/b/T.DBF"}, {"/a/b/", "T.DBF", "/a/b/T.DBF"}, {"/a/b", "/T.DBF", "/a/b/T.DBF"},
      {"/", "T.DBF", "/T.DBF"},        {"rel", "x", "rel/x"},            {"", "x", "x"}};
  for (const auto& [folder, name, want] : cases) EXPECT_EQ(JoinPath(folder, name), want);
}

TEST_F(FilesTest, FindIgnoringCaseFindsAnySpellingAndPrefersTheExactOne) {
  Put("asignomt.dbf", "lower");
  Put("Proft.DBF", "mixed");
  fs::create_directory(Path("Sub"));
  const std::pair<std::string, std::string> cases[] = {
      {"ASIGNOMT.DBF", "asignomt.dbf"}, {"asignomt.dbf", "asignomt.dbf"}, {"PROFT.dbf", "Proft.DBF"},
      {"sub", "Sub"},                   {"AULAT.DBF", ""},                {"ASIGNOMT", ""},
      {"", ""}};
  for (const auto& [name, want] : cases) {
    SCOPED_TRACE(name);
    EXPECT_EQ(FindIgnoringCase(dir_, name), want.empty() ? "" : Path(want));
  }

  Put("ASIGNOMT.DBF", "upper");
  EXPECT_EQ(FindIgnoringCase(dir_, "ASIGNOMT.DBF"), Path("ASIGNOMT.DBF"));
  EXPECT_EQ(FindIgnoringCase(dir_, "asignomt.dbf"), Path("asignomt.dbf"));
  EXPECT_EQ(FindIgnoringCase(dir_, "Asignomt.Dbf"), Path("ASIGNOMT.DBF")) << "smallest spelling in byte order";
  EXPECT_EQ(FindIgnoringCase(Path("missing"), "ASIGNOMT.DBF"), "");
}

TEST_F(FilesTest, FindIgnoringCaseFoldsOnlyAsciiLetters) {
  Put("\xC3\xB1" "a.dbf", "x");  // "ña.dbf" in UTF-8
  EXPECT_EQ(FindIgnoringCase(dir_, "\xC3\xB1" "A.DBF"), Path("\xC3\xB1" "a.dbf"));
  EXPECT_EQ(FindIgnoringCase(dir_, "\xC3\x91" "A.DBF"), "") << "Ñ is not ñ for a file name";
}

TEST_F(FilesTest, WriteFileDurablyWritesAndReplaces) {
  const std::string big(3 << 20, '\x1A');
  WriteFileDurably(Path("t"), "first, longer");
  WriteFileDurably(Path("t"), "second");
  EXPECT_EQ(Get("t"), "second");
  WriteFileDurably(Path("big"), big);
  EXPECT_EQ(ReadFile(Path("big")), big);
  EXPECT_EQ(ErrorOf([&] { WriteFileDurably(Path("no/such/t"), "x"); }),
            "No se puede escribir el archivo " + Path("no/such/t") + ": no existe el archivo o la carpeta");
}

TEST_F(FilesTest, WriteFileAtomicallyReplacesWithoutLeavingTemporaries) {
  Put("T.DBF", "old");
  WriteFileAtomically(Path("T.DBF"), "new contents");
  EXPECT_EQ(Get("T.DBF"), "new contents");
  WriteFileAtomically(Path("NEW.DBF"), "");
  EXPECT_EQ(Get("NEW.DBF"), "");
  EXPECT_EQ(Entries(), (std::vector<std::string>{"NEW.DBF", "T.DBF"}));
}

TEST_F(FilesTest, WriteFileAtomicallyKeepsPermissionsOfTheReplacedFile) {
  Put("T.DBF", "old");
  chmod(Path("T.DBF").c_str(), 0640);
  WriteFileAtomically(Path("T.DBF"), "new");
  struct stat st {};
  ASSERT_EQ(stat(Path("T.DBF").c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 07777, 0640u);
}

TEST_F(FilesTest, RefusedWritesFailAsAFullDiskAndChangeNothing) {
  Put("T.DBF", "old");
  std::vector<std::string> asked;
  SetWriteFaultForTesting([&](const std::string& path) {
    asked.push_back(path);
    return path != Path("T.DBF");
  });
  const std::string full = "No queda espacio en el disco para escribir el archivo " + Path("T.DBF");
  EXPECT_EQ(ErrorOf([&] { WriteFileAtomically(Path("T.DBF"), "new"); }), full);
  EXPECT_EQ(ErrorOf([&] { WriteFileDurably(Path("T.DBF"), "new"); }), full);
  EXPECT_EQ(Get("T.DBF"), "old");
  EXPECT_EQ(Entries(), std::vector<std::string>{"T.DBF"}) << "no temporary left behind";

  WriteFileAtomically(Path("OTHER"), "fine");
  EXPECT_EQ(Get("OTHER"), "fine");
  EXPECT_EQ(asked, (std::vector<std::string>{Path("T.DBF"), Path("T.DBF"), Path("OTHER")}));

  SetWriteFaultForTesting(nullptr);
  WriteFileAtomically(Path("T.DBF"), "new");
  EXPECT_EQ(Get("T.DBF"), "new");
}

TEST_F(FilesTest, FailedRenameRemovesTheTemporary) {
  // A folder (not empty) at the target: the data is written, the rename fails.
  fs::create_directory(Path("T.DBF"));
  Put("T.DBF/inside", "x");
  const std::string message = ErrorOf([&] { WriteFileAtomically(Path("T.DBF"), "new"); });
  EXPECT_EQ(message.rfind("No se puede escribir el archivo " + Path("T.DBF") + ": ", 0), 0u) << message;
  EXPECT_EQ(Entries(), std::vector<std::string>{"T.DBF"});
  EXPECT_TRUE(FolderExists(Path("T.DBF")));
}

TEST_F(FilesTest, RenameRemoveAndReadReportTheirPaths) {
  Put("a", "bytes");
  RenameFile(Path("a"), Path("b"));
  EXPECT_EQ(Get("b"), "bytes");
  EXPECT_EQ(ErrorOf([&] { RenameFile(Path("a"), Path("c")); }),
            "No se puede cambiar el nombre de " + Path("a") + " a " + Path("c") +
                ": no existe el archivo o la carpeta");
  EXPECT_EQ(ErrorOf([&] { ReadFile(Path("a")); }),
            "No se puede leer el archivo " + Path("a") + ": no existe el archivo o la carpeta");
  EXPECT_EQ(ReadFile(Path("b")), "bytes");
  EXPECT_EQ(ErrorOf([&] { RemoveFileQuietly(Path("b")); }), "");
  EXPECT_FALSE(FileExists(Path("b")));
  EXPECT_EQ(ErrorOf([&] {
              RemoveFileQuietly(Path("b"));
              SyncFolder(dir_);
              SyncFolder(Path("missing"));
            }),
            "")
      << "quiet helpers stay quiet";
}

}  // namespace
}  // namespace tvs
