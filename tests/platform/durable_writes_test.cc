// Writes of several files flushed together, and atomic writes in pieces.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "platform/error.h"
#include "platform/files.h"

namespace tvs {
namespace {

namespace fs = std::filesystem;

class DurableWritesTest : public ::testing::Test {
 protected:
  DurableWritesTest() {
    std::string pattern = (fs::temp_directory_path() / "tvs-durable-XXXXXX").string();
    dir_ = mkdtemp(pattern.data());
  }
  ~DurableWritesTest() override {
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

TEST_F(DurableWritesTest, EveryFileGetsItsPiecesInOrder) {
  Put("B", "an earlier, longer content");
  const std::string big(3 << 20, 'x');
  WriteFilesDurably({{Path("A"), {"head", "", "tail"}},
                     {Path("B"), {"new"}},
                     {Path("C"), {}},
                     {Path("D"), {big, "!"}}});
  EXPECT_EQ(Get("A"), "headtail");
  EXPECT_EQ(Get("B"), "new");
  EXPECT_EQ(Get("C"), "");
  EXPECT_EQ(Get("D"), big + "!");
  EXPECT_EQ(Entries(), (std::vector<std::string>{"A", "B", "C", "D"}));
  WriteFilesDurably({});
}

TEST_F(DurableWritesTest, AFailedFileIsNamedAndTheOthersAreLeftToTheCaller) {
  const std::string missing = Path("no/such/B");
  EXPECT_EQ(ErrorOf([&] { WriteFilesDurably({{Path("A"), {"a"}}, {missing, {"b"}}, {Path("C"), {"c"}}}); }),
            "No se puede escribir el archivo " + missing + ": no existe el archivo o la carpeta");
  EXPECT_EQ(Entries(), std::vector<std::string>{"A"});

  SetWriteFaultForTesting([&](const std::string& path) { return path != Path("C"); });
  EXPECT_EQ(ErrorOf([&] { WriteFilesDurably({{Path("B"), {"b"}}, {Path("C"), {"c"}}}); }),
            "No queda espacio en el disco para escribir el archivo " + Path("C"));
  EXPECT_FALSE(fs::exists(Path("C")));
}

TEST_F(DurableWritesTest, AtomicWriterPutsTheFileInPlaceOnlyOnCommit) {
  Put("T.XML", "old");
  {
    AtomicFileWriter writer(Path("T.XML"));
    writer.Write("<a>");
    writer.Write(std::string(200000, 'b'));  // past the writer's own buffer
    writer.Write("</a>");
    EXPECT_EQ(Get("T.XML"), "old");
    EXPECT_EQ(Entries().size(), 2u) << "the temporary beside it";
    writer.Commit();
  }
  EXPECT_EQ(Get("T.XML"), "<a>" + std::string(200000, 'b') + "</a>");
  EXPECT_EQ(Entries(), std::vector<std::string>{"T.XML"});

  {
    AtomicFileWriter abandoned(Path("T.XML"));
    abandoned.Write("half");
  }
  EXPECT_EQ(Get("T.XML"), "<a>" + std::string(200000, 'b') + "</a>");
  EXPECT_EQ(Entries(), std::vector<std::string>{"T.XML"});
}

TEST_F(DurableWritesTest, AtomicWriterFailsAsTheWholeWriteWould) {
  SetWriteFaultForTesting([](const std::string&) { return false; });
  EXPECT_EQ(ErrorOf([&] { AtomicFileWriter writer(Path("T.XML")); }),
            "No queda espacio en el disco para escribir el archivo " + Path("T.XML"));
  SetWriteFaultForTesting(nullptr);
  EXPECT_EQ(ErrorOf([&] { AtomicFileWriter writer(Path("no/T.XML")); }),
            "No se puede escribir el archivo " + Path("no/T.XML") + ": no existe el archivo o la carpeta");

  // The rename fails (a folder stands at the target): the temporary goes.
  fs::create_directory(Path("D"));
  Put("D/inside", "x");
  const std::string message = ErrorOf([&] {
    AtomicFileWriter writer(Path("D"));
    writer.Write("bytes");
    writer.Commit();
  });
  EXPECT_EQ(message.rfind("No se puede escribir el archivo " + Path("D") + ": ", 0), 0u) << message;
  EXPECT_EQ(Entries(), std::vector<std::string>{"D"});
}

}  // namespace
}  // namespace tvs
