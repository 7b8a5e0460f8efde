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
// Values are handed in as the tables hold them, Windows-1252 bytes, and go
// into the document converted to Unicode and otherwise unchanged: no
// trimming, escaping left to the XML writer. An empty value gives a salida
// with its dato and no text content. A value holding a control character that
// XML 1.0 cannot carry (bytes 0x00-0x08, 0x0B, 0x0C, 0x0E-0x1F) throws Error
// rather than produce a file no reader accepts.
//
// Not thread-safe; the output works on one document owned by the caller,
// which must outlive it.
#pragma once

#include <string>
#include <string_view>

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

class SauceOutput {
 public:
  // Starts the output section of `doc`: removes the root's first SALIDAS
  // child with all it held, appends a new SALIDAS as the root's last child,
  // takes the root's first SALIDAS child as the output section (the new one
  // when the document held a single SALIDAS) and appends the ERROR block with
  // `teacher_count` as "REGISTROS RECUPERADOS".
  // Throws Error naming the document when it has no root element or its root
  // has no SALIDAS child; the document is then unchanged.
  static SauceOutput Start(XmlDocument& doc, size_t teacher_count);

  // Appends the entry "EMP_<number>" with X_EMPLEADO and F_TOMAPOS to the
  // section and returns it, to receive the teacher's lessons.
  XmlNode AddTeacher(size_t number, std::string_view x_empleado, std::string_view f_tomapos);

  // Appends the entry "TRAMO_<number>" with its six values to `teacher`, an
  // entry returned by AddTeacher.
  void AddLesson(XmlNode teacher, size_t number, const LessonValues& values);

  XmlNode section() const { return section_; }

 private:
  SauceOutput(XmlDocument& doc, XmlNode section) : doc_(&doc), section_(section) {}

  // Appends <salida dato="name">value</salida> to `parent`.
  void AddSalida(XmlNode parent, std::string_view name, std::string_view value_1252);

  XmlDocument* doc_;
  XmlNode section_;
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

// Saves `doc` to SauceOutputPath(xml_path), replacing a file of that name,
// and returns that path. The chosen file itself is never written. Throws
// Error naming the path when it cannot be written; no partial file is left.
std::string SaveBesideChosenFile(const XmlDocument& doc, const std::string& xml_path);

}  // namespace tvs
