// The example document exported into a working folder, the seven tables of
// the subjects, teachers, rooms, courses, groups and assignments read back by
// an independent dBase reader (dbfread) and compared with the rows kept beside
// the example in examples/expected/.
#include <gtest/gtest.h>

#include <stdio.h>
#include <sys/wait.h>

#include <string>

#include "export/export_run.h"
#include "platform/files.h"
#include "sauce_doc_helpers.h"

namespace tvs {
namespace {

const std::string kExample = std::string(TVS_SOURCE_DIR) + "/examples/sauce-export.xml";
const std::string kExpected = std::string(TVS_SOURCE_DIR) + "/examples/expected";
const std::string kCompare = std::string(TVS_SOURCE_DIR) + "/tests/export/compare_dbf_json.py";

// Runs `command`, returning its exit status and what it printed.
std::pair<int, std::string> RunCommand(const std::string& command) {
  std::string out;
  FILE* pipe = popen((command + " 2>&1").c_str(), "r");
  if (!pipe) return {-1, "popen failed"};
  char buffer[4096];
  size_t n;
  while ((n = fread(buffer, 1, sizeof buffer, pipe)) > 0) out.append(buffer, n);
  const int status = pclose(pipe);
  return {WIFEXITED(status) ? WEXITSTATUS(status) : -1, out};
}

TEST(ExampleExport, TablesReadBackAsExpected) {
  if (!FileExists(kExample)) GTEST_SKIP() << "no example document at " << kExample;
  test::TempFolder folder;
  test::FakeChooser chooser("JM01      ");  // the morning frame
  ExportRun(kExample, folder.path(), chooser);

  const auto [status, output] =
      RunCommand("/usr/bin/python3 '" + kCompare + "' '" + folder.path() + "' '" + kExpected +
          "' ASIGNOMT ASIGNOMT2 PROFT AULAT CURSOST GRUPOST ASIGT");
  EXPECT_EQ(status, 0) << output;
}

}  // namespace
}  // namespace tvs
