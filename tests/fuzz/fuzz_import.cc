// The import run on an arbitrary solution table SOLUC, beside the working
// tables of the example document (exported once at start-up, both frames
// chosen). A SOLUC the run refuses must leave no output document, with a
// message; one it accepts must give a well-formed document. The working
// tables are never changed by the import either way.
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <map>
#include <string>
#include <string_view>

#include "export/export_run.h"
#include "fuzz_support.h"
#include "import/import_run.h"
#include "platform/error.h"
#include "platform/xml_document.h"

using tvs::fuzz::Broken;

namespace {

class BothFramesChooser : public tvs::FrameChooser {
 public:
  std::string ChooseFrames(const tvs::XmlDocument&, const std::string&) override {
    return "JM01      JT01      ";
  }
};

struct Scratch {
  std::string vtemp;     // the working folder
  std::string document;  // folder of the chosen XML file and of the output
  std::string xml;
  std::map<std::string, std::string> tables;  // the working tables, SOLUC aside
};

Scratch& State() {
  static Scratch* state = [] {
    auto* s = new Scratch;
    s->vtemp = tvs::fuzz::NewScratchFolder("import-vtemp");
    s->document = tvs::fuzz::NewScratchFolder("import-doc");
    std::atexit([] {
      tvs::fuzz::RemoveFolder(State().vtemp);
      tvs::fuzz::RemoveFolder(State().document);
    });
    const std::string example = TVS_SOURCE_DIR "/examples/sauce-export.xml";
    s->xml = s->document + "/sauce-export.xml";
    tvs::fuzz::WriteAll(s->xml, tvs::fuzz::ReadAll(example));
    BothFramesChooser chooser;
    try {
      tvs::ExportRun(s->xml, s->vtemp, chooser);
    } catch (const tvs::Error& e) {
      Broken(std::string("the example does not export: ") + e.what());
    }
    s->tables = tvs::fuzz::Snapshot(s->vtemp);
    return s;
  }();
  return *state;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  Scratch& s = State();
  const std::string soluc = s.vtemp + "/SOLUC.DBF";
  tvs::fuzz::WriteAll(soluc, std::string_view(reinterpret_cast<const char*>(data), size));
  const auto documents_before = tvs::fuzz::Snapshot(s.document);
  try {
    const tvs::ImportSummary summary = tvs::ImportRun(s.xml, s.vtemp);
    tvs::XmlDocument out;
    out.Load(summary.output_path);
    if (!out.WellFormed()) Broken("the output document is not well formed: " + out.ParseError());
    if (summary.output_path.rfind(s.document + "/", 0) != 0) Broken("output written elsewhere: " + summary.output_path);
    unlink(summary.output_path.c_str());
  } catch (const tvs::Error& e) {
    tvs::fuzz::CheckMessage(e.what());
    if (tvs::fuzz::Snapshot(s.document) != documents_before) Broken("a failed import wrote a document");
  }
  unlink(soluc.c_str());
  if (tvs::fuzz::Snapshot(s.vtemp) != s.tables) Broken("the import changed the working folder");
  return 0;
}
