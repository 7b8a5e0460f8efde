// The output section of a Sauce import document: the loaded XML file with its
// SALIDAS child replaced by an ERROR block that reports a completed service,
// then one teacher entry per PROFT record holding that teacher's lessons.
//
//   <SALIDAS>                       (last child of the root)
//     <ERROR>
//       <salida dato="CN_ERROR">0</salida>
//       <salida dato="TE_ERROR">Servicio finalizado Correctamente</salida>
//       <salida dato="REGISTROS RECUPERADOS">teacher count</salida>
//     </ERROR>
//     <listasal seq="EMP_1">
//       <salida dato="X_EMPLEADO">..</salida>
//       <salida dato="F_TOMAPOS">..</salida>
//       <listasal seq="TRAMO_1"> six salida </listasal>
//       ...
//     </listasal>
//     ...
//   </SALIDAS>
//
// Everything else of the loaded document (prolog, root name and attributes,
// the other children of the root and their order) stays as loaded.
//
// The section's content does not become nodes of the document: a district's
// timetable would take hundreds of megabytes as a tree. The output writes it
// as markup text, one piece per teacher entry, and the save splices that text
// into the written document (XmlDocument::SaveWithContent), so the saved file
// holds the tree shown above. The import run goes further: its output writes
// each teacher entry to the file as soon as the next one starts
// (StartWritingTo), so not even the text of a district is held whole.
//
// Values are handed in as the tables hold them, Windows-1252 bytes, and go
// into the document converted to Unicode and otherwise unchanged: no
// trimming; &, <, > and carriage returns are escaped as the XML writer
// escapes them, so they read back as they were. An empty value gives a salida
// with its dato and no text content. A value holding a control character that
// XML 1.0 cannot carry (bytes 0x00-0x08, 0x0B, 0x0C, 0x0E-0x1F) throws Error
// rather than produce a file no reader accepts; nothing is added then.
//
// Not thread-safe; the output works on one document owned by the caller,
// which must outlive it.
#pragma once

#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "platform/files.h"
#include "platform/xml_document.h"

namespace tvs {

// The six values of a lesson entry, Windows-1252, in the order they are
// written.
struct LessonValues {
  std::string_view x_actividad;
  std::string_view n_diasemana;
  std::string_view x_tramo;
  std::string_view x_depcentro;
  std::string_view x_materiaomc;
  std::string_view x_unidad;
};

// How the import loads the chosen document: the root's first SALIDAS child,
// which the output replaces and which holds nearly all of a Sauce export, is
// left out of the tree at load.
XmlLoadOptions OutputLoadOptions();

class SauceOutput {
 public:
  // A teacher entry, as AddTeacher returns it, to receive lessons.
  class Teacher {
   private:
    friend class SauceOutput;
    explicit Teacher(size_t index) : index_(index) {}
    size_t index_;
  };

  // Starts the output section of `doc`: removes the root's first SALIDAS
  // child with all it held (a document loaded with OutputLoadOptions() has
  // it removed already), appends a new SALIDAS as the root's last child,
  // takes the root's first SALIDAS child as the output section (the new one
  // when the document held a single SALIDAS) and writes the ERROR block with
  // `teacher_count` as "REGISTROS RECUPERADOS".
  // Throws Error naming the document when it has no root element or its root
  // has no SALIDAS child; the document is then unchanged.
  static SauceOutput Start(XmlDocument& doc, size_t teacher_count);

  // Start(), with the document written to `path` as the output grows: the
  // document up to the section's content and the ERROR block at once, then
  // each teacher entry, with its memory released, when the next teacher
  // entry is added (it then takes no more lessons), and the rest at Finish().
  // The bytes go to a temporary file that Finish() renames to `path`, so an
  // output that fails or is dropped before Finish() leaves no file there.
  // Throws Error as Start() does, and naming `path` when it cannot be
  // written; nothing is written then.
  static SauceOutput StartWritingTo(XmlDocument& doc, size_t teacher_count, const std::string& path);
  // For an output started with StartWritingTo: writes what is left and puts
  // the file in place (atomically, as XmlDocument::Save does).
  void Finish();

  // Adds the entry "EMP_<number>" with X_EMPLEADO and F_TOMAPOS after what
  // the section holds and returns it, to receive the teacher's lessons.
  Teacher AddTeacher(size_t number, std::string_view x_empleado, std::string_view f_tomapos);

  // Adds the entry "TRAMO_<number>" with its six values after what `teacher`
  // holds. REQUIRES: `teacher` was returned by this output's AddTeacher (for
  // an output writing to a file: the last one). Throws Error when it was not.
  void AddLesson(Teacher teacher, size_t number, const LessonValues& values);

  // The element whose content the output writes (after what it held).
  XmlNode section() const { return section_; }

  // For an output kept in memory (started with Start()):
  // The content written so far, as UTF-8 markup in pieces whose
  // concatenation is a well-formed fragment: the ERROR block, then each
  // teacher entry. The views stay valid until the output changes.
  std::vector<std::string_view> Markup() const;
  // The document with the section's content, as Save() writes it.
  std::string SaveToString() const;
  // Saves the document with the section's content to `path` (atomically, as
  // XmlDocument::Save does).
  void Save(const std::string& path) const;

 private:
  SauceOutput(XmlDocument& doc, XmlNode section) : doc_(&doc), section_(section) {}
  // Writes the teacher entries not yet written, for an output writing to a
  // file, and releases their text.
  void WriteOutEntries();
  void CheckInMemory() const;

  XmlDocument* doc_;
  XmlNode section_;
  std::string error_block_;
  std::vector<std::string> teachers_;  // each entry without its end tag
  // An output writing to a file: the file (declared first, so that it goes
  // last), the document's writer, and the number of entries written out.
  std::unique_ptr<AtomicFileWriter> file_;
  std::unique_ptr<XmlContentWriter> content_;
  size_t written_ = 0;
};

// Position of the first byte of a Windows-1252 text that XML 1.0 cannot
// carry (a control character other than tab, line feed and carriage return);
// std::string_view::npos when there is none.
size_t FindByteXmlCannotHold(std::string_view bytes_1252);

// Where the document chosen at `xml_path` is saved: its folder, with the final
// separator, then "ResultadoVelmar", then its file name with its extension.
// "/datos/HORARIO.XML" gives "/datos/ResultadoVelmarHORARIO.XML"; a bare
// file name gives a bare file name.
std::string SauceOutputPath(const std::string& xml_path);

// Saves the output's document to SauceOutputPath(xml_path), replacing a file
// of that name, and returns that path. The chosen file itself is never
// written. Throws Error naming the path when it cannot be written; no partial
// file is left.
std::string SaveBesideChosenFile(const SauceOutput& output, const std::string& xml_path);

}  // namespace tvs
