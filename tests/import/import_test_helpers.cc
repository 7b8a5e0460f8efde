#include "import/import_test_helpers.h"

#include <gtest/gtest.h>
#include <libxml/tree.h>

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "export/working_tables.h"
#include "platform/codepage.h"
#include "platform/dbf.h"

namespace tvs::testing {

// --- Folders and files ---------------------------------------------------------------

TempFolder::TempFolder() {
  std::string pattern = (std::filesystem::temp_directory_path() / "tvs-import-XXXXXX").string();
  if (mkdtemp(pattern.data()) == nullptr) ADD_FAILURE() << "mkdtemp failed";
  path_ = pattern;
}

TempFolder::~TempFolder() {
  std::error_code ignored;
  std::filesystem::remove_all(path_, ignored);
}

std::string TempFolder::File(std::string_view name) const { return path_ + "/" + std::string(name); }

void WriteFile(const std::string& path, std::string_view bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
  if (!out) ADD_FAILURE() << "cannot write " << path;
}

std::string ReadBytes(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream bytes;
  bytes << in.rdbuf();
  return bytes.str();
}

bool Exists(const std::string& path) { return std::filesystem::exists(path); }

std::string SauceDocument(std::string_view salidas_content) {
  return "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
         "<SERVICIO modulo=\"HORARIOS\">\n"
         "  <ENTRADAS><dato nombre=\"X_CENTRO\">1234</dato></ENTRADAS>\n"
         "  <SALIDAS>" +
         std::string(salidas_content) + "</SALIDAS>\n</SERVICIO>\n";
}

// --- Tables ----------------------------------------------------------------------------

void WriteWorkingTable(const std::string& folder, std::string_view table,
                       const std::vector<Row>& rows, const std::vector<std::string>& omit,
                       const std::string& file_name) {
  std::vector<DbfField> fields;
  for (const DbfField& f : WorkingTableFields(table))
    if (std::find(omit.begin(), omit.end(), f.name) == omit.end()) fields.push_back(f);
  DbfTable t{std::string(table), fields};
  for (const Row& row : rows) {
    t.Append();
    for (const auto& [field, text] : row)
      if (t.FindField(field) >= 0) t.SetText(field, text);
  }
  WriteFile(folder + "/" + (file_name.empty() ? TableFileName(table) : file_name), EncodeDbf(t));
}

namespace {

std::string JsonString(std::string_view utf8) {
  std::string out = "\"";
  for (char c : utf8) {
    const auto b = static_cast<unsigned char>(c);
    if (c == '"' || c == '\\') {
      out += '\\';
      out += c;
    } else if (b < 0x20) {
      char esc[8];
      std::snprintf(esc, sizeof esc, "\\u%04x", b);
      out += esc;
    } else {
      out += c;
    }
  }
  return out + "\"";
}

// The solution table's fields in the order Tavoleno declares them, MARCO last.
std::vector<std::pair<std::string, std::string>> SolucFields(const SolucLayout& layout) {
  std::vector<std::pair<std::string, std::string>> all = {
      {"ASIG", "C(4)"},  {"PROF", "C(4)"}, {"CODGRUPO", "C(4)"}, {"TURNO", "C(1)"},
      {"NIVEL", "C(5)"}, {"CURSO", "C(3)"}, {"GRUPO", "C(1)"},   {"AULA", "C(4)"},
      {"TAREA", "C(4)"}, {"DIA", layout.dia}, {"HORA", layout.hora}, {"SESIONES", "N(10,2)"},
      {"MARCO", layout.marco}};
  std::vector<std::pair<std::string, std::string>> kept;
  for (auto& f : all)
    if (std::find(layout.omit.begin(), layout.omit.end(), f.first) == layout.omit.end())
      kept.push_back(f);
  return kept;
}

std::string FieldValue(const SolucRecord& r, const std::string& name) {
  if (name == "ASIG") return r.asig;
  if (name == "PROF") return r.prof;
  if (name == "CODGRUPO") return r.codgrupo;
  if (name == "AULA") return r.aula;
  if (name == "TAREA") return r.tarea;
  if (name == "DIA") return r.dia;
  if (name == "HORA") return r.hora;
  if (name == "MARCO") return r.marco;
  return "";
}

constexpr const char* kWriter = R"(import dbf, json, sys
for spec in json.load(open(sys.argv[1], encoding='utf-8')):
    t = dbf.Table(spec['path'], spec['fields'], codepage='cp1252', dbf_type='db3')
    t.open(dbf.READ_WRITE)
    for r in spec['records']:
        t.append(r['values'])
        if r['deleted']:
            dbf.delete(t[-1])
    t.close()
)";

std::string SolucJson(const std::string& path, const SolucFile& file) {
  const auto fields = SolucFields(file.layout);
  std::string spec_text;
  for (const auto& [name, type] : fields) {
    if (!spec_text.empty()) spec_text += "; ";
    spec_text += name + " " + type;
  }
  std::string json = "{\"path\": " + JsonString(path) + ", \"fields\": " + JsonString(spec_text) +
                     ", \"records\": [";
  for (size_t i = 0; i < file.records.size(); ++i) {
    const SolucRecord& record = file.records[i];
    if (i > 0) json += ",";
    json += "{\"deleted\": " + std::string(record.deleted ? "true" : "false") + ", \"values\": {";
    bool first = true;
    for (const auto& [name, type] : fields) {
      const std::string value = FieldValue(record, name);
      std::string literal;
      if (type[0] == 'C') literal = JsonString(FromWindows1252(value));
      else literal = value.empty() ? "null" : value;
      if (!first) json += ", ";
      first = false;
      // python-dbf names its fields in lower case.
      std::string key = name;
      for (char& c : key) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
      json += JsonString(key) + ": " + literal;
    }
    json += "}}";
  }
  return json + "]}";
}

}  // namespace

