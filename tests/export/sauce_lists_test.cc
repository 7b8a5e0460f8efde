#include "export/sauce_lists.h"

#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

#include "platform/xml_document.h"
#include "sauce_doc_helpers.h"

namespace tvs {
namespace {

using test::SauceDoc;

XmlDocument Load(const std::string& xml) {
  XmlDocument doc;
  doc.LoadFromMemory(xml, "prueba.xml");
  EXPECT_TRUE(doc.WellFormed()) << doc.ParseError();
  return doc;
}

// The value of the one salida of the one entry of list L, written raw.
std::string ValueOf(const std::string& salida_content) {
  const XmlDocument doc = Load(
      "<SERVICIO><SALIDAS><listasal seq=\"L\"><listasal><salida>" + salida_content +
      "</salida><salida/></listasal></listasal></SALIDAS></SERVICIO>");
  std::string value = "<no entry>";
  ForEachEntry(doc, "L", [&](size_t, const Entry& e) { value = e.Value(0); });
  return value;
}

TEST(ValueRule, TrimsControlsAndConvertsToWindows1252) {
  const std::pair<std::string, std::string> cases[] = {
      {"  Lengua\n", "Lengua"},
      {"   ", ""},
      {"\n\r\n\t", ""},
      {"", ""},
      {"\t Ciencias  Naturales \t", "Ciencias  Naturales"},  // inner blanks stay
      {"Matemáticas", "Matem\xE1ticas"},
      {"€ Ñandú", "\x80 \xD1" "and\xFA"},
      {"Ω", "?"},                                  // outside the code page
      {"&#9;x&#13; ", "x"},                       // character references count too
      {"&#160;x&#160;", "\xA0x\xA0"},              // no-break space is above 32: kept
      {"a<b>b<c>c</c></b>d", "abcd"},              // text of every descendant
      {"<![CDATA[  <x> ]]>", "<x>"},
      {"&lt;1&amp;2&gt;", "<1&2>"},
  };
  for (const auto& [in, want] : cases) {
    SCOPED_TRACE(in);
    EXPECT_EQ(ValueOf(in), want);
  }
}

TEST(ForEachEntry, SkipsEntriesWithFewerThanTwoSalidas) {
  const XmlDocument doc = Load(SauceDoc(
      {{"MATERIAS", {{}, {"solo"}, {"a", "b"}, {"x"}, {"c", "d", "e"}}}}));
  std::vector<std::pair<size_t, std::string>> seen;
  ForEachEntry(doc, "MATERIAS", [&](size_t position, const Entry& e) {
    seen.emplace_back(position, e.Value(0) + "|" + e.Value(1) + "|" + e.Value(2) + "|" + e.Value(7));
  });
  const std::vector<std::pair<size_t, std::string>> want = {{2, "a|b||"}, {4, "c|d|e|"}};
  EXPECT_EQ(seen, want);
}

TEST(ForEachEntry, CountsOnlySalidaChildrenByPosition) {
  const XmlDocument doc = Load(
      "<SERVICIO><SALIDAS><listasal seq=\"AULAS\"><listasal>"
      "<otro>no</otro><salida dato=\"x\">A1</salida><!-- c --><salida>Aula 1</salida>"
      "<grupo><salida>anidada</salida></grupo><salida>A1B</salida>"
      "</listasal></listasal></SALIDAS></SERVICIO>");
  std::vector<std::string> values;
  ForEachEntry(doc, "AULAS", [&](size_t, const Entry& e) {
    for (size_t k = 0; k < e.Count(); ++k) values.push_back(e.Value(k));
  });
  EXPECT_EQ(values, (std::vector<std::string>{"A1", "Aula 1", "A1B"}));
}

TEST(SelectEntries, NamesListsExactlyAndJoinsListsOfTheSameName) {
  const XmlDocument doc = Load(SauceDoc({{"AULAS", {{"1", "a"}}},
                                         {"materias", {{"2", "b"}}},
                                         {"AULAS", {{"3", "c"}, {"4", "d"}}}}));
  std::vector<std::string> aulas;
  ForEachEntry(doc, "AULAS", [&](size_t, const Entry& e) { aulas.push_back(e.Value(0)); });
  EXPECT_EQ(aulas, (std::vector<std::string>{"1", "3", "4"}));
  EXPECT_EQ(SelectEntries(doc, "MATERIAS").Count(), 0u);
  EXPECT_EQ(SelectEntries(doc, "TAREAS").Count(), 0u);
}

TEST(SelectEntries, FindsNothingOutsideServicioSalidas) {
  const std::string docs[] = {
      "<SERVICIO/>",
      "<SERVICIO><OTRAS><listasal seq=\"AULAS\"><listasal><salida>1</salida><salida>2</salida>"
      "</listasal></listasal></OTRAS></SERVICIO>",
      "<OTRO><SALIDAS><listasal seq=\"AULAS\"><listasal><salida>1</salida><salida>2</salida>"
      "</listasal></listasal></SALIDAS></OTRO>",
  };
  for (const auto& xml : docs) {
    SCOPED_TRACE(xml);
    EXPECT_EQ(SelectEntries(Load(xml), "AULAS").Count(), 0u);
  }
  EXPECT_EQ(SelectEntries(XmlDocument(), "AULAS").Count(), 0u);  // a document that did not load
}

TEST(EntryLocation, CountsFromOne) {
  EXPECT_EQ(EntryLocation("MATERIAS", 2), "la entrada 3 de la lista MATERIAS");
}

}  // namespace
}  // namespace tvs
