// transvelmar: the converter's command-line tool, for batch use and scripts.
//
//   transvelmar exportar FILE.xml [--vtemp DIR] [--marcos A[,B]]
//   transvelmar importar FILE.xml [--vtemp DIR]
//   transvelmar marcos FILE.xml
//   transvelmar tabla NAME|FILE.dbf [--vtemp DIR] [--csv]
//
// Exit status 0 on success; on failure a Spanish message on stderr and a
// non-zero status (1 for a failed run, 2 for a missing file or bad usage).
#include <CLI/CLI.hpp>

#include <cstdio>
#include <iostream>
#include <string>
#include <vector>

#include "export/export_run.h"
#include "export/sauce_lists.h"
#include "export/working_tables.h"
#include "import/import_run.h"
#include "platform/codepage.h"
#include "platform/dbf.h"
#include "platform/error.h"
#include "platform/files.h"
#include "platform/working_folder.h"
#include "platform/xml_document.h"

namespace tvs {
namespace {

constexpr int kFailed = 1;
constexpr int kMissing = 2;

struct Frame {
  std::string code;      // salida 0 as the document gives it, in Windows-1252
  std::string name;      // salida 1
  std::string extra;     // salida 2
};

std::vector<Frame> ReadFrames(const XmlDocument& doc) {
  std::vector<Frame> frames;
  const XmlNodeList list = SelectEntries(doc, "JORNADAS");
  for (size_t i = 0; i < list.Count(); ++i) {
    const Entry e(list.Item(i));
    if (e.Count() == 0) continue;
    auto raw = [&](size_t k) { return ToWindows1252(e.Salida(k).Text()); };
    frames.push_back({raw(0), raw(1), raw(2)});
  }
  return frames;
}

std::string Pad10(std::string code) {
  code.resize(10, ' ');
  return code;
}

std::string FrameCodeList(const std::vector<Frame>& frames) {
  std::string out;
  for (const Frame& f : frames)
    out += (out.empty() ? "" : ", ") + FromWindows1252(TrimControls(f.code));
  return out;
}

// The frames named on the command line, in the order of the frame list, as
// the time-frame dialog would return them.
class CommandLineChooser : public FrameChooser {
 public:
  explicit CommandLineChooser(std::vector<std::string> codes) : codes_(std::move(codes)) {}

  std::string ChooseFrames(const XmlDocument& doc, const std::string&) override {
    const auto frames = ReadFrames(doc);
    if (codes_.empty())
      throw Error("El documento tiene " + std::to_string(frames.size()) +
                  " marcos horarios (" + FrameCodeList(frames) +
                  "): indique uno o dos con --marcos A[,B]");
    if (codes_.size() > 2)
      throw Error("Demasiados marcos horarios en --marcos: como máximo puede seleccionar 2");
    std::vector<bool> chosen(frames.size(), false);
    for (const std::string& code : codes_) {
      const std::string wanted = ToWindows1252(code);
      bool found = false;
      for (size_t i = 0; i < frames.size(); ++i) {
        if (TrimControls(frames[i].code) == wanted || frames[i].code == wanted) {
          chosen[i] = true;
          found = true;
          break;
        }
      }
      if (!found)
        throw Error("El marco horario «" + code + "» no está en el documento; sus marcos son: " +
                    FrameCodeList(frames));
    }
    std::string result;
    for (size_t i = 0; i < frames.size(); ++i)
      if (chosen[i]) result += Pad10(frames[i].code);
    return result;
  }

