#include "platform/xml_document.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <functional>
#include <fstream>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

#include "platform/error.h"

namespace tvs {
namespace {

// A document loaded from inline text; the name stands for the file.
XmlDocument Parsed(std::string_view xml) {
  XmlDocument doc;
  doc.LoadFromMemory(xml, "prueba.xml");
  return doc;
}

// Saves and loads again, as a later reader of the saved file would.
XmlDocument Reloaded(const XmlDocument& doc) { return Parsed(doc.SaveToString()); }

std::vector<std::string> Texts(const XmlNodeList& list) {
  std::vector<std::string> texts;
  for (size_t i = 0; i < list.Count(); ++i) texts.push_back(list.Item(i).Text());
  return texts;
}

std::vector<std::string> Names(const XmlNodeList& list) {
  std::vector<std::string> names;
  for (size_t i = 0; i < list.Count(); ++i) names.push_back(list.Item(i).Name());
  return names;
}

std::string ErrorOf(const std::function<void()>& call) {
  try {
    call();
  } catch (const Error& e) {
    return e.what();
  }
  return "";
}

class ScratchFolder {
 public:
  ScratchFolder() {
    std::string pattern = (std::filesystem::temp_directory_path() / "tvs-xml-XXXXXX").string();
    if (mkdtemp(pattern.data()) == nullptr) throw std::runtime_error("mkdtemp failed");
    path_ = pattern;
  }
  ~ScratchFolder() { std::filesystem::remove_all(path_); }
  ScratchFolder(const ScratchFolder&) = delete;
  ScratchFolder& operator=(const ScratchFolder&) = delete;

  std::string Path(const std::string& name) const { return path_ + "/" + name; }
  std::string Write(const std::string& name, std::string_view bytes) const {
    std::ofstream out(Path(name), std::ios::binary);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    return Path(name);
  }
  std::string Read(const std::string& name) const {
    std::ifstream in(Path(name), std::ios::binary);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
  }
  std::vector<std::string> Entries() const {
    std::vector<std::string> names;
    for (const auto& e : std::filesystem::directory_iterator(path_)) names.push_back(e.path().filename());
    return names;
  }