void WriteSolucFiles(const std::string& folder, const std::vector<SolucFile>& files) {
  std::string json = "[";
  for (size_t i = 0; i < files.size(); ++i) {
    if (i > 0) json += ",";
    json += SolucJson(folder + "/" + files[i].file_name, files[i]);
  }
  json += "]";

  const std::string script = folder + "/.write_soluc.py";
  const std::string spec = folder + "/.soluc.json";
  WriteFile(script, kWriter);
  WriteFile(spec, json);
  const std::string command = "/usr/bin/python3 '" + script + "' '" + spec + "' 2>&1";
  FILE* pipe = popen(command.c_str(), "r");
  std::string output;
  char buffer[512];
  while (pipe != nullptr && std::fgets(buffer, sizeof buffer, pipe) != nullptr) output += buffer;
  const int status = pipe != nullptr ? pclose(pipe) : -1;
  std::filesystem::remove(script);
  std::filesystem::remove(spec);
  if (status != 0) ADD_FAILURE() << "python-dbf could not write SOLUC: " << output;
  for (const SolucFile& file : files)
    if (!Exists(folder + "/" + file.file_name)) ADD_FAILURE() << "python-dbf wrote no " << file.file_name;
}

void WriteSoluc(const std::string& folder, const std::vector<SolucRecord>& records,
                const SolucLayout& layout, const std::string& file_name) {
  WriteSolucFiles(folder, {{records, layout, file_name}});
}

// --- Reading the output section -------------------------------------------------------

namespace {

bool IsElementNamed(const xmlNode* n, const char* name) {
  return n->type == XML_ELEMENT_NODE && std::string_view(reinterpret_cast<const char*>(n->name)) == name;
}

// The single attribute of an element, which must be `name`.
std::string OnlyAttribute(const xmlNode* n, const char* name) {
  const xmlAttr* a = n->properties;
  if (a == nullptr || a->next != nullptr || std::string_view(reinterpret_cast<const char*>(a->name)) != name ||
      a->ns != nullptr) {
    ADD_FAILURE() << "<" << n->name << "> should carry exactly the attribute " << name;
    return "";
  }
  return XmlNode(const_cast<xmlNode*>(n)).Attribute(name);
}

// A salida: exactly the dato attribute, and at most one text child.
std::pair<std::string, std::string> ReadSalida(const xmlNode* n) {
  if (!IsElementNamed(n, "salida") || n->ns != nullptr) {
    ADD_FAILURE() << "expected <salida>, found node " << (n->name ? (const char*)n->name : "?");
    return {};
  }
  const std::string dato = OnlyAttribute(n, "dato");
  for (const xmlNode* c = n->children; c != nullptr; c = c->next)
    if (c->type != XML_TEXT_NODE) ADD_FAILURE() << "salida " << dato << " holds a non-text node";
  return {dato, XmlNode(const_cast<xmlNode*>(n)).Text()};
}

std::vector<const xmlNode*> Children(const xmlNode* n) {
  std::vector<const xmlNode*> out;
  for (const xmlNode* c = n->children; c != nullptr; c = c->next) {
    if (c->type != XML_ELEMENT_NODE) {
      ADD_FAILURE() << "<" << n->name << "> holds a node that is not an element (type " << c->type << ")";
      continue;
    }
    out.push_back(c);
  }
  return out;
}

constexpr const char* kLessonDatos[6] = {"X_ACTIVIDAD",  "N_DIASEMANA", "X_TRAMO",
                                         "X_DEPCENTRO", "X_MATERIAOMC", "X_UNIDAD"};

}  // namespace

