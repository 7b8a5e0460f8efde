// The lighter ways of the XML layer: loads that leave parts out of the tree
// (a root child, the blanks of a document only read) and saves that splice a
// fragment in as text. Each is checked against the plain way it stands for:
// a full load, a removal after loading, a fragment appended as nodes.
#include <gtest/gtest.h>
#include <libxml/tree.h>

#include <filesystem>
#include <fstream>
#include <functional>
#include <sstream>
#include <string>
#include <vector>

#include "platform/error.h"
#include "platform/files.h"
#include "platform/xml_document.h"

namespace tvs {
namespace {

XmlDocument Parsed(std::string_view xml, const XmlLoadOptions& options = {}) {
  XmlDocument doc;
  doc.LoadFromMemory(xml, "prueba.xml", options);
  EXPECT_TRUE(doc.WellFormed()) << doc.ParseError();
  return doc;
}

std::string ErrorOf(const std::function<void()>& call) {
  try {
    call();
  } catch (const Error& e) {
    return e.what();
  }
  return "";
}

std::string Joined(const std::vector<std::string_view>& pieces) {
  std::string text;
  for (std::string_view piece : pieces) text += piece;
  return text;
}

// The kinds of the node's children, in order: 'e' element, 't' text, 'c'
// comment and so on.
std::string ChildKinds(XmlNode node) {
  std::string kinds;
  for (const xmlNode* child = node.raw()->children; child != nullptr; child = child->next) {
    switch (child->type) {
      case XML_ELEMENT_NODE: kinds += 'e'; break;
      case XML_TEXT_NODE: kinds += 't'; break;
      case XML_COMMENT_NODE: kinds += 'c'; break;
      case XML_CDATA_SECTION_NODE: kinds += 'd'; break;
      case XML_PI_NODE: kinds += 'p'; break;
      default: kinds += '?';
    }
  }
  return kinds;
}

// UTF-8 (of the Basic Multilingual Plane) as UTF-16 little endian with a
// byte order mark.
std::string Utf16(std::string_view utf8) {
  std::string out = "\xFF\xFE";
  for (size_t i = 0; i < utf8.size();) {
    const auto b = static_cast<unsigned char>(utf8[i]);
    unsigned cp = b;
    int length = 1;
    if (b >= 0xE0) cp = b & 0x0F, length = 3;
    else if (b >= 0xC0) cp = b & 0x1F, length = 2;
    for (int k = 1; k < length; ++k) cp = (cp << 6) | (static_cast<unsigned char>(utf8[i + k]) & 0x3F);
    i += length;
    out += static_cast<char>(cp & 0xFF);
    out += static_cast<char>(cp >> 8);
  }
  return out;
}

class ScratchFolder {
 public:
  ScratchFolder() {
    std::string pattern = (std::filesystem::temp_directory_path() / "tvs-xmlsave-XXXXXX").string();
    if (mkdtemp(pattern.data()) == nullptr) throw std::runtime_error("mkdtemp failed");
    path_ = pattern;
  }
  ~ScratchFolder() {
    SetWriteFaultForTesting(nullptr);
    std::filesystem::remove_all(path_);
  }
  ScratchFolder(const ScratchFolder&) = delete;
  ScratchFolder& operator=(const ScratchFolder&) = delete;
  std::string Path(const std::string& name) const { return path_ + "/" + name; }
  std::vector<std::string> Entries() const {
    std::vector<std::string> names;
    for (const auto& e : std::filesystem::directory_iterator(path_)) names.push_back(e.path().filename());
    return names;
  }

