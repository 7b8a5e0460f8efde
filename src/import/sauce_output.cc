#include "import/sauce_output.h"

#include <cstdio>
#include <string>

#include "platform/codepage.h"
#include "platform/error.h"

namespace tvs {
namespace {

constexpr std::string_view kSection = "SALIDAS";
constexpr std::string_view kOutputPrefix = "ResultadoVelmar";

std::string ByteHex(unsigned char byte) {
  char text[8];
  std::snprintf(text, sizeof text, "0x%02X", byte);
  return text;
}

}  // namespace

size_t FindByteXmlCannotHold(std::string_view bytes_1252) {
  for (size_t i = 0; i < bytes_1252.size(); ++i) {
    const auto byte = static_cast<unsigned char>(bytes_1252[i]);
    if (byte < 0x20 && byte != '\t' && byte != '\n' && byte != '\r') return i;
  }
  return std::string_view::npos;
}

SauceOutput SauceOutput::Start(XmlDocument& doc, size_t teacher_count) {
  XmlNode root = doc.Root();
  if (!root) {
    throw Error("El documento " + doc.SourceName() +
                " no tiene elemento raíz: no es un documento de Sauce");
  }
  XmlNode old_section = root.ChildElements(kSection).Item(0);
  if (!old_section) {
    throw Error("El documento " + doc.SourceName() + " no tiene la sección SALIDAS bajo <" +
                root.Name() + ">: no es un documento de Sauce en el que escribir el horario");
  }
  root.RemoveChild(old_section);
  root.AppendChild(doc.CreateElement(kSection));
  // Taken by name, as the section is defined: with a single SALIDAS in the
  // loaded file this is the element just appended.
  SauceOutput output(doc, root.ChildElements(kSection).Item(0));

  XmlNode error_block = doc.CreateElement("ERROR");
  output.section_.AppendChild(error_block);
  output.AddSalida(error_block, "CN_ERROR", "0");
  output.AddSalida(error_block, "TE_ERROR", "Servicio finalizado Correctamente");
  output.AddSalida(error_block, "REGISTROS RECUPERADOS", std::to_string(teacher_count));
  return output;
}

XmlNode SauceOutput::AddTeacher(size_t number, std::string_view x_empleado,
                                std::string_view f_tomapos) {
  XmlNode entry = doc_->CreateElement("listasal");
  entry.SetAttribute("seq", "EMP_" + std::to_string(number));
  section_.AppendChild(entry);
  AddSalida(entry, "X_EMPLEADO", x_empleado);
  AddSalida(entry, "F_TOMAPOS", f_tomapos);
  return entry;
}

void SauceOutput::AddLesson(XmlNode teacher, size_t number, const LessonValues& values) {
  XmlNode entry = doc_->CreateElement("listasal");
  entry.SetAttribute("seq", "TRAMO_" + std::to_string(number));
  teacher.AppendChild(entry);
  AddSalida(entry, "X_ACTIVIDAD", values.x_actividad);
  AddSalida(entry, "N_DIASEMANA", values.n_diasemana);
  AddSalida(entry, "X_TRAMO", values.x_tramo);
  AddSalida(entry, "X_DEPCENTRO", values.x_depcentro);
  AddSalida(entry, "X_MATERIAOMC", values.x_materiaomc);
  AddSalida(entry, "X_UNIDAD", values.x_unidad);
}

void SauceOutput::AddSalida(XmlNode parent, std::string_view name, std::string_view value_1252) {
  const size_t bad = FindByteXmlCannotHold(value_1252);
  if (bad != std::string_view::npos) {
    throw Error("El valor " + std::string(name) + " \"" +
                FromWindows1252(value_1252.substr(0, bad)) + "...\" lleva el carácter de control " +
                ByteHex(static_cast<unsigned char>(value_1252[bad])) +
                ", que un documento XML no admite");
  }
  XmlNode salida = doc_->CreateElement("salida");
  salida.SetAttribute("dato", name);
  // An empty value leaves the element without any content node.
  if (!value_1252.empty()) salida.SetText(FromWindows1252(value_1252));
  parent.AppendChild(salida);
}

std::string SauceOutputPath(const std::string& xml_path) {
  const size_t slash = xml_path.find_last_of('/');
  const size_t name_start = slash == std::string::npos ? 0 : slash + 1;
  return xml_path.substr(0, name_start) + std::string(kOutputPrefix) + xml_path.substr(name_start);
}

std::string SaveBesideChosenFile(const XmlDocument& doc, const std::string& xml_path) {
  const std::string output_path = SauceOutputPath(xml_path);
  doc.Save(output_path);
  return output_path;
}

}  // namespace tvs
