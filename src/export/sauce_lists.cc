#include "export/sauce_lists.h"

#include "platform/codepage.h"

namespace tvs {

XmlLoadOptions ExportLoadOptions() {
  XmlLoadOptions options;
  options.read_only = true;
  options.text_element = "salida";
  return options;
}

std::string ListXPath(std::string_view list_name) {
  return "/SERVICIO/SALIDAS/listasal[@seq=\"" + std::string(list_name) + "\"]/listasal";
}

XmlNodeList SelectEntries(const XmlDocument& doc, std::string_view list_name) {
  return doc.Select(ListXPath(list_name));
}

std::string_view TrimControls(std::string_view text) {
  size_t b = 0, e = text.size();
  while (b < e && static_cast<unsigned char>(text[b]) <= 32) ++b;
  while (e > b && static_cast<unsigned char>(text[e - 1]) <= 32) --e;
  return text.substr(b, e - b);
}

std::string ValueRule(const XmlNode& node) {
  if (node.IsNull()) return {};
  return ToWindows1252(TrimControls(node.Text()));
}

void ForEachEntry(const XmlDocument& doc, std::string_view list_name,
                  const std::function<void(size_t, const Entry&)>& visit) {
  const XmlNodeList entries = SelectEntries(doc, list_name);
  for (size_t i = 0; i < entries.Count(); ++i) {
    const Entry entry(entries.Item(i));
    if (entry.Count() < 2) continue;
    visit(i, entry);
  }
}

std::string EntryLocation(std::string_view list_name, size_t position) {
  return "la entrada " + std::to_string(position + 1) + " de la lista " + std::string(list_name);
}

}  // namespace tvs
