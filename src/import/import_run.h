// The import run: Tavoleno's solution table SOLUC, with the working tables,
// back into a Sauce import document saved beside the chosen XML file.
#pragma once

#include <string>

namespace tvs {

struct ImportSummary {
  std::string output_path;     // the document written
  size_t teachers = 0;         // teacher entries written (every PROFT record)
  size_t lessons = 0;          // lesson entries written
  size_t skipped_day_zero = 0; // SOLUC records of a known teacher passed over with DIA 0
  size_t unknown_teacher = 0;  // SOLUC records whose PROF is no PROFT ABREV (not written)
};

// REQUIRES: `xml_path` names an existing file (the callers report a missing
// one themselves). Throws Error, naming the table, field or file at fault;
// nothing is written then.
ImportSummary ImportRun(const std::string& xml_path, const std::string& working_folder);

}  // namespace tvs
