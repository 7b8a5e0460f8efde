// Fixtures of the import tests: a temporary working folder, working tables
// written by our own table layer from the field lists the export uses, the
// solution table SOLUC written by an independent writer (python-dbf, as
// Tavoleno's own tables come from another program), and a reader that turns
// the output section of a saved document back into plain values, checking
// its shape on the way.
#pragma once

#include <array>
#include <map>
#include <string>
#include <string_view>
#include <vector>

#include "platform/xml_document.h"

namespace tvs::testing {

// A fresh folder under the system's temporary folder, removed with its
// content at destruction.
class TempFolder {
 public:
  TempFolder();
  ~TempFolder();
  TempFolder(const TempFolder&) = delete;
  TempFolder& operator=(const TempFolder&) = delete;

  const std::string& path() const { return path_; }
  std::string File(std::string_view name) const;

 private:
  std::string path_;
};

// Field name -> Windows-1252 text. Fields not named stay blank.
using Row = std::map<std::string, std::string>;

// Writes working table `table` (one of the eight) into `folder` under
// `file_name` (default: the table's own file name), with the export's field
// list minus the fields in `omit`.
void WriteWorkingTable(const std::string& folder, std::string_view table,
                       const std::vector<Row>& rows, const std::vector<std::string>& omit = {},
                       const std::string& file_name = "");

// One record of the solution table. Character fields hold Windows-1252
// text; number fields hold a decimal number, "" for a blank field.
struct SolucRecord {
  std::string prof, asig, codgrupo, aula, tarea;
  std::string dia = "0", hora = "0", marco;
  bool deleted = false;
};

// The solution table's layout as Tavoleno declares it, with MARCO after the
// declared fields. Types are python-dbf field specs ("C(3)", "N(10,2)").
struct SolucLayout {
  std::string dia = "N(10,2)";
  std::string hora = "N(10,2)";
  std::string marco = "C(3)";
  std::vector<std::string> omit;  // fields left out of the table
};

// Writes SOLUC with python-dbf (Windows-1252, dBase III). Records marked
// deleted are written and then deleted, so they stay in the file.
void WriteSoluc(const std::string& folder, const std::vector<SolucRecord>& records,
                const SolucLayout& layout = {}, const std::string& file_name = "SOLUC.DBF");

// Several solution tables in one run of the writer (it is slow to start).
struct SolucFile {
  std::vector<SolucRecord> records;
  SolucLayout layout;
  std::string file_name = "SOLUC.DBF";
};
void WriteSolucFiles(const std::string& folder, const std::vector<SolucFile>& files);

void WriteFile(const std::string& path, std::string_view bytes);
std::string ReadBytes(const std::string& path);
bool Exists(const std::string& path);

// A minimal Sauce document with the given SALIDAS content.
std::string SauceDocument(std::string_view salidas_content = "<listasal seq=\"MATERIAS\"/>");

// The output section read back. `error` holds the ERROR block's (dato, text)
// pairs; lesson values stand in the order X_ACTIVIDAD, N_DIASEMANA, X_TRAMO,
// X_DEPCENTRO, X_MATERIAOMC, X_UNIDAD. All text UTF-8.
struct LessonOut {
  std::string seq;
  std::array<std::string, 6> values;
};
struct TeacherOut {
  std::string seq, x_empleado, f_tomapos;
  std::vector<LessonOut> lessons;
};
struct SectionOut {
  std::vector<std::pair<std::string, std::string>> error;
  std::vector<TeacherOut> teachers;
};

// Reads a SALIDAS element written by the output, failing the current test
// (ADD_FAILURE) on anything that is not the documented shape: a stray text
// node, an extra attribute, a salida with children, a dato out of order.
SectionOut ReadSection(XmlNode section);

// Loads `path` (which must be well formed) and reads the root's last child,
// which must be the output section.
SectionOut ReadOutputFile(const std::string& path);

// Names of the root's child elements, in order.
std::vector<std::string> RootChildNames(const XmlDocument& doc);

// True when the element has no child node at all (not even an empty text).
bool HasNoChildNodes(XmlNode node);

}  // namespace tvs::testing
