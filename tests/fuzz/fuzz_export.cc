// The export run on arbitrary XML bytes, into a scratch working folder that
// holds the tables of the example document before every run. A document the
// run refuses must leave that folder byte for byte as it was, with a message;
// one it accepts must leave exactly the eight tables, each readable, with the
// row counts the run reported, and nothing else (no staging file, no
// journal).
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <map>
#include <string>
#include <string_view>

#include "export/export_run.h"
#include "export/sauce_lists.h"
#include "export/working_tables.h"
#include "fuzz_support.h"
#include "platform/dbf.h"
#include "platform/error.h"
#include "platform/xml_document.h"

using tvs::fuzz::Broken;

namespace {

// The time-frame dialog with its first frame selected: the frame's code as
// the dialog hands it back, 10 characters.
class FirstFrameChooser : public tvs::FrameChooser {
 public:
  std::string ChooseFrames(const tvs::XmlDocument& doc, const std::string&) override {
    const tvs::XmlNodeList frames = tvs::SelectEntries(doc, "JORNADAS");
    for (size_t i = 0; i < frames.Count(); ++i) {
      const tvs::Entry frame(frames.Item(i));
      if (frame.Count() == 0) continue;
      std::string code = frame.Value(0);
      code.resize(10, ' ');
      return code;
    }
    throw tvs::Error("Ningún marco horario tiene código");
  }
};

struct Scratch {
  std::string folder;
  std::map<std::string, std::string> initial;  // the example's tables
};

Scratch& State() {
  static Scratch* state = [] {
    auto* s = new Scratch;
    s->folder = tvs::fuzz::NewScratchFolder("export");
    std::atexit([] { tvs::fuzz::RemoveFolder(State().folder); });
    FirstFrameChooser chooser;
    try {
      tvs::ExportRun(TVS_SOURCE_DIR "/examples/sauce-export.xml", s->folder, chooser);
    } catch (const tvs::Error& e) {
      Broken(std::string("the example does not export: ") + e.what());
    }
    s->initial = tvs::fuzz::Snapshot(s->folder);
    return s;
  }();
  return *state;
}

void Restore(const Scratch& s) {
  tvs::fuzz::RemoveAll(s.folder);
  for (const auto& [name, bytes] : s.initial) tvs::fuzz::WriteAll(s.folder + "/" + name, bytes);
}

void CheckCommitted(const Scratch& s, const tvs::ExportResult& result) {
  const auto after = tvs::fuzz::Snapshot(s.folder);
  if (after.size() != tvs::WorkingTableNames().size() || result.tables.size() != after.size())
    Broken("a finished export left " + std::to_string(after.size()) + " files for " +
           std::to_string(result.tables.size()) + " tables");
  for (const auto& [name, rows] : result.tables) {
    auto it = after.find(tvs::TableFileName(name));
    if (it == after.end()) Broken("a finished export did not write " + name);
    try {
      if (tvs::ParseDbf(it->second, name).RecordCount() != rows) Broken("row count of " + name + " differs");
    } catch (const tvs::Error& e) {
      Broken("a written table does not read back: " + std::string(e.what()));
    }
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  Scratch& s = State();
  tvs::XmlDocument doc;
  doc.LoadFromMemory(std::string_view(reinterpret_cast<const char*>(data), size), "fuzz.xml");
  if (!doc.WellFormed()) {
    if (doc.ParseError().empty()) Broken("a refused document without a reason");
    tvs::fuzz::CheckMessage(doc.ParseError().c_str());
    return 0;
  }
  FirstFrameChooser chooser;
  try {
    const tvs::ExportResult result = tvs::ExportDocument(doc, "fuzz.xml", s.folder, chooser);
    CheckCommitted(s, result);
    Restore(s);
  } catch (const tvs::Error& e) {
    tvs::fuzz::CheckMessage(e.what());
    if (tvs::fuzz::Snapshot(s.folder) != s.initial) Broken("a failed export changed the working folder");
  }
  return 0;
}
