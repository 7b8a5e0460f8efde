// The export run: a Sauce export document in, the eight working tables out.
//
// The run loads the document (a file that is not well-formed XML, or whose
// root element is not SERVICIO, fails before any table is touched), calls the
// eight builders in their fixed order, each building its tables in memory,
// and only when all have succeeded replaces the working set in the folder:
// every table or none. A failure anywhere leaves every working table as it
// was and no staging file behind; it raises Error, whose message says what
// failed and where.
//
// The run never touches a widget: the choice of time frames, when the document
// holds two or more, is asked of a FrameChooser the caller provides (the
// window program shows the time-frame dialog, the command-line tool takes
// --marcos).
#pragma once

#include <string>
#include <utility>
#include <vector>

#include "platform/xml_document.h"

namespace tvs {

class FrameChooser {
 public:
  virtual ~FrameChooser() = default;
  // Asked only when the document holds two or more time frames. Returns the
  // chosen frames as the time-frame dialog hands them back: the code of each
  // chosen frame as exactly 10 characters (blank-filled, or cut), in the order
  // of the frame list; one or two frames. `xml_path` names the file `doc` was
  // loaded from. May throw Error to end the run.
  virtual std::string ChooseFrames(const XmlDocument& doc, const std::string& xml_path) = 0;
};

struct ExportResult {
  // Each table written, in build order, with its number of rows.
  std::vector<std::pair<std::string, size_t>> tables;
  // The chosen frames (one code, or two codes of 10 characters each).
  std::string marcos_elegidos;
};

// REQUIRES: `xml_path` names an existing file (the callers report a missing
// one themselves). Creates `working_folder` when it does not exist.
ExportResult ExportRun(const std::string& xml_path, const std::string& working_folder,
                       FrameChooser& chooser);

// The same run on a document already loaded (it must be well formed).
ExportResult ExportDocument(const XmlDocument& doc, const std::string& xml_path,
                            const std::string& working_folder, FrameChooser& chooser);

}  // namespace tvs
