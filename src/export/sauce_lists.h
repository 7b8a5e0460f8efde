// Reading a Sauce export document: the lists under /SERVICIO/SALIDAS, their
// entries, and the value rule by which an entry's values are read.
//
// A list is a `listasal` element whose `seq` attribute names it; its entries
// are `listasal` children holding `salida` elements, which carry the values by
// position (salida 0, 1, 2 ...).
#pragma once

#include <functional>
#include <string>
#include <string_view>

#include "platform/xml_document.h"

namespace tvs {

// How a Sauce export document is loaded to be read (by the export run, the
// time-frame dialog): read only, the blanks between entries left out of the
// tree. Values are read from `salida` elements only, whose text stays whole.
XmlLoadOptions ExportLoadOptions();

// /SERVICIO/SALIDAS/listasal[@seq="NAME"]/listasal
std::string ListXPath(std::string_view list_name);

// The entries of the list, in document order (those of a second list of the
// same name after those of the first). Empty when the document lacks it.
XmlNodeList SelectEntries(const XmlDocument& doc, std::string_view list_name);

// The value rule: the text of the node and its descendants, without leading
// and trailing characters of code 32 and below, in Windows-1252.
std::string ValueRule(const XmlNode& node);

// Removes leading and trailing bytes of code 32 and below.
std::string_view TrimControls(std::string_view text);

// The `salida` children of one entry.
class Entry {
 public:
  explicit Entry(const XmlNode& entry) : salidas_(entry.ChildElements("salida")) {}
  size_t Count() const { return salidas_.Count(); }
  // Value rule of salida k; "" when the entry has no salida k.
  std::string Value(size_t k) const { return ValueRule(salidas_.Item(k)); }
  XmlNode Salida(size_t k) const { return salidas_.Item(k); }

 private:
  XmlNodeList salidas_;
};

// Calls `visit` for every entry of the list that has at least two `salida`
// children, with its position in the list counted from 0. Entries with fewer
// yield nothing.
void ForEachEntry(const XmlDocument& doc, std::string_view list_name,
                  const std::function<void(size_t position, const Entry& entry)>& visit);

// "la entrada 3 de la lista MATERIAS" (the position counted from 1, as a user
// counts), for messages.
std::string EntryLocation(std::string_view list_name, size_t position);

}  // namespace tvs