 private:
  std::vector<std::string> codes_;
};

std::vector<std::string> SplitCodes(const std::string& text) {
  std::vector<std::string> codes;
  size_t start = 0;
  while (start <= text.size() && !text.empty()) {
    const size_t comma = text.find(',', start);
    codes.push_back(text.substr(start, comma == std::string::npos ? std::string::npos : comma - start));
    if (comma == std::string::npos) break;
    start = comma + 1;
  }
  return codes;
}

int Exportar(const std::string& xml, const std::string& vtemp, const std::string& marcos) {
  if (!FileExists(xml)) {
    std::cerr << "No existe archivo: " << xml << "\n";
    return kMissing;
  }
  CommandLineChooser chooser(SplitCodes(marcos));
  const ExportResult result = ExportRun(xml, vtemp, chooser);
  std::cout << "Exportación terminada en " << vtemp << "\n";
  for (const auto& [name, rows] : result.tables)
    std::printf("  %-12s %8zu filas\n", (name + ".DBF").c_str(), rows);
  std::cout << "Marcos elegidos: " << FromWindows1252(result.marcos_elegidos) << "\n";
  std::cout << "Proceso finalizado\n";
  return 0;
}

int Importar(const std::string& xml, const std::string& vtemp) {
  if (!FileExists(xml)) {
    std::cerr << "No existe archivo: " << xml << "\n";
    return kMissing;
  }
  const ImportSummary s = ImportRun(xml, vtemp);
  std::cout << "Documento escrito: " << s.output_path << "\n";
  std::cout << "  Profesores escritos:                     " << s.teachers << "\n";
  std::cout << "  Sesiones escritas:                       " << s.lessons << "\n";
  std::cout << "  Registros de SOLUC con DIA 0 (omitidos): " << s.skipped_day_zero << "\n";
  std::cout << "  Registros de SOLUC de profesores que no están en PROFT (no escritos): "
            << s.unknown_teacher << "\n";
  std::cout << "Proceso finalizado\n";
  return 0;
}

int Marcos(const std::string& xml) {
  if (!FileExists(xml)) {
    std::cerr << "No existe archivo: " << xml << "\n";
    return kMissing;
  }
  XmlDocument doc;
  doc.LoadWellFormed(xml);
  const auto frames = ReadFrames(doc);
  if (frames.empty()) {
    std::cout << "El documento no contiene ningún marco horario\n";
    return 0;
  }
  const XmlNodeList intervals = SelectEntries(doc, "INTERVALOS");
  for (const Frame& f : frames) {
    std::cout << "Marco " << FromWindows1252(TrimControls(f.code)) << ": "
              << FromWindows1252(TrimControls(f.name));
    if (!TrimControls(f.extra).empty()) std::cout << " (" << FromWindows1252(TrimControls(f.extra)) << ")";
    std::cout << "\n";
    for (size_t i = 0; i < intervals.Count(); ++i) {
      const XmlNodeList salidas = intervals.Item(i).ChildElements("salida");
      std::string item[6];
      for (size_t k = 0; k < salidas.Count(); ++k) {
        const XmlNode s = salidas.Item(k);
        static const char* names[6] = {"CODIGO_SAUCE", "NOMBRE", "INICIO", "FIN", "ORDEN", "CLAVE_JORNADA"};
        for (int n = 0; n < 6; ++n)
          if (s.HasAttribute("dato") && s.Attribute("dato") == names[n])
            item[n] = FromWindows1252(ValueRule(s));
      }
      if (ToWindows1252(item[5]) != std::string(TrimControls(f.code)).substr(0, 10)) continue;
      std::cout << "  " << item[4] << "  " << item[2] << "-" << item[3] << "  " << item[1]
                << "  (código " << item[0] << ")\n";
    }
  }
  return 0;
}

std::string CsvField(const std::string& s) {
  if (s.find_first_of(",\"\n\r") == std::string::npos) return s;
  std::string out = "\"";
  for (char c : s) {
    if (c == '"') out += '"';
    out += c;
  }
  return out + "\"";
}

int Tabla(const std::string& name, const std::string& vtemp, bool csv) {
  std::string path;
  std::string table_name = name;
  const bool is_file = name.find('/') != std::string::npos ||
                       (name.size() > 4 && EqualsIgnoreCaseWindows1252(name.substr(name.size() - 4), ".dbf"));
  if (is_file) {
    path = name;
    const auto slash = name.rfind('/');
    table_name = name.substr(slash == std::string::npos ? 0 : slash + 1);
  } else {
    path = FindIgnoringCase(vtemp, UpperAsciiOnly(name) + ".DBF");
  }
  if (path.empty() || !FileExists(path)) {
    std::cerr << "No existe la tabla " << name << (is_file ? "" : " en " + vtemp) << "\n";
    return kMissing;
  }
  const OpenDbf open = OpenDbf::Open(path, OpenMode::kShared, table_name);
  const DbfTable& t = open.table();
  const auto& fields = t.fields();
  std::vector<size_t> widths;
  for (const DbfField& f : fields) widths.push_back(std::max<size_t>(f.name.size(), std::min<size_t>(f.width, 24)));
  auto print_row = [&](const std::vector<std::string>& cells) {
    std::string line;
    for (size_t i = 0; i < cells.size(); ++i) {
      if (csv) {
        line += (i ? "," : "") + CsvField(cells[i]);
      } else {
        std::string cell = cells[i];
        line += (i ? " | " : "") + cell;
        // pad by characters, not bytes
        size_t chars = 0;
        for (unsigned char c : cell) chars += (c & 0xC0) != 0x80;
        if (chars < widths[i] && i + 1 < cells.size()) line += std::string(widths[i] - chars, ' ');
      }
    }
    std::cout << line << "\n";
  };
  std::vector<std::string> header;
  for (const DbfField& f : fields) header.push_back(f.name);
  print_row(header);
  for (size_t r = 0; r < t.RecordCount(); ++r) {
    std::vector<std::string> cells;
    for (size_t f = 0; f < fields.size(); ++f) cells.push_back(FromWindows1252(t.Text(r, f)));
    print_row(cells);
  }
  if (!csv) std::cout << "(" << t.RecordCount() << " filas)\n";
  return 0;
}

// CLI11 writes its help and its usage errors in English: its labels, the
// help flag, the groups and the failure message are given in Spanish here,
// before the subcommands are added (they inherit all of it).
void SpeakSpanish(CLI::App& app) {
  const auto formatter = app.get_formatter();
  const std::pair<const char*, const char*> labels[] = {
      {"Usage", "Uso"},           {"OPTIONS", "OPCIONES"},     {"SUBCOMMAND", "ORDEN"},
      {"SUBCOMMANDS", "ÓRDENES"}, {"Positionals", "Argumentos"}, {"REQUIRED", "OBLIGATORIO"},
      {"TEXT", "TEXTO"}};
  for (const auto& [key, text] : labels) formatter->label(key, text);
  app.option_defaults()->group("Opciones");
  app.set_help_flag("-h,--help", "Muestra esta ayuda y termina");
  app.group("Órdenes");
  app.failure_message([](const CLI::App* failed, const CLI::Error& e) {
    std::string message;
    const std::string what = e.what();
    const std::string required = " is required";
    if (dynamic_cast<const CLI::RequiredError*>(&e) && what == "A subcommand is required") {
      message = "Falta la orden: exportar, importar, marcos o tabla";
    } else if (dynamic_cast<const CLI::RequiredError*>(&e) && what.size() > required.size() &&
               what.compare(what.size() - required.size(), required.size(), required) == 0) {
      message = "Falta el argumento " + what.substr(0, what.size() - required.size());
    } else if (dynamic_cast<const CLI::ExtrasError*>(&e)) {
      message = "Sobran argumentos: " + what.substr(what.find(':') == std::string::npos ? 0 : what.find(':') + 2);
    } else {
      message = "Línea de órdenes no válida: " + what;
    }
    const std::string command =
        failed->get_parent() == nullptr ? "transvelmar" : "transvelmar " + failed->get_name();
    return message + "\nEscriba «" + command + " --help» para ver la ayuda.\n";
  });
}

}  // namespace
}  // namespace tvs

