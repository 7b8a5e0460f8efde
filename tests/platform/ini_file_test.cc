#include "platform/ini_file.h"

#include <gtest/gtest.h>

#include <stdlib.h>
#include <filesystem>
#include <string>

#include "platform/error.h"
#include "platform/files.h"

namespace tvs {
namespace {

namespace fs = std::filesystem;

struct IniCase {
  const char* label;
  std::string before;
  std::string after;  // with section "Transformadores", key "Transformado", value "1"
};

TEST(IniFileTest, SetsTheValueAndKeepsEverythingElse) {
  const IniCase cases[] = {
      {"empty file gets section and key (CRLF)", "",
       "[Transformadores]\r\nTransformado=1\r\n"},
      {"value replaced in place, CRLF kept",
       "[Transformadores]\r\nTransformado=0\r\n",
       "[Transformadores]\r\nTransformado=1\r\n"},
      {"LF file stays LF",
       "[Transformadores]\nTransformado=-1\n",
       "[Transformadores]\nTransformado=1\n"},
      {"names match ignoring letter case, their spelling kept",
       "[TRANSFORMADORES]\r\ntransformado=0\r\n",
       "[TRANSFORMADORES]\r\ntransformado=1\r\n"},
      {"blanks around the name and '=' kept",
       "[ Transformadores ]\r\n  Transformado = 0  \r\n",
       "[ Transformadores ]\r\n  Transformado = 1\r\n"},
      {"other sections, keys, comments and blank lines untouched",
       "; Tavoleno\r\n[Rutas]\r\nDatos=C:\\VTEMP\r\n\r\n[Transformadores]\r\nOtro=5\r\n"
       "Transformado=0\r\nUltimo=x\r\n\r\n[Fin]\r\nA=1\r\n",
       "; Tavoleno\r\n[Rutas]\r\nDatos=C:\\VTEMP\r\n\r\n[Transformadores]\r\nOtro=5\r\n"
       "Transformado=1\r\nUltimo=x\r\n\r\n[Fin]\r\nA=1\r\n"},
      {"missing key added after the section's last key, before blanks and comments",
       "[Transformadores]\r\nOtro=5\r\n\r\n; siguiente\r\n[Fin]\r\nA=1\r\n",
       "[Transformadores]\r\nOtro=5\r\nTransformado=1\r\n\r\n; siguiente\r\n[Fin]\r\nA=1\r\n"},
      {"missing key in an empty section goes right after the header",
       "[Transformadores]\r\n\r\n[Fin]\r\n",
       "[Transformadores]\r\nTransformado=1\r\n\r\n[Fin]\r\n"},
      {"missing section appended at the end, in the file's line end",
       "[Rutas]\nDatos=x\n",
       "[Rutas]\nDatos=x\n[Transformadores]\nTransformado=1\n"},
      {"unterminated last line gets an end before the new section",
       "[Rutas]\r\nDatos=x",
       "[Rutas]\r\nDatos=x\r\n[Transformadores]\r\nTransformado=1\r\n"},
      {"unterminated last key line gets an end before the new key",
       "[Transformadores]\r\nOtro=5",
       "[Transformadores]\r\nOtro=5\r\nTransformado=1\r\n"},
      {"unterminated key line replaced, still unterminated",
       "[Transformadores]\r\nTransformado=0",
       "[Transformadores]\r\nTransformado=1"},
      {"only the first matching section and key change",
       "[Transformadores]\r\nTransformado=0\r\nTransformado=0\r\n[transformadores]\r\n"
       "Transformado=0\r\n",
       "[Transformadores]\r\nTransformado=1\r\nTransformado=0\r\n[transformadores]\r\n"
       "Transformado=0\r\n"},
      {"key of another section or a comment is not taken",
       "[Otra]\r\nTransformado=7\r\n[Transformadores]\r\n;Transformado=7\r\n",
       "[Otra]\r\nTransformado=7\r\n[Transformadores]\r\nTransformado=1\r\n"
       ";Transformado=7\r\n"},
      {"key with a longer name is another key",
       "[Transformadores]\r\nTransformados=0\r\n",
       "[Transformadores]\r\nTransformados=0\r\nTransformado=1\r\n"},
      {"bare key line gets its value",
       "[Transformadores]\r\nTransformado\r\n",
       "[Transformadores]\r\nTransformado=1\r\n"},
      {"value with '=' inside replaced whole",
       "[Transformadores]\r\nTransformado=a=b\r\n",
       "[Transformadores]\r\nTransformado=1\r\n"},
      {"UTF-8 byte order mark before the first header kept",
       "\xEF\xBB\xBF[Transformadores]\r\nTransformado=0\r\n",
       "\xEF\xBB\xBF[Transformadores]\r\nTransformado=1\r\n"},
      {"mixed line ends each kept; added line takes the first one",
       "[A]\nx=1\r\n[Transformadores]\r\nOtro=2\n",
       "[A]\nx=1\r\n[Transformadores]\r\nOtro=2\nTransformado=1\n"},
      {"keys before any section are not the section's",
       "Transformado=0\r\n",
       "Transformado=0\r\n[Transformadores]\r\nTransformado=1\r\n"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(SetIniValue(c.before, "Transformadores", "Transformado", "1"), c.after) << c.label;
  }
}

class IniFileOnDiskTest : public ::testing::Test {
 protected:
  void SetUp() override {
    char tmpl[] = "/tmp/ini_file_test_XXXXXX";
    ASSERT_NE(mkdtemp(tmpl), nullptr);
    dir_ = tmpl;
    path_ = dir_ + "/Tavoleno.ini";
  }
  void TearDown() override {
    SetWriteFaultForTesting(nullptr);
    fs::remove_all(dir_);
  }
  std::string dir_;
  std::string path_;
};

TEST_F(IniFileOnDiskTest, CreatesTheFileAndWritesEachResultValue) {
  const std::pair<long, const char*> cases[] = {{1, "1"}, {-1, "-1"}, {0, "0"}};
  for (const auto& [value, text] : cases) {
    WriteIniInteger(path_, "Transformadores", "Transformado", value);
    EXPECT_EQ(ReadFile(path_), std::string("[Transformadores]\r\nTransformado=") + text + "\r\n");
  }
}

TEST_F(IniFileOnDiskTest, KeepsOtherContentOfAnExistingFile) {
  const std::string before = "[Tavoleno]\r\nIdioma=ES\r\n\r\n[Transformadores]\r\nTransformado=0\r\n";
  WriteFileDurably(path_, before);
  WriteIniInteger(path_, "Transformadores", "Transformado", -1);
  EXPECT_EQ(ReadFile(path_),
            "[Tavoleno]\r\nIdioma=ES\r\n\r\n[Transformadores]\r\nTransformado=-1\r\n");
}

TEST_F(IniFileOnDiskTest, FailedWriteThrowsNamingThePathAndLeavesTheFile) {
  const std::string before = "[Transformadores]\r\nTransformado=0\r\n";
  WriteFileDurably(path_, before);
  SetWriteFaultForTesting([](const std::string&) { return false; });
  try {
    WriteIniInteger(path_, "Transformadores", "Transformado", 1);
    FAIL() << "no error";
  } catch (const Error& e) {
    EXPECT_NE(std::string(e.what()).find(dir_), std::string::npos) << e.what();
  }
  SetWriteFaultForTesting(nullptr);
  EXPECT_EQ(ReadFile(path_), before);
  // No temporary left beside it.
  size_t entries = 0;
  for ([[maybe_unused]] const auto& e : fs::directory_iterator(dir_)) ++entries;
  EXPECT_EQ(entries, 1u);
}

TEST_F(IniFileOnDiskTest, PathThatIsAFolderIsAnError) {
  fs::create_directory(path_);
  fs::create_directory(path_ + "/dentro");
  EXPECT_THROW(WriteIniInteger(path_, "Transformadores", "Transformado", 1), Error);
  EXPECT_TRUE(FolderExists(path_ + "/dentro"));
}

}  // namespace
}  // namespace tvs