 private:
  std::string path_;
};

std::string ReadBytes(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream s;
  s << in.rdbuf();
  return s.str();
}

// ---- leaving a root child out --------------------------------------------------

XmlLoadOptions Skipping(const std::string& name) {
  XmlLoadOptions options;
  options.skip_root_child = name;
  return options;
}

TEST(XmlLoadSaveTest, LeavingTheRootChildOutSavesWhatRemovingItAfterLoadingSaves) {
  const struct {
    const char* label;
    const char* xml;
    bool has_one;
  } cases[] = {
      {"between other children, indented",
       "<?xml version=\"1.0\" encoding=\"ISO-8859-1\"?>\n<!-- c -->\n<SERVICIO a=\"1\">\n  <CABECERA>c\xE1</CABECERA>\n"
       "  <SALIDAS>\n    <listasal seq=\"M\"><salida>x</salida></listasal>\n  </SALIDAS>\n  <ENTRADAS/>\n</SERVICIO>\n",
       true},
      {"text, comments and sections inside and around",
       "<R>a<SALIDAS>t<!--c--><?p d?><![CDATA[<z>]]>&amp;&#65;<i><SALIDAS/></i></SALIDAS>b<!--after--></R>", true},
      {"the second of two stays", "<R><SALIDAS><a/></SALIDAS> <B/> <SALIDAS><c/></SALIDAS></R>", true},
      {"a deeper one first", "<R><A><SALIDAS/></A>\n<SALIDAS><b/></SALIDAS></R>", true},
      {"prefixed or in a namespace: not it",
       "<R xmlns:p=\"urn:p\"><p:SALIDAS/><SALIDAS xmlns=\"urn:q\"/><SALIDAS>x</SALIDAS></R>", true},
      {"the root's own name", "<SALIDAS>\n<SALIDAS>in</SALIDAS>\n</SALIDAS>", true},
      {"an empty element", "<R>\n<SALIDAS/>\n</R>", true},
      {"none", "<R><salidas/><X><SALIDAS/></X></R>", false},
      {"all in a namespace", "<R xmlns=\"urn:r\"><SALIDAS/></R>", false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.label);
    XmlDocument full = Parsed(c.xml);
    const XmlNode first = full.Root().ChildElements("SALIDAS").Item(0);
    ASSERT_EQ(static_cast<bool>(first), c.has_one);
    if (first) full.Root().RemoveChild(first);

    const XmlDocument skipped = Parsed(c.xml, Skipping("SALIDAS"));
    EXPECT_EQ(skipped.SaveToString(), full.SaveToString());
    EXPECT_EQ(skipped.SkippedRootChild(), c.has_one ? "SALIDAS" : "");
  }
}

TEST(XmlLoadSaveTest, WhatIsLeftOutMustStillBeWellFormed) {
  XmlDocument doc;
  doc.LoadFromMemory("<R>\n<SALIDAS>\n<a></b>\n</SALIDAS>\n</R>", "roto.xml", Skipping("SALIDAS"));
  EXPECT_FALSE(doc.WellFormed());
  EXPECT_EQ(doc.ParseErrorLine(), 3);
  EXPECT_FALSE(doc.Root());
  EXPECT_EQ(doc.SkippedRootChild(), "");

  doc.LoadFromMemory("<!DOCTYPE R [<!ENTITY e \"x\">]><R><SALIDAS>&e;</SALIDAS></R>", "entidad.xml",
                     Skipping("SALIDAS"));
  EXPECT_FALSE(doc.WellFormed()) << "entity declarations are refused all the same";
}

// ---- read-only loads --------------------------------------------------------------

XmlLoadOptions ReadOnly() {
  XmlLoadOptions options;
  options.read_only = true;
  options.text_element = "salida";
  return options;
}

constexpr const char kEntries[] =
    "<?xml version=\"1.0\" encoding=\"ISO-8859-1\"?>\n"
    "<SERVICIO>\n  <SALIDAS>\n    <listasal seq=\"L\">\n      <listasal>\n"
    "        <salida>  Espa\xF1" "a  </salida>\n"
    "        <salida> </salida>\n"
    "        <salida></salida>\n"
    "        <salida>\n  <b>x</b> <b>y</b>\n  </salida>\n"
    "        <salida>p &#32; q &amp; &#x41;<![CDATA[ c ]]> <!-- n --> r</salida>\n"
    "        <salida><salida> in </salida> out </salida>\n"
    "      </listasal>\n"
    "      <listasal>\r\n\t<salida>a very long value that the compact load cannot keep inside its node</salida>"
    "</listasal>\n    </listasal>\n  </SALIDAS>\n</SERVICIO>\n";

TEST(XmlLoadSaveTest, ReadOnlyLoadGivesTheTextOfEveryTextElementAsAFullLoadDoes) {
  const XmlDocument full = Parsed(kEntries);
  const XmlDocument light = Parsed(kEntries, ReadOnly());
  EXPECT_TRUE(light.ReadOnly());
  const XmlNodeList want = full.Select("//salida");
  const XmlNodeList got = light.Select("//salida");
  ASSERT_EQ(got.Count(), want.Count());
  for (size_t i = 0; i < want.Count(); ++i)
    EXPECT_EQ(got.Item(i).Text(), want.Item(i).Text()) << "salida " << i;
  EXPECT_EQ(light.Select("//listasal[@seq='L']/listasal").Count(), 2u);
  EXPECT_EQ(light.Select("/SERVICIO/SALIDAS/listasal[@seq=\"L\"]/listasal").Item(1).ChildElements("salida").Count(),
            1u);
}

TEST(XmlLoadSaveTest, ReadOnlyLoadLeavesOutOnlyBlanksBetweenMarkup) {
  const XmlDocument doc = Parsed(
      "<R>\n  <a>\n    <salida/>\n  </a>\n  <nota>  x  <i/>  </nota>\n  <ref> &#65; </ref>\n  <vacio>   </vacio>\n</R>",
      ReadOnly());
  EXPECT_EQ(ChildKinds(doc.Root()), "eeee");
  EXPECT_EQ(ChildKinds(doc.Root().SelectFirst("a")), "e");
  EXPECT_EQ(doc.Root().SelectFirst("nota").Text(), "  x  ") << "text that is not blank stays whole";
  EXPECT_EQ(doc.Root().SelectFirst("ref").Text(), " A ") << "a reference does not cut the text";
  EXPECT_EQ(ChildKinds(doc.Root().SelectFirst("vacio")), "");
}

TEST(XmlLoadSaveTest, ReadOnlyDocumentRefusesChangesAndSaves) {
  XmlDocument doc = Parsed("<R><S>t</S><T/></R>", ReadOnly());
  XmlNode s = doc.Root().SelectFirst("S");
  XmlNode t = doc.Root().SelectFirst("T");
  const std::vector<std::pair<const char*, std::function<void()>>> refused = {
      {"SaveToString", [&] { doc.SaveToString(); }},
      {"SaveToStringWithContent", [&] { doc.SaveToStringWithContent(s, {"<x/>"}); }},
      {"CreateElement", [&] { doc.CreateElement("x"); }},
      {"SetText", [&] { s.SetText("u"); }},
      {"SetAttribute", [&] { s.SetAttribute("a", "1"); }},
      {"RemoveChild", [&] { doc.Root().RemoveChild(t); }},
      {"AppendMarkup", [&] { s.AppendMarkup("<x/>"); }},
  };
  for (const auto& [what, call] : refused) EXPECT_NE(ErrorOf(call), "") << what;
  EXPECT_EQ(doc.Root().SelectFirst("S").Text(), "t");
  EXPECT_EQ(doc.Root().ChildElements("T").Count(), 1u);
}

// ---- saving with content ------------------------------------------------------------

constexpr const char kBody[] = "<R><!-- <?tvs-content-0?> --><S><k/>before</S><T/></R>";
// Markup characters, a carriage return, Latin-1, a character Latin-1 lacks
// (€) and one that Windows-1252 lacks too.
const std::vector<std::string_view> kPieces = {
    "<e a=\"x &amp; \xC3\xB1\">Pe\xC3\xB1" "a \xE2\x82\xAC",
    " \xE6\x97\xA5 &amp; &lt;b&gt; &#13;</e>",
    "", "tail<f/>"};

TEST(XmlLoadSaveTest, SaveWithContentWritesWhatAppendingTheMarkupWrites) {
  const struct {
    const char* label;
    std::string document;
  } cases[] = {
      {"no declaration: UTF-8", kBody},
      {"UTF-8", std::string("<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n") + kBody},
      {"ISO-8859-1", std::string("<?xml version=\"1.0\" encoding=\"ISO-8859-1\"?>\n") + kBody},
      {"windows-1252", std::string("<?xml version='1.0' encoding='windows-1252'?>\n") + kBody},
      {"US-ASCII", std::string("<?xml version=\"1.0\" encoding=\"US-ASCII\"?>\n") + kBody},
      {"UTF-16: parsed into the tree", Utf16(std::string("<?xml version=\"1.0\" encoding=\"UTF-16\"?>\n") + kBody)},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.label);
    XmlDocument appended = Parsed(c.document);
    appended.Root().SelectFirst("S").AppendMarkup(Joined(kPieces));
    const std::string want = appended.SaveToString();

    const XmlDocument doc = Parsed(c.document);
    const std::string before = doc.SaveToString();
    EXPECT_EQ(doc.SaveToStringWithContent(doc.Root().SelectFirst("S"), kPieces), want);
    EXPECT_EQ(doc.SaveToString(), before) << "the tree is left as it was";

    const XmlDocument back = Parsed(want);
    EXPECT_EQ(back.Root().SelectFirst("S/e").Text(), "Pe\xC3\xB1" "a \xE2\x82\xAC \xE6\x97\xA5 & <b> \r");
    EXPECT_EQ(back.Root().SelectFirst("S/e").Attribute("a"), "x & \xC3\xB1");
    EXPECT_EQ(ChildKinds(back.Root().SelectFirst("S")), "etete");
  }
}

TEST(XmlLoadSaveTest, SaveWithContentFillsAnEmptyElement) {
  const XmlDocument doc = Parsed("<R><S/><T>t</T></R>");
  const XmlNode s = doc.Root().SelectFirst("S");
  EXPECT_EQ(ChildKinds(Parsed(doc.SaveToStringWithContent(s, {})).Root().SelectFirst("S")), "");
  const XmlDocument back = Parsed(doc.SaveToStringWithContent(s, {"x", "<y/>"}));
  EXPECT_EQ(back.Root().SelectFirst("S").Text(), "x");
  EXPECT_EQ(back.Root().SelectFirst("S/y").Name(), "y");
  EXPECT_EQ(back.Root().SelectFirst("T").Text(), "t");
}

TEST(XmlLoadSaveTest, SaveWithContentRefusesAnElementThatIsNotTheDocuments) {
  const XmlDocument doc = Parsed("<R><S/></R>");
  const XmlDocument other = Parsed("<R><S/></R>");
  EXPECT_NE(ErrorOf([&] { doc.SaveToStringWithContent(other.Root(), {"x"}); }), "");
  EXPECT_NE(ErrorOf([&] { doc.SaveToStringWithContent(XmlNode(), {"x"}); }), "");
  EXPECT_NE(ErrorOf([&] { XmlDocument().SaveToStringWithContent(XmlNode(), {"x"}); }), "");
}

TEST(XmlLoadSaveTest, SaveWithContentToAFileReplacesItWhole) {
  ScratchFolder folder;
  const std::string path = folder.Path("salida.xml");
  const XmlDocument doc = Parsed("<?xml version=\"1.0\" encoding=\"ISO-8859-1\"?><R><S/></R>");
  const XmlNode s = doc.Root().SelectFirst("S");
  std::ofstream(path) << "antes";
  doc.SaveWithContent(path, s, kPieces);
  EXPECT_EQ(ReadBytes(path), doc.SaveToStringWithContent(s, kPieces));
  EXPECT_EQ(folder.Entries(), std::vector<std::string>{"salida.xml"});

  SetWriteFaultForTesting([](const std::string&) { return false; });
  const std::string message = ErrorOf([&] { doc.SaveWithContent(folder.Path("otra.xml"), s, kPieces); });
  EXPECT_NE(message.find(folder.Path("otra.xml")), std::string::npos) << message;
  SetWriteFaultForTesting(nullptr);
  EXPECT_EQ(folder.Entries(), std::vector<std::string>{"salida.xml"});
}

TEST(XmlLoadSaveTest, AppendMarkupAddsTheFragmentOrNothing) {
  XmlDocument doc = Parsed("<R><S>a</S></R>");
  XmlNode s = doc.Root().SelectFirst("S");
  s.AppendMarkup("b<x k=\"1\">&lt;</x><!--c-->");
  EXPECT_EQ(ChildKinds(s), "ttec");
  EXPECT_EQ(s.Text(), "ab<");
  const std::string before = doc.SaveToString();
  for (const char* bad : {"<x>", "</S>", "<x/><", "&nada;"}) {
    const std::string message = ErrorOf([&] { s.AppendMarkup(bad); });
    EXPECT_NE(message, "") << bad;
    EXPECT_EQ(doc.SaveToString(), before) << bad;
  }
  EXPECT_NE(ErrorOf([] { XmlNode().AppendMarkup("<x/>"); }), "");
}

TEST(XmlLoadSaveTest, LoadOfAFolderFailsAsAFileThatCannotBeRead) {
  ScratchFolder folder;
  XmlDocument doc;
  const std::string message = ErrorOf([&] { doc.Load(folder.Path("")); });
  EXPECT_EQ(message.rfind("No se puede leer el archivo ", 0), 0u) << message;
  EXPECT_FALSE(doc.WellFormed());
}

TEST(XmlLoadSaveTest, ContentWriterHandsOnBytesInOrderAndNothingAfterItIsDropped) {
  for (const char* encoding : {"UTF-8", "ISO-8859-1", "windows-1252"}) {
    SCOPED_TRACE(encoding);
    const XmlDocument doc =
        Parsed(std::string("<?xml version=\"1.0\" encoding=\"") + encoding + "\"?>\n<R><S/><T/></R>");
    const XmlNode s = doc.Root().SelectFirst("S");
    std::string bytes;
    {
      XmlContentWriter writer(doc, s, [&bytes](std::string_view b) { bytes += b; });
      const std::string prefix = bytes;
      EXPECT_NE(prefix.find("<R><S>"), std::string::npos) << prefix;
      writer.Write("<a>\xC3\xB1</a>");
      writer.Write("<b/>");
      writer.Finish();
      EXPECT_EQ(bytes, doc.SaveToStringWithContent(s, {"<a>\xC3\xB1</a>", "<b/>"}));
      EXPECT_THROW(writer.Write("<c/>"), Error);
      EXPECT_THROW(writer.Finish(), Error);
    }
    bytes.clear();
    {
      XmlContentWriter dropped(doc, s, [&bytes](std::string_view b) { bytes += b; });
      dropped.Write("<a>x</a>");
    }
    EXPECT_EQ(bytes.find("</R>"), std::string::npos) << "the rest is never written";
  }
}

}  // namespace
}  // namespace tvs
