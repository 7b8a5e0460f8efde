#include "sauce_doc_helpers.h"

#include <stdlib.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <stdexcept>

#include "platform/codepage.h"

namespace tvs::test {

std::string XmlEscape(std::string_view text) {
  std::string out;
  for (char c : text) {
    switch (c) {
      case '&': out += "&amp;"; break;
      case '<': out += "&lt;"; break;
      case '>': out += "&gt;"; break;
      case '"': out += "&quot;"; break;
      default: out += c;
    }
  }
  return out;
}

std::string SauceDoc(const std::vector<SauceList>& lists) {
  std::string xml = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<SERVICIO><SALIDAS>\n";
  for (const auto& list : lists) {
    xml += "<listasal seq=\"" + XmlEscape(list.name) + "\">\n";
    for (const auto& entry : list.entries) {
      xml += "<listasal>";
      for (size_t k = 0; k < entry.size(); ++k) {
        xml += "<salida";
        if (k < list.datos.size()) xml += " dato=\"" + XmlEscape(list.datos[k]) + "\"";
        xml += ">" + XmlEscape(entry[k]) + "</salida>";
      }
      xml += "</listasal>\n";
    }
    xml += "</listasal>\n";
  }
  xml += "</SALIDAS></SERVICIO>\n";
  return xml;
}

namespace {
XmlDocument Loaded(const std::string& xml) {
  XmlDocument doc;
  doc.LoadFromMemory(xml, "prueba.xml");
  if (!doc.WellFormed()) throw std::runtime_error("fixture is not well formed: " + doc.ParseError());
  return doc;
}
}  // namespace

BuildHarness::BuildHarness(const std::string& xml)
    : doc_(Loaded(xml)), ctx_(doc_, "prueba.xml", chooser_) {}

std::string Cell(const DbfTable& table, size_t record, std::string_view field) {
  return FromWindows1252(table.Text(record, table.FieldIndex(field)));
}

std::vector<std::string> Column(const DbfTable& table, std::string_view field) {
  std::vector<std::string> out;
  for (size_t r = 0; r < table.RecordCount(); ++r) out.push_back(Cell(table, r, field));
  return out;
}

std::vector<std::string> Row(const DbfTable& table, size_t record,
                             const std::vector<std::string_view>& fields) {
  std::vector<std::string> out;
  for (auto f : fields) out.push_back(Cell(table, record, f));
  return out;
}

std::vector<std::vector<std::string>> Rows(const DbfTable& table,
                                           const std::vector<std::string_view>& fields) {
  std::vector<std::vector<std::string>> out;
  for (size_t r = 0; r < table.RecordCount(); ++r) out.push_back(Row(table, r, fields));
  return out;
}

TempFolder::TempFolder() {
  std::string pattern = (std::filesystem::temp_directory_path() / "tvs-export-XXXXXX").string();
  if (!mkdtemp(pattern.data())) throw std::runtime_error("mkdtemp failed");
  path_ = pattern;
}

TempFolder::~TempFolder() {
  std::error_code ec;
  std::filesystem::remove_all(path_, ec);
}

std::vector<std::pair<std::string, std::string>> FolderContents(const std::string& folder) {
  std::vector<std::pair<std::string, std::string>> out;
  if (!std::filesystem::exists(folder)) return out;
  for (const auto& e : std::filesystem::directory_iterator(folder)) {
    if (!e.is_regular_file()) continue;
    std::ifstream in(e.path(), std::ios::binary);
    out.emplace_back(e.path().filename().string(),
                     std::string(std::istreambuf_iterator<char>(in), {}));
  }
  std::sort(out.begin(), out.end());
  return out;
}

}  // namespace tvs::test
