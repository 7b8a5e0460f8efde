#include "export/working_set.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <map>
#include <string>
#include <vector>

#include "platform/dbf.h"
#include "platform/error.h"
#include "platform/files.h"

namespace tvs {
namespace {

namespace fs = std::filesystem;

DbfTable OneRow(const std::string& name, const std::string& value) {
  DbfTable t(name, {CharField("COD", 10)});
  t.Append();
  t.SetText("COD", value);
  return t;
}

class WorkingSetTest : public ::testing::Test {
 protected:
  WorkingSetTest() {
    std::string pattern = (fs::temp_directory_path() / "tvs-set-XXXXXX").string();
    dir_ = mkdtemp(pattern.data());
  }
  ~WorkingSetTest() override {
    SetWriteFaultForTesting(nullptr);
    fs::remove_all(dir_);
  }

  void Put(const std::string& name, const std::string& bytes) const {
    std::ofstream(dir_ + "/" + name, std::ios::binary) << bytes;
  }

  // Every file of the folder with its bytes.
  std::map<std::string, std::string> Snapshot() const {
    std::map<std::string, std::string> files;
    for (const auto& e : fs::directory_iterator(dir_)) files[e.path().filename()] = ReadFile(e.path());
    return files;
  }

  void Commit(const std::vector<DbfTable>& tables) const {
    std::vector<const DbfTable*> ptrs;
    for (const auto& t : tables) ptrs.push_back(&t);
    CommitWorkingSet(dir_, ptrs);
  }

  std::string dir_;
};

TEST_F(WorkingSetTest, ReplacesTablesAndRemovesStaleIndexAndCaseVariants) {
  Put("ASIGNOMT.MDX", "old index");
  Put("asignomt.dbf", "old table under another letter case");
  Put("PROFT.DBF", "old");
  Put("OTHER.TXT", "not ours");
  const std::vector<DbfTable> tables = {OneRow("ASIGNOMT", "MAT"), OneRow("PROFT", "JPG")};
  Commit(tables);

  const auto files = Snapshot();
  EXPECT_EQ(files.size(), 3u);
  EXPECT_EQ(files.at("ASIGNOMT.DBF"), EncodeDbf(tables[0]));
  EXPECT_EQ(files.at("PROFT.DBF"), EncodeDbf(tables[1]));
  EXPECT_EQ(files.at("OTHER.TXT"), "not ours");
}

TEST_F(WorkingSetTest, CreatesAMissingFolder) {
  dir_ += "/a/b/VTEMP";
  Commit({OneRow("PROFT", "JPG")});
  EXPECT_TRUE(FileExists(dir_ + "/PROFT.DBF"));
}

TEST_F(WorkingSetTest, AFailedWriteLeavesTheOldSetAndNoStagingFile) {
  Put("ASIGNOMT.DBF", "old 1");
  Put("PROFT.DBF", "old 2");
  const auto before = Snapshot();
  int writes = 0;
  // The second table's staging file fails, as on a full disk.
  SetWriteFaultForTesting([&](const std::string&) { return ++writes < 2; });
  EXPECT_THROW(Commit({OneRow("ASIGNOMT", "MAT"), OneRow("PROFT", "JPG")}), Error);
  SetWriteFaultForTesting(nullptr);
  EXPECT_EQ(Snapshot(), before);
}

TEST_F(WorkingSetTest, ATableHeldByAnotherProgramFailsTheCommitAndChangesNothing) {
  Put("ASIGNOMT.DBF", EncodeDbf(OneRow("ASIGNOMT", "OLD")));
  Put("PROFT.DBF", EncodeDbf(OneRow("PROFT", "OLD")));
  const auto before = Snapshot();
  const OpenDbf held = OpenDbf::Open(dir_ + "/PROFT.DBF", OpenMode::kShared, "PROFT");
  try {
    Commit({OneRow("ASIGNOMT", "MAT"), OneRow("PROFT", "JPG")});
    FAIL() << "the commit should fail";
  } catch (const Error& e) {
    EXPECT_NE(std::string(e.what()).find("PROFT"), std::string::npos) << e.what();
    EXPECT_NE(std::string(e.what()).find("en uso"), std::string::npos) << e.what();
  }
  EXPECT_EQ(Snapshot(), before);
}

TEST_F(WorkingSetTest, RecoveryCompletesACommitWhoseJournalIsWhole) {
  Put("ASIGNOMT.DBF", "new, already renamed");
  Put(std::string(".PROFT.DBF") + kStagingSuffix, "new, not yet renamed");
  Put("PROFT.DBF", "old");
  Put(kJournalName, std::string(".ASIGNOMT.DBF") + kStagingSuffix + "\tASIGNOMT.DBF\n" +
                        ".PROFT.DBF" + kStagingSuffix + "\tPROFT.DBF\nEND\n");
  RecoverWorkingSet(dir_);
  const std::map<std::string, std::string> want = {{"ASIGNOMT.DBF", "new, already renamed"},
                                                    {"PROFT.DBF", "new, not yet renamed"}};
  EXPECT_EQ(Snapshot(), want);
}

TEST_F(WorkingSetTest, RecoveryDiscardsStagingFilesWithoutAWholeJournal) {
  Put("PROFT.DBF", "old");
  Put(std::string(".PROFT.DBF") + kStagingSuffix, "new");
  Put(std::string(".") + kJournalName + ".tmp-123-1", "half a journal");
  Put(kJournalName, std::string(".PROFT.DBF") + kStagingSuffix + "\tPROFT.DBF\n");  // no END
  RecoverWorkingSet(dir_);
  const std::map<std::string, std::string> want = {{"PROFT.DBF", "old"}};
  EXPECT_EQ(Snapshot(), want);
}

}  // namespace
}  // namespace tvs