 private:
  std::string path_;
};

constexpr const char kTwoListsOfOneName[] = R"(<SERVICIO>
  <SALIDAS>
    <listasal seq="MATERIAS">
      <listasal><salida>m1</salida><salida>Lengua</salida></listasal>
      <listasal><salida>m2</salida></listasal>
    </listasal>
    <listasal seq="TAREAS">
      <listasal><salida>t1</salida></listasal>
    </listasal>
    <listasal seq="MATERIAS">
      <listasal><salida>m3</salida></listasal>
    </listasal>
  </SALIDAS>
</SERVICIO>)";

// ---- selection -------------------------------------------------------------

TEST(XmlDocumentTest, SelectsEntriesOfSameNamedListsInDocumentOrder) {
  const XmlDocument doc = Parsed(kTwoListsOfOneName);
  ASSERT_TRUE(doc.WellFormed()) << doc.ParseError();
  const XmlNodeList entries = doc.Select(R"(/SERVICIO/SALIDAS/listasal[@seq="MATERIAS"]/listasal)");
  ASSERT_EQ(entries.Count(), 3u);
  std::vector<std::string> first_values;
  for (size_t i = 0; i < entries.Count(); ++i) first_values.push_back(entries.Item(i).Select("salida").Item(0).Text());
  EXPECT_EQ(first_values, (std::vector<std::string>{"m1", "m2", "m3"}));
  // Names are compared exactly.
  EXPECT_EQ(doc.Select(R"(/SERVICIO/SALIDAS/listasal[@seq="materias"]/listasal)").Count(), 0u);
}

TEST(XmlDocumentTest, UnionAndDescendantSelectionsComeInDocumentOrder) {
  const XmlDocument doc = Parsed("<r><b>1</b><a>2</a><c><a>3</a><b>4</b></c><a>5</a></r>");
  EXPECT_EQ(Texts(doc.Select("//a | //b")), (std::vector<std::string>{"1", "2", "3", "4", "5"}));
  EXPECT_EQ(Texts(doc.Select("//b | //a")), (std::vector<std::string>{"1", "2", "3", "4", "5"}));
  EXPECT_EQ(Texts(doc.Select("//a[last()] | /r/b")), (std::vector<std::string>{"1", "3", "5"}));
}

TEST(XmlDocumentTest, ItemPastTheEndAndNullNodesAreSafe) {
  const XmlDocument doc = Parsed(kTwoListsOfOneName);
  const XmlNodeList lists = doc.Select("/SERVICIO/SALIDAS/listasal");
  ASSERT_EQ(lists.Count(), 3u);
  EXPECT_FALSE(lists.Item(2).IsNull());
  EXPECT_TRUE(lists.Item(3).IsNull());
  EXPECT_TRUE(lists.Item(1000).IsNull());
  const XmlNode none = lists.Item(3);
  EXPECT_EQ(none.Name(), "");
  EXPECT_EQ(none.Text(), "");
  EXPECT_EQ(none.Attribute("seq"), "");
  EXPECT_FALSE(none.HasAttribute("seq"));
  EXPECT_EQ(none.Select("salida").Count(), 0u);
  EXPECT_EQ(none.ChildElements("salida").Count(), 0u);
  EXPECT_TRUE(none.SelectFirst("salida").IsNull());
  EXPECT_EQ(doc.Select("/SERVICIO/NADA").Count(), 0u);
  EXPECT_TRUE(XmlNodeList().Item(0).IsNull());
}

TEST(XmlDocumentTest, RelativeSelectionStartsAtTheNode) {
  const XmlDocument doc = Parsed(kTwoListsOfOneName);
  const XmlNode tareas = doc.Select(R"(//listasal[@seq="TAREAS"])").Item(0);
  ASSERT_FALSE(tareas.IsNull());
  EXPECT_EQ(Texts(tareas.Select("listasal/salida")), (std::vector<std::string>{"t1"}));
  EXPECT_EQ(tareas.Select("salida").Count(), 0u);  // only the entries hold salida
  EXPECT_EQ(tareas.SelectFirst("..").Name(), "SALIDAS");
  const XmlNode salidas = doc.Root().SelectFirst("SALIDAS");
  EXPECT_EQ(salidas.Name(), "SALIDAS");
  EXPECT_TRUE(doc.Root().SelectFirst("ERROR").IsNull());
}

TEST(XmlDocumentTest, ChildElementsAreTheRelativeSelectionByName) {
  const XmlDocument doc = Parsed(
      "<listasal>x<salida>a</salida><!-- c --><otro>no</otro><salida>b<salida>inner</salida></salida>"
      "<?pi salida?><salida/></listasal>");
  const XmlNode entry = doc.Root();
  const XmlNodeList by_name = entry.ChildElements("salida");
  const XmlNodeList by_xpath = entry.Select("salida");
  ASSERT_EQ(by_name.Count(), 3u);
  ASSERT_EQ(by_xpath.Count(), by_name.Count());
  for (size_t i = 0; i < by_name.Count(); ++i) EXPECT_TRUE(by_name.Item(i) == by_xpath.Item(i)) << i;
  EXPECT_EQ(Texts(by_name), (std::vector<std::string>{"a", "binner", ""}));
  EXPECT_EQ(entry.ChildElements("nada").Count(), 0u);
}

TEST(XmlDocumentTest, BadOrNonNodeExpressionsThrow) {
  const XmlDocument doc = Parsed("<r><a/></r>");
  for (const char* expression : {"//a[", "/r/@@", "", "count(//a)", "string(/r)"}) {
    const std::string message = ErrorOf([&] { doc.Select(expression); });
    EXPECT_NE(message.find(std::string("«") + expression + "»"), std::string::npos)
        << expression << ": " << message;
  }
  EXPECT_NE(ErrorOf([&] { doc.Root().Select("a]"); }), "");
  EXPECT_EQ(XmlDocument().Select("//a[").Count(), 0u);  // nothing loaded: nothing to select from
}

// ---- reading text and attributes -----------------------------------------

TEST(XmlDocumentTest, TextHoldsAllDescendants) {
  const XmlDocument doc = Parsed(
      "<salida> A<b>b<c>c</c></b><![CDATA[<d>]]>&amp;&#xE9;&#8364;<!-- not text --><?pi no?> </salida>");
  EXPECT_EQ(doc.Root().Text(), " Abc<d>&\xC3\xA9\xE2\x82\xAC ");
  EXPECT_EQ(doc.Root().Name(), "salida");
}

TEST(XmlDocumentTest, AttributesReadByName) {
  const XmlDocument doc = Parsed(R"(<r><salida dato="X_TRAMO" vacio="" esc="a &amp; &lt;b&gt; &#xF1;">7</salida></r>)");
  const XmlNode salida = doc.Root().SelectFirst("salida");
  EXPECT_EQ(salida.Attribute("dato"), "X_TRAMO");
  EXPECT_TRUE(salida.HasAttribute("dato"));
  EXPECT_EQ(salida.Attribute("esc"), "a & <b> \xC3\xB1");
  EXPECT_EQ(salida.Attribute("vacio"), "");
  EXPECT_TRUE(salida.HasAttribute("vacio"));
  EXPECT_EQ(salida.Attribute("falta"), "");
  EXPECT_FALSE(salida.HasAttribute("falta"));
  EXPECT_EQ(salida.Attribute("DATO"), "");  // names are compared exactly
  EXPECT_EQ(doc.Select("//@dato").Item(0).Text(), "X_TRAMO");
}

// ---- changing the tree -----------------------------------------------------

TEST(XmlDocumentTest, RemoveChildRefusesWhatIsNotADirectChild) {
  XmlDocument doc = Parsed("<r><a><b/></a><c/></r>");
  XmlNode root = doc.Root();
  const XmlNode a = root.SelectFirst("a");
  const XmlNode b = a.SelectFirst("b");
  EXPECT_NE(ErrorOf([&] { root.RemoveChild(b); }).find("no es hijo"), std::string::npos);
  EXPECT_NE(ErrorOf([&] { root.RemoveChild(XmlNode()); }), "");
  EXPECT_NE(ErrorOf([&] { root.RemoveChild(root); }), "");
  EXPECT_NE(ErrorOf([&] { XmlNode().RemoveChild(a); }), "");
  XmlDocument other = Parsed("<r><a/></r>");
  EXPECT_NE(ErrorOf([&] { root.RemoveChild(other.Root().SelectFirst("a")); }), "");
  EXPECT_EQ(root.Select("*").Count(), 2u);  // nothing was removed by the failures

  root.RemoveChild(a);
  EXPECT_EQ(Names(root.Select("*")), (std::vector<std::string>{"c"}));
  EXPECT_EQ(Reloaded(doc).Root().Select("//b").Count(), 0u);
}

TEST(XmlDocumentTest, BuildsElementsThatReadBackAfterSave) {
  XmlDocument doc = Parsed("<SERVICIO><ENTRADAS/><SALIDAS><viejo/></SALIDAS><OTRO/></SERVICIO>");
  XmlNode root = doc.Root();
  root.RemoveChild(root.SelectFirst("SALIDAS"));
  XmlNode salidas = doc.CreateElement("SALIDAS");
  root.AppendChild(salidas);
  XmlNode error = doc.CreateElement("ERROR");
  salidas.AppendChild(error);
  for (const auto& [dato, text] : std::vector<std::pair<std::string, std::string>>{
           {"CN_ERROR", "0"}, {"TE_ERROR", "Servicio finalizado Correctamente"}, {"REGISTROS RECUPERADOS", ""}}) {
    XmlNode salida = doc.CreateElement("salida");
    salida.SetAttribute("dato", dato);
    salida.SetText(text);
    error.AppendChild(salida);
  }

  const XmlDocument back = Reloaded(doc);
  ASSERT_TRUE(back.WellFormed()) << back.ParseError();
  EXPECT_EQ(Names(back.Select("/SERVICIO/*")), (std::vector<std::string>{"ENTRADAS", "OTRO", "SALIDAS"}));
  EXPECT_EQ(back.Select("//viejo").Count(), 0u);
  const XmlNodeList values = back.Select("/SERVICIO/SALIDAS/ERROR/salida");
  ASSERT_EQ(values.Count(), 3u);
  EXPECT_EQ(values.Item(1).Attribute("dato"), "TE_ERROR");
  EXPECT_EQ(values.Item(1).Text(), "Servicio finalizado Correctamente");
  EXPECT_EQ(values.Item(2).Attribute("dato"), "REGISTROS RECUPERADOS");
  EXPECT_EQ(values.Item(2).Text(), "");
}

TEST(XmlDocumentTest, SetTextReplacesAllContentAndSetAttributeReplacesTheValue) {
  XmlDocument doc = Parsed(R"(<r><e dato="viejo">uno<hijo>dos</hijo>tres</e></r>)");
  XmlNode e = doc.Root().SelectFirst("e");
  e.SetText("nuevo");
  e.SetAttribute("dato", "otro");
  EXPECT_EQ(e.Text(), "nuevo");
  EXPECT_EQ(e.Select("*").Count(), 0u);
  EXPECT_EQ(e.Attribute("dato"), "otro");
  e.SetText("");
  EXPECT_EQ(Reloaded(doc).Root().SelectFirst("e").Text(), "");
  EXPECT_EQ(doc.SaveToString().find("viejo"), std::string::npos);
}

TEST(XmlDocumentTest, ChangesOnMissingOrWrongNodesThrow) {
  XmlDocument doc = Parsed("<r><a/></r>");
  XmlNode root = doc.Root();
  XmlNode loose = doc.CreateElement("x");
  EXPECT_NE(ErrorOf([&] { XmlNode().AppendChild(loose); }), "");
  EXPECT_NE(ErrorOf([&] { root.AppendChild(XmlNode()); }), "");
  EXPECT_NE(ErrorOf([&] { root.AppendChild(root.SelectFirst("a")); }), "");  // already has a parent
  XmlDocument other = Parsed("<r/>");
  EXPECT_NE(ErrorOf([&] { root.AppendChild(other.CreateElement("y")); }), "");
  EXPECT_NE(ErrorOf([&] { XmlNode().SetAttribute("dato", "v"); }), "");
  EXPECT_NE(ErrorOf([&] { XmlNode().SetText("t"); }), "");
  EXPECT_NE(ErrorOf([&] { doc.CreateElement("no valido"); }), "");
  EXPECT_NE(ErrorOf([&] { XmlDocument().CreateElement("x"); }), "");
  // Characters a saved document cannot hold are refused, naming the value.
  EXPECT_NE(ErrorOf([&] { root.SetText(std::string("a\x01" "b")); }).find("código 1"), std::string::npos);
  EXPECT_NE(ErrorOf([&] { root.SetAttribute("dato", "\xC3"); }).find("UTF-8"), std::string::npos);
  root.AppendChild(loose);
  EXPECT_EQ(Names(root.Select("*")), (std::vector<std::string>{"a", "x"}));
}

TEST(XmlDocumentTest, MarkupCharactersAreEscapedAndReadBack) {
  const std::string texts[] = {
      "A & B <c>", "&amp; ya escrito", "&#233; no es una referencia", "a]]>b", R"("comillas" y 'apostrofes')",
      "tab\tsalto\nfin", "cr\r\nlf", "  blancos  ", "\xC3\x91" "and\xC3\xBA \xE2\x82\xAC",
  };
  for (const char* prolog : {"", R"(<?xml version="1.0" encoding="ISO-8859-1"?>)"}) {
    XmlDocument doc = Parsed(std::string(prolog) + "<r/>");
    int i = 0;
    for (const auto& text : texts) {
      XmlNode e = doc.CreateElement("e" + std::to_string(i++));
      e.SetText(text);
      e.SetAttribute("dato", text);
      doc.Root().AppendChild(e);
    }
    const XmlDocument back = Reloaded(doc);
    ASSERT_TRUE(back.WellFormed()) << back.ParseError() << "\n" << doc.SaveToString();
    i = 0;
    for (const auto& text : texts) {
      const XmlNode e = back.Root().SelectFirst("e" + std::to_string(i++));
      EXPECT_EQ(e.Text(), text) << "prolog '" << prolog << "'";
      EXPECT_EQ(e.Attribute("dato"), text) << "prolog '" << prolog << "'";
    }
  }
}

// ---- saving ------------------------------------------------------------------

TEST(XmlDocumentTest, SaveKeepsTheLatin1PrologAndWritesSingleBytes) {
  const std::string prolog =
      "<?xml version=\"1.0\" encoding=\"ISO-8859-1\"?>\n"
      "<!-- exportado por Sauce -->\n"
      "<?sauce version=\"3\"?>\n";
  XmlDocument doc = Parsed(prolog + "<SERVICIO modulo=\"Horarios \xC1\">Espa\xF1" "a</SERVICIO>");
  ASSERT_TRUE(doc.WellFormed()) << doc.ParseError();
  EXPECT_EQ(doc.Root().Text(), "Espa\xC3\xB1" "a");  // read as UTF-8
  XmlNode added = doc.CreateElement("salida");
  added.SetText("Educaci\xC3\xB3n \xE2\x82\xAC");  // ó, and € which Latin-1 lacks
  doc.Root().AppendChild(added);

  const std::string saved = doc.SaveToString();
  EXPECT_EQ(saved.substr(0, prolog.size()), prolog);
  EXPECT_NE(saved.find("Espa\xF1" "a"), std::string::npos);
  EXPECT_NE(saved.find("Horarios \xC1"), std::string::npos);
  EXPECT_NE(saved.find("Educaci\xF3n "), std::string::npos);
  EXPECT_EQ(saved.find("\xC3"), std::string::npos);  // no UTF-8 sequence anywhere
  const XmlDocument back = Parsed(saved);
  EXPECT_EQ(back.Root().SelectFirst("salida").Text(), "Educaci\xC3\xB3n \xE2\x82\xAC");
  EXPECT_EQ(back.Root().Attribute("modulo"), "Horarios \xC3\x81");
}

TEST(XmlDocumentTest, SaveWritesTheDeclarationAsTheFileHadIt) {
  const struct {
    const char* label;
    std::string input;
    std::string expected_start;
  } cases[] = {
      {"single quotes and lower case", "<?xml version='1.0' encoding='iso-8859-1' standalone='yes'?><r>\xE9</r>",
       "<?xml version='1.0' encoding='iso-8859-1' standalone='yes'?>\n<r>\xE9</r>"},
      {"declaration without encoding", "<?xml version=\"1.0\"?>\n<r>\xC3\xA9</r>",
       "<?xml version=\"1.0\"?>\n<r>\xC3\xA9</r>"},
      {"UTF-8 with byte order mark", "\xEF\xBB\xBF<?xml version=\"1.0\" encoding=\"UTF-8\"?><r>\xC3\xA9</r>",
       "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<r>\xC3\xA9</r>"},
      {"no declaration: none written, UTF-8", "<!-- c --><r a=\"\xC3\x91\">\xC3\xA9</r>",
       "<!-- c -->\n<r a=\"\xC3\x91\">\xC3\xA9</r>"},
  };
  for (const auto& c : cases) {
    const XmlDocument doc = Parsed(c.input);
    ASSERT_TRUE(doc.WellFormed()) << c.label << ": " << doc.ParseError();
    EXPECT_EQ(doc.SaveToString().substr(0, c.expected_start.size()), c.expected_start) << c.label;
  }
}

TEST(XmlDocumentTest, SaveWritesTheFileAndReplacesAnEarlierOne) {
  ScratchFolder folder;
  XmlDocument doc = Parsed("<?xml version=\"1.0\" encoding=\"ISO-8859-1\"?><r>\xE1</r>");
  folder.Write("ResultadoVelmarHORARIO.XML", "antiguo");
  doc.Save(folder.Path("ResultadoVelmarHORARIO.XML"));
  EXPECT_EQ(folder.Read("ResultadoVelmarHORARIO.XML"), doc.SaveToString());
  EXPECT_EQ(folder.Entries(), (std::vector<std::string>{"ResultadoVelmarHORARIO.XML"}));  // no temporary left

  const std::string missing = folder.Path("no-existe/salida.xml");
  EXPECT_NE(ErrorOf([&] { doc.Save(missing); }).find(missing), std::string::npos);
  EXPECT_NE(ErrorOf([&] { XmlDocument().Save(folder.Path("vacio.xml")); }), "");
  EXPECT_FALSE(std::filesystem::exists(folder.Path("vacio.xml")));
}

// ---- loading -----------------------------------------------------------------

TEST(XmlDocumentTest, LoadsFromAFileAndReplacesWhatItHeld) {
  ScratchFolder folder;
  const std::string path = folder.Write("sauce.xml", kTwoListsOfOneName);
  XmlDocument doc = Parsed("<otro/>");
  doc.Load(path);
  EXPECT_TRUE(doc.WellFormed());
  EXPECT_EQ(doc.SourceName(), path);
  EXPECT_EQ(doc.Root().Name(), "SERVICIO");
  doc.LoadFromMemory("<a><b>", "roto.xml");
  EXPECT_FALSE(doc.WellFormed());
  EXPECT_TRUE(doc.Root().IsNull());
  EXPECT_EQ(doc.Select("//listasal").Count(), 0u);

  XmlDocument moved = std::move(doc);
  EXPECT_EQ(moved.SourceName(), "roto.xml");
  moved.Load(path);
  XmlDocument target;
  target = std::move(moved);
  EXPECT_EQ(target.Root().Name(), "SERVICIO");
}

TEST(XmlDocumentTest, EmptyDocumentHasNoNodes) {
  const XmlDocument doc;
  EXPECT_FALSE(doc.WellFormed());
  EXPECT_EQ(doc.ParseError(), "");
  EXPECT_TRUE(doc.Root().IsNull());
  EXPECT_EQ(doc.Select("/SERVICIO").Count(), 0u);
  EXPECT_NE(ErrorOf([&] { doc.SaveToString(); }), "");
}

TEST(XmlDocumentTest, LoadOfAFileThatCannotBeReadThrows) {
  ScratchFolder folder;
  const std::string missing = folder.Path("no-existe.xml");
  XmlDocument doc;
  EXPECT_NE(ErrorOf([&] { doc.Load(missing); }).find(missing), std::string::npos);
  EXPECT_NE(ErrorOf([&] { doc.LoadWellFormed(missing); }).find(missing), std::string::npos);
  if (geteuid() != 0) {  // root reads every file
    const std::string locked = folder.Write("cerrado.xml", "<r/>");
    chmod(locked.c_str(), 0);
    EXPECT_NE(ErrorOf([&] { doc.Load(locked); }).find(locked), std::string::npos);
  }
}

TEST(XmlDocumentTest, NotWellFormedGivesTheMessageAndLine) {
  const struct {
    const char* label;
    std::string xml;
    int line;
  } cases[] = {
      {"tags crossed", "<r>\n<a>\n<b></a>\n</r>", 3},
      {"unclosed root", "<r>\n<a/>\n", 3},
      {"bare ampersand", "<r>\n\nA & B</r>", 3},
      {"two roots", "<r/>\n<s/>", 2},
      {"undeclared entity", "<r>&nada;</r>", 1},
      {"unknown encoding", "<?xml version=\"1.0\" encoding=\"X-NADA\"?><r/>", 1},
      {"not XML", "hola", 1},
  };
  for (const auto& c : cases) {
    const XmlDocument doc = Parsed(c.xml);
    EXPECT_FALSE(doc.WellFormed()) << c.label;
    EXPECT_TRUE(doc.Root().IsNull()) << c.label;
    EXPECT_NE(doc.ParseError(), "") << c.label;
    EXPECT_EQ(doc.ParseErrorLine(), c.line) << c.label << ": " << doc.ParseError();
    EXPECT_EQ(doc.ParseError().find('\n'), std::string::npos) << c.label;
  }
  const XmlDocument empty = Parsed("");
  EXPECT_FALSE(empty.WellFormed());
  EXPECT_NE(empty.ParseError(), "");
}

TEST(XmlDocumentTest, LoadWellFormedNamesTheFileAndLine) {
  ScratchFolder folder;
  const std::string path = folder.Write("roto.xml", "<SERVICIO>\n<SALIDAS>\n</SERVICIO>\n");
  XmlDocument doc;
  const std::string message = ErrorOf([&] { doc.LoadWellFormed(path); });
  EXPECT_EQ(message.rfind("El archivo «" + path + "» no es un documento XML válido (línea 3: ", 0), 0u) << message;
  EXPECT_EQ(message.back(), ')');
  EXPECT_EQ(doc.ParseErrorLine(), 3);

  const std::string good = folder.Write("bien.xml", kTwoListsOfOneName);
  doc.LoadWellFormed(good);
  EXPECT_TRUE(doc.WellFormed());
  EXPECT_EQ(doc.ParseError(), "");
}

TEST(XmlDocumentTest, ParserMessagesDoNotReachStandardError) {
  testing::internal::CaptureStderr();
  const XmlDocument broken = Parsed("<r>\n<a></b>\n</r>");
  const XmlDocument warned = Parsed("<?xml version=\"1.1\"?><!DOCTYPE r SYSTEM \"nada.dtd\"><r>&nada;</r>");
  EXPECT_NE(ErrorOf([&] { warned.Select("//a["); }), "");
  const std::string written = testing::internal::GetCapturedStderr();
  EXPECT_EQ(written, "");
  EXPECT_FALSE(broken.WellFormed());
  EXPECT_TRUE(warned.WellFormed()) << warned.ParseError();
}

// ---- hostile documents ---------------------------------------------------------

TEST(XmlDocumentTest, ExternalEntitiesAreNeverRead) {
  ScratchFolder folder;
  const std::string secret = "SECRETO-7f3a";
  const std::string secret_path = folder.Write("secreto.txt", secret);
  const std::string dtd_path =
      folder.Write("externo.dtd", "<!ENTITY s \"" + secret + "\"><!ATTLIST r a CDATA \"" + secret + "\">");

  // Declared in the internal subset: refused as a whole.
  for (const std::string& uri : {secret_path, "file://" + secret_path}) {
    XmlDocument doc;
    doc.Load(folder.Write("entidad.xml", "<!DOCTYPE r [\n<!ENTITY s SYSTEM \"" + uri + "\">\n]>\n<r>&s;</r>"));
    EXPECT_FALSE(doc.WellFormed()) << uri;
    EXPECT_EQ(doc.ParseError(), "el documento declara entidades, que no se admiten");
    EXPECT_EQ(doc.ParseErrorLine(), 2);
    EXPECT_EQ(doc.ParseError().find(secret), std::string::npos);
  }

  // Declared in an external DTD: the DTD is not loaded, the reference stays
  // empty and no default attribute appears.
  XmlDocument doc;
  doc.Load(folder.Write("dtd.xml", "<!DOCTYPE r SYSTEM \"" + dtd_path + "\"><r>antes &s; despues</r>"));
  ASSERT_TRUE(doc.WellFormed()) << doc.ParseError();
  EXPECT_EQ(doc.Root().Text().find(secret), std::string::npos) << doc.Root().Text();
  EXPECT_EQ(doc.Root().Attribute("a"), "");
  EXPECT_EQ(doc.SaveToString().find(secret), std::string::npos);
}

TEST(XmlDocumentTest, EntityDeclarationsAreRefusedQuickly) {
  // One 100 KB entity referenced 50 000 times would expand to 5 GB of text.
  std::string amplification = "<!DOCTYPE r [<!ENTITY big \"" + std::string(100000, 'x') + "\">]><r>";
  for (int i = 0; i < 50000; ++i) amplification += "&big;";
  amplification += "</r>";
  // Ten levels of ten references each: 10^10 copies when expanded.
  std::string laughs = "<!DOCTYPE r [<!ENTITY l0 \"ja\">";
  for (int i = 1; i <= 10; ++i) {
    laughs += "<!ENTITY l" + std::to_string(i) + " \"";
    for (int k = 0; k < 10; ++k) laughs += "&l" + std::to_string(i - 1) + ";";
    laughs += "\">";
  }
  laughs += "]><r>&l10;</r>";
  const std::string kRefused = "el documento declara entidades, que no se admiten";
  const struct {
    const char* label;
    std::string xml;
    std::string error;  // "" for the parser's own message
  } cases[] = {
      {"amplification", amplification, kRefused},
      {"billion laughs", laughs, ""},  // the parser stops at the loop by itself
      {"parameter entity", "<!DOCTYPE r [<!ENTITY % p \"<!ELEMENT r ANY>\"> %p;]><r/>", kRefused},
      {"unused entity", "<!DOCTYPE r [<!ENTITY nunca \"usada\">]><r/>", kRefused},
  };
  for (const auto& c : cases) {
    const XmlDocument doc = Parsed(c.xml);
    EXPECT_FALSE(doc.WellFormed()) << c.label;
    if (c.error.empty()) {
      EXPECT_NE(doc.ParseError(), "") << c.label;
    } else {
      EXPECT_EQ(doc.ParseError(), c.error) << c.label;
    }
    // Not Text(): on an accepted amplification it would build gigabytes.
    EXPECT_TRUE(doc.Root().IsNull()) << c.label;
  }
  // A document type without entities is fine.
  EXPECT_TRUE(Parsed("<!DOCTYPE r [<!ELEMENT r ANY>]><r/>").WellFormed());
}

// ---- size ----------------------------------------------------------------------

TEST(XmlDocumentTest, LargeDocumentsSelectEveryEntryInOrder) {
  // About 30 MB: 110 000 entries of three values in the list that is read,
  // behind a list of the same size that is not.
  constexpr int kEntries = 110000;
  std::string xml = "<?xml version=\"1.0\" encoding=\"ISO-8859-1\"?>\n<SERVICIO><SALIDAS>\n";
  for (const char* list : {"PROFESORES", "MATERIAS"}) {
    xml += std::string("<listasal seq=\"") + list + "\">\n";
    for (int i = 0; i < kEntries; ++i) {
      const std::string n = std::to_string(i);
      xml += "  <listasal>\n    <salida>" + n + "</salida>\n    <salida> Asignatura n\xFA" "mero " + n +
             " </salida>\n    <salida dato=\"X\">" + n + "</salida>\n  </listasal>\n";
    }
    xml += "</listasal>\n";
  }
  xml += "</SALIDAS></SERVICIO>\n";
  ASSERT_GT(xml.size(), 25u * 1000 * 1000);

  const XmlDocument doc = Parsed(xml);
  ASSERT_TRUE(doc.WellFormed()) << doc.ParseError();
  const XmlNodeList entries = doc.Select(R"(/SERVICIO/SALIDAS/listasal[@seq="MATERIAS"]/listasal)");
  ASSERT_EQ(entries.Count(), static_cast<size_t>(kEntries));
  size_t total = 0;
  for (size_t i = 0; i < entries.Count(); ++i) {
    const XmlNodeList values = entries.Item(i).ChildElements("salida");
    ASSERT_EQ(values.Count(), 3u);
    total += values.Item(1).Text().size();
  }
  // Relative selections on a sample of the entries.
  for (size_t i = 0; i < entries.Count(); i += 997) {
    EXPECT_EQ(entries.Item(i).Select("salida").Item(0).Text(), std::to_string(i));
  }
  EXPECT_EQ(doc.Select("//listasal[@seq]/listasal").Count(), 2u * kEntries);
  EXPECT_GT(total, 0u);
  EXPECT_EQ(entries.Item(kEntries - 1).ChildElements("salida").Item(1).Text(),
            " Asignatura n\xC3\xBAmero " + std::to_string(kEntries - 1) + " ");
}

}  // namespace
}  // namespace tvs