SectionOut ReadSection(XmlNode section) {
  SectionOut out;
  if (!section || section.Name() != "SALIDAS") {
    ADD_FAILURE() << "no SALIDAS section";
    return out;
  }
  if (section.raw()->properties != nullptr) ADD_FAILURE() << "SALIDAS carries attributes";
  const auto children = Children(section.raw());
  if (children.empty() || !IsElementNamed(children[0], "ERROR")) {
    ADD_FAILURE() << "SALIDAS does not start with ERROR";
    return out;
  }
  if (children[0]->properties != nullptr) ADD_FAILURE() << "ERROR carries attributes";
  for (const xmlNode* s : Children(children[0])) out.error.push_back(ReadSalida(s));

  for (size_t i = 1; i < children.size(); ++i) {
    const xmlNode* t = children[i];
    if (!IsElementNamed(t, "listasal")) {
      ADD_FAILURE() << "teacher entry " << i << " is <" << t->name << ">";
      continue;
    }
    TeacherOut teacher;
    teacher.seq = OnlyAttribute(t, "seq");
    const auto parts = Children(t);
    if (parts.size() < 2) {
      ADD_FAILURE() << teacher.seq << " lacks its two salida";
      continue;
    }
    auto [d0, v0] = ReadSalida(parts[0]);
    auto [d1, v1] = ReadSalida(parts[1]);
    EXPECT_EQ(d0, "X_EMPLEADO") << teacher.seq;
    EXPECT_EQ(d1, "F_TOMAPOS") << teacher.seq;
    teacher.x_empleado = v0;
    teacher.f_tomapos = v1;
    for (size_t k = 2; k < parts.size(); ++k) {
      LessonOut lesson;
      if (!IsElementNamed(parts[k], "listasal")) {
        ADD_FAILURE() << teacher.seq << " holds <" << parts[k]->name << ">";
        continue;
      }
      lesson.seq = OnlyAttribute(parts[k], "seq");
      const auto salidas = Children(parts[k]);
      EXPECT_EQ(salidas.size(), 6u) << teacher.seq << "/" << lesson.seq;
      for (size_t v = 0; v < salidas.size() && v < 6; ++v) {
        auto [dato, value] = ReadSalida(salidas[v]);
        EXPECT_EQ(dato, kLessonDatos[v]) << teacher.seq << "/" << lesson.seq;
        lesson.values[v] = value;
      }
      teacher.lessons.push_back(lesson);
    }
    out.teachers.push_back(teacher);
  }
  return out;
}

SectionOut ReadOutputFile(const std::string& path) {
  XmlDocument doc;
  doc.LoadWellFormed(path);
  const xmlNode* last = nullptr;
  for (const xmlNode* c = doc.Root().raw()->children; c != nullptr; c = c->next)
    if (c->type == XML_ELEMENT_NODE) last = c;
  if (last == nullptr) {
    ADD_FAILURE() << path << ": root has no child element";
    return {};
  }
  EXPECT_EQ(doc.Root().ChildElements("SALIDAS").Count(), 1u) << path;
  return ReadSection(XmlNode(const_cast<xmlNode*>(last)));
}

std::vector<std::string> RootChildNames(const XmlDocument& doc) {
  std::vector<std::string> names;
  for (const xmlNode* c = doc.Root().raw()->children; c != nullptr; c = c->next)
    if (c->type == XML_ELEMENT_NODE) names.emplace_back(reinterpret_cast<const char*>(c->name));
  return names;
}

bool HasNoChildNodes(XmlNode node) { return node && node.raw()->children == nullptr; }

}  // namespace tvs::testing
