#include "import/sauce_output.h"

#include <cstdio>
#include <string>
#include <utility>

#include "platform/codepage.h"
#include "platform/error.h"

namespace tvs {
namespace {

constexpr std::string_view kSection = "SALIDAS";
constexpr std::string_view kOutputPrefix = "ResultadoVelmar";

// The end tag of a listasal entry.
constexpr std::string_view kEntryEnd = "</listasal>";

std::string ByteHex(unsigned char byte) {
  char text[8];
  std::snprintf(text, sizeof text, "0x%02X", byte);
  return text;
}

// Throws the error for a value that a document cannot carry.
void CheckValue(std::string_view name, std::string_view value_1252) {
  const size_t bad = FindByteXmlCannotHold(value_1252);
  if (bad != std::string_view::npos) {
    throw Error("El valor " + std::string(name) + " \"" +
                FromWindows1252(value_1252.substr(0, bad)) + "...\" lleva el carácter de control " +
                ByteHex(static_cast<unsigned char>(value_1252[bad])) +
                ", que un documento XML no admite");
  }
}

// A Windows-1252 value as UTF-8 text content, escaped as libxml2's writer
// escapes it: a carriage return too, which a reader would otherwise turn
// into a line feed.
void AppendText(std::string& out, std::string_view value_1252) {
  for (char c : value_1252) {
    switch (c) {
      case '&': out += "&amp;"; break;
      case '<': out += "&lt;"; break;
      case '>': out += "&gt;"; break;
      case '\r': out += "&#13;"; break;
      default:
        if (static_cast<unsigned char>(c) < 0x80) out += c;
        else out += FromWindows1252(std::string_view(&c, 1));
    }
  }
}

// <salida dato="name">value</salida>, or <salida dato="name"/> for an empty
// value. REQUIRES: `name` is plain ASCII without markup characters, and the
// value passed CheckValue.
void AppendSalida(std::string& out, std::string_view name, std::string_view value_1252) {
  out += "<salida dato=\"";
  out += name;
  if (value_1252.empty()) {
    out += "\"/>";
    return;
  }
  out += "\">";
  AppendText(out, value_1252);
  out += "</salida>";
}

}  // namespace

size_t FindByteXmlCannotHold(std::string_view bytes_1252) {
  for (size_t i = 0; i < bytes_1252.size(); ++i) {
    const auto byte = static_cast<unsigned char>(bytes_1252[i]);
    if (byte < 0x20 && byte != '\t' && byte != '\n' && byte != '\r') return i;
  }
  return std::string_view::npos;
}

XmlLoadOptions OutputLoadOptions() {
  XmlLoadOptions options;
  options.skip_root_child = std::string(kSection);
  return options;
}

SauceOutput SauceOutput::Start(XmlDocument& doc, size_t teacher_count) {
  XmlNode root = doc.Root();
  if (!root) {
    throw Error("El documento " + doc.SourceName() +
                " no tiene elemento raíz: no es un documento de Sauce");
  }
  if (doc.SkippedRootChild() != kSection) {
    XmlNode old_section = root.ChildElements(kSection).Item(0);
    if (!old_section) {
      throw Error("El documento " + doc.SourceName() + " no tiene la sección SALIDAS bajo <" +
                  root.Name() + ">: no es un documento de Sauce en el que escribir el horario");
    }
    root.RemoveChild(old_section);
  }
  root.AppendChild(doc.CreateElement(kSection));
  // Taken by name, as the section is defined: with a single SALIDAS in the
  // loaded file this is the element just appended.
  SauceOutput output(doc, root.ChildElements(kSection).Item(0));

  std::string& block = output.error_block_;
  block = "<ERROR>";
  AppendSalida(block, "CN_ERROR", "0");
  AppendSalida(block, "TE_ERROR", "Servicio finalizado Correctamente");
  AppendSalida(block, "REGISTROS RECUPERADOS", std::to_string(teacher_count));
  block += "</ERROR>";
  return output;
}

SauceOutput SauceOutput::StartWritingTo(XmlDocument& doc, size_t teacher_count, const std::string& path) {
  SauceOutput output = Start(doc, teacher_count);
  output.file_ = std::make_unique<AtomicFileWriter>(path);
  AtomicFileWriter* file = output.file_.get();
  output.content_ = std::make_unique<XmlContentWriter>(doc, output.section_,
                                                       [file](std::string_view bytes) { file->Write(bytes); });
  output.content_->Write(output.error_block_);
  return output;
}

void SauceOutput::WriteOutEntries() {
  for (; written_ < teachers_.size(); ++written_) {
    content_->Write(teachers_[written_]);
    content_->Write(kEntryEnd);
    std::string().swap(teachers_[written_]);
  }
}

void SauceOutput::Finish() {
  if (!content_) throw Error("La salida no se está escribiendo en un archivo");
  WriteOutEntries();
  content_->Finish();
  file_->Commit();
  content_.reset();
  file_.reset();
}

void SauceOutput::CheckInMemory() const {
  if (file_) throw Error("La salida se escribe en un archivo a medida que crece y no se puede guardar aparte");
}

SauceOutput::Teacher SauceOutput::AddTeacher(size_t number, std::string_view x_empleado,
                                             std::string_view f_tomapos) {
  CheckValue("X_EMPLEADO", x_empleado);
  CheckValue("F_TOMAPOS", f_tomapos);
  if (content_) WriteOutEntries();
  std::string entry;
  entry += "<listasal seq=\"EMP_";
  entry += std::to_string(number);
  entry += "\">";
  AppendSalida(entry, "X_EMPLEADO", x_empleado);
  AppendSalida(entry, "F_TOMAPOS", f_tomapos);
  teachers_.push_back(std::move(entry));
  return Teacher(teachers_.size() - 1);
}

void SauceOutput::AddLesson(Teacher teacher, size_t number, const LessonValues& values) {
  const std::pair<std::string_view, std::string_view> salidas[] = {
      {"X_ACTIVIDAD", values.x_actividad}, {"N_DIASEMANA", values.n_diasemana},
      {"X_TRAMO", values.x_tramo},         {"X_DEPCENTRO", values.x_depcentro},
      {"X_MATERIAOMC", values.x_materiaomc}, {"X_UNIDAD", values.x_unidad},
  };
  for (const auto& [name, value] : salidas) CheckValue(name, value);
  if (teacher.index_ >= teachers_.size())
    throw Error("La entrada de profesor a la que se quiere añadir la sesión " + std::to_string(number) +
                " no es de esta salida");
  if (teacher.index_ < written_)
    throw Error("La entrada de profesor a la que se quiere añadir la sesión " + std::to_string(number) +
                " ya está escrita en el archivo");
  std::string& entry = teachers_[teacher.index_];
  entry += "<listasal seq=\"TRAMO_";
  entry += std::to_string(number);
  entry += "\">";
  for (const auto& [name, value] : salidas) AppendSalida(entry, name, value);
  entry += kEntryEnd;
}

std::vector<std::string_view> SauceOutput::Markup() const {
  CheckInMemory();
  std::vector<std::string_view> pieces;
  pieces.reserve(1 + 2 * teachers_.size());
  pieces.emplace_back(error_block_);
  for (const std::string& entry : teachers_) {
    pieces.emplace_back(entry);
    pieces.emplace_back(kEntryEnd);
  }
  return pieces;
}

std::string SauceOutput::SaveToString() const { return doc_->SaveToStringWithContent(section_, Markup()); }

void SauceOutput::Save(const std::string& path) const { doc_->SaveWithContent(path, section_, Markup()); }

std::string SauceOutputPath(const std::string& xml_path) {
  const size_t slash = xml_path.find_last_of('/');
  const size_t name_start = slash == std::string::npos ? 0 : slash + 1;
  return xml_path.substr(0, name_start) + std::string(kOutputPrefix) + xml_path.substr(name_start);
}

std::string SaveBesideChosenFile(const SauceOutput& output, const std::string& xml_path) {
  const std::string output_path = SauceOutputPath(xml_path);
  output.Save(output_path);
  return output_path;
}

}  // namespace tvs