int main(int argc, char** argv) {
  CLI::App app{"transvelmar: convierte datos entre Sauce (XML) y Tavoleno (tablas dBase)", "transvelmar"};
  tvs::SpeakSpanish(app);
  app.require_subcommand(1);
  app.set_help_all_flag("--help-all", "Muestra la ayuda de todas las órdenes");
  std::string vtemp = tvs::DefaultWorkingFolder();
  std::string xml, marcos, table;
  bool csv = false;
  const std::string vtemp_help =
      "Carpeta de trabajo de Tavoleno (por omisión TRANSVELMAR_VTEMP, o C:\\VTEMP de Wine: " + vtemp + ")";

  auto* exportar = app.add_subcommand("exportar", "Crea las tablas de trabajo de Tavoleno desde un documento de exportación de Sauce");
  exportar->add_option("archivo", xml, "Documento XML de Sauce")->required();
  exportar->add_option("--vtemp", vtemp, vtemp_help);
  exportar->add_option("--marcos", marcos, "Marcos horarios elegidos (uno o dos códigos separados por coma) cuando el documento tiene varios");

  auto* importar = app.add_subcommand("importar", "Escribe el horario de SOLUC en un documento de importación para Sauce");
  importar->add_option("archivo", xml, "Documento XML de Sauce en el que se escribe el horario")->required();
  importar->add_option("--vtemp", vtemp, vtemp_help);

  auto* lista_marcos = app.add_subcommand("marcos", "Lista los marcos horarios de un documento con sus intervalos");
  lista_marcos->add_option("archivo", xml, "Documento XML de Sauce")->required();

  auto* tabla = app.add_subcommand("tabla", "Muestra una tabla de trabajo (por su nombre) o un archivo .dbf");
  tabla->add_option("tabla", table, "Nombre de la tabla (ASIGNOMT, SOLUC...) o ruta de un archivo .dbf")->required();
  tabla->add_option("--vtemp", vtemp, vtemp_help);
  tabla->add_flag("--csv", csv, "Salida en formato CSV");

  // A subcommand's own help flags were made before it took the option group.
  for (CLI::App* sub : app.get_subcommands({}))
    for (CLI::Option* help : {sub->get_help_ptr(), sub->get_option_no_throw("--help-all")})
      if (help != nullptr) help->group("Opciones");

  try {
    app.parse(argc, argv);
  } catch (const CLI::ParseError& e) {
    return app.exit(e) == 0 ? 0 : tvs::kMissing;
  }

  try {
    if (*exportar) return tvs::Exportar(xml, vtemp, marcos);
    if (*importar) return tvs::Importar(xml, vtemp);
    if (*lista_marcos) return tvs::Marcos(xml);
    if (*tabla) return tvs::Tabla(table, vtemp, csv);
  } catch (const std::exception& e) {
    std::cerr << "Error: " << e.what() << "\n";
    return tvs::kFailed;
  }
  return tvs::kFailed;
}
