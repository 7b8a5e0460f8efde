#include "import/sauce_output.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "import/import_test_helpers.h"
#include "platform/codepage.h"
#include "platform/error.h"
#include "platform/files.h"

namespace tvs {
namespace {

using testing::HasNoChildNodes;
using testing::ReadSection;
using testing::RootChildNames;

XmlDocument Loaded(std::string_view xml) {
  XmlDocument doc;
  doc.LoadFromMemory(xml, "HORARIO.XML");
  EXPECT_TRUE(doc.WellFormed()) << doc.ParseError();
  return doc;
}

// Saved and loaded again: what a reader of the file would see.
XmlDocument RoundTrip(const SauceOutput& out) { return Loaded(out.SaveToString()); }

std::string Joined(const std::vector<std::string_view>& pieces) {
  std::string text;
  for (std::string_view piece : pieces) text += piece;
  return text;
}

XmlNode OnlySection(const XmlDocument& doc) {
  const XmlNodeList sections = doc.Root().ChildElements("SALIDAS");
  EXPECT_EQ(sections.Count(), 1u);
  return sections.Item(0);
}

const std::vector<std::pair<std::string, std::string>> ErrorBlock(const std::string& count) {
  return {{"CN_ERROR", "0"},
          {"TE_ERROR", "Servicio finalizado Correctamente"},
          {"REGISTROS RECUPERADOS", count}};
}

TEST(SauceOutputTest, SectionMovesToTheEndAndLosesWhatItHeld) {
  XmlDocument doc = Loaded(
      "<SERVICIO a=\"1\"><CABECERA>c</CABECERA>"
      "<SALIDAS><ERROR><salida dato=\"CN_ERROR\">7</salida></ERROR>"
      "<listasal seq=\"MATERIAS\"><listasal><salida>x</salida></listasal></listasal></SALIDAS>"
      "<ENTRADAS>e</ENTRADAS><OTRO/></SERVICIO>");
  const SauceOutput out = SauceOutput::Start(doc, 3);

  XmlDocument saved = RoundTrip(out);
  EXPECT_EQ(RootChildNames(saved),
            (std::vector<std::string>{"CABECERA", "ENTRADAS", "OTRO", "SALIDAS"}));
  EXPECT_EQ(saved.Root().Attribute("a"), "1");
  EXPECT_EQ(saved.Root().SelectFirst("CABECERA").Text(), "c");
  EXPECT_EQ(saved.Root().SelectFirst("ENTRADAS").Text(), "e");
  const auto section = ReadSection(OnlySection(saved));
  EXPECT_EQ(section.error, ErrorBlock("3"));
  EXPECT_TRUE(section.teachers.empty());
  EXPECT_EQ(saved.Select("//listasal[@seq='MATERIAS']").Count(), 0u);
}

TEST(SauceOutputTest, TeachersAndLessonsStandInTheOrderAdded) {
  XmlDocument doc = Loaded(testing::SauceDocument());
  SauceOutput out = SauceOutput::Start(doc, 12);
  std::vector<SauceOutput::Teacher> teachers;
  for (size_t n = 1; n <= 12; ++n)
    teachers.push_back(out.AddTeacher(n, "E" + std::to_string(n), "F" + std::to_string(n)));
  // Lessons go into the entry they are given, even an earlier one.
  out.AddLesson(teachers[0], 1, {"a1", "1", "t1", "d1", "m1", "u1"});
  out.AddLesson(teachers[9], 1, {"a10", "2", "t2", "d2", "m2", "u2"});
  out.AddLesson(teachers[0], 2, {"a2", "3", "t3", "d3", "m3", "u3"});

  const auto section = ReadSection(OnlySection(RoundTrip(out)));
  EXPECT_EQ(section.error, ErrorBlock("12"));
  ASSERT_EQ(section.teachers.size(), 12u);
  for (size_t n = 1; n <= 12; ++n) {
    const auto& t = section.teachers[n - 1];
    EXPECT_EQ(t.seq, "EMP_" + std::to_string(n));
    EXPECT_EQ(t.x_empleado, "E" + std::to_string(n));
    EXPECT_EQ(t.f_tomapos, "F" + std::to_string(n));
  }
  ASSERT_EQ(section.teachers[0].lessons.size(), 2u);
  EXPECT_EQ(section.teachers[0].lessons[0].seq, "TRAMO_1");
  EXPECT_EQ(section.teachers[0].lessons[0].values,
            (std::array<std::string, 6>{"a1", "1", "t1", "d1", "m1", "u1"}));
  EXPECT_EQ(section.teachers[0].lessons[1].seq, "TRAMO_2");
  EXPECT_EQ(section.teachers[0].lessons[1].values[0], "a2");
  ASSERT_EQ(section.teachers[9].lessons.size(), 1u);
  EXPECT_EQ(section.teachers[9].lessons[0].values[0], "a10");
  EXPECT_TRUE(section.teachers[1].lessons.empty());
}

TEST(SauceOutputTest, ValuesGoInAsUnicodeWithoutTrimming) {
  const std::pair<std::string, std::string> cases[] = {
      {"Pe\xF1" "a", "Peña"},
      {"\x80" "100", "€100"},
      {"  X  ", "  X  "},
      {"A&B<C>\"'", "A&B<C>\"'"},
      {"&amp;", "&amp;"},
      {"\x81\x8D", "\xC2\x81\xC2\x8D"},
      {"tab\there", "tab\there"},
  };
  XmlDocument doc = Loaded(testing::SauceDocument());
  SauceOutput out = SauceOutput::Start(doc, 1);
  for (const auto& [in, want] : cases) {
    const SauceOutput::Teacher teacher = out.AddTeacher(1, in, in);
    out.AddLesson(teacher, 1, {in, in, in, in, in, in});
  }
  const auto section = ReadSection(OnlySection(RoundTrip(out)));
  ASSERT_EQ(section.teachers.size(), std::size(cases));
  for (size_t i = 0; i < std::size(cases); ++i) {
    SCOPED_TRACE(cases[i].second);
    const auto& t = section.teachers[i];
    EXPECT_EQ(t.x_empleado, cases[i].second);
    EXPECT_EQ(t.f_tomapos, cases[i].second);
    ASSERT_EQ(t.lessons.size(), 1u);
    for (const std::string& v : t.lessons[0].values) EXPECT_EQ(v, cases[i].second);
  }
}

TEST(SauceOutputTest, EmptyValueGivesASalidaWithoutContent) {
  XmlDocument doc = Loaded(testing::SauceDocument());
  SauceOutput out = SauceOutput::Start(doc, 1);
  const SauceOutput::Teacher teacher = out.AddTeacher(1, "", "F");
  out.AddLesson(teacher, 1, {"", "2", "", "", "", ""});

  auto check = [](const XmlDocument& view) {
    const XmlNode lesson = view.Select("//listasal[@seq='TRAMO_1']").Item(0);
    ASSERT_TRUE(lesson);
    const XmlNodeList salidas = lesson.ChildElements("salida");
    ASSERT_EQ(salidas.Count(), 6u);
    for (size_t i : {0u, 2u, 3u, 4u, 5u}) {
      EXPECT_TRUE(HasNoChildNodes(salidas.Item(i))) << salidas.Item(i).Attribute("dato");
      EXPECT_TRUE(salidas.Item(i).HasAttribute("dato"));
    }
    EXPECT_EQ(salidas.Item(1).Text(), "2");
    EXPECT_TRUE(HasNoChildNodes(view.Select("//salida[@dato='X_EMPLEADO']").Item(0)));
  };
  {
    SCOPED_TRACE("saved and loaded");
    check(RoundTrip(out));
  }
  {
    // As a save to a 16-bit encoding puts it for the time of the save.
    SCOPED_TRACE("parsed into the tree");
    out.section().AppendMarkup(Joined(out.Markup()));
    check(doc);
  }
}

TEST(SauceOutputTest, ControlCharacterIsRefusedNamingTheValue) {
  XmlDocument doc = Loaded(testing::SauceDocument());
  SauceOutput out = SauceOutput::Start(doc, 1);
  const SauceOutput::Teacher teacher = out.AddTeacher(1, "E", "F");
  try {
    out.AddLesson(teacher, 1, {"a", "1", "t", "d", "M\x01X", "u"});
    FAIL() << "a control character was accepted";
  } catch (const Error& e) {
    EXPECT_NE(std::string(e.what()).find("X_MATERIAOMC"), std::string::npos) << e.what();
    EXPECT_NE(std::string(e.what()).find("0x01"), std::string::npos) << e.what();
  }
}

TEST(SauceOutputTest, DocumentWithoutSectionIsRefusedAndLeftAsItWas) {
  const char* cases[] = {
      "<SERVICIO><ENTRADAS/></SERVICIO>",
      "<SERVICIO><salidas/><X><SALIDAS/></X></SERVICIO>",  // wrong case; nested
      "<SALIDAS/>",                                         // the root itself
  };
  for (const char* xml : cases) {
    SCOPED_TRACE(xml);
    XmlDocument doc = Loaded(xml);
    const std::string before = doc.SaveToString();
    try {
      SauceOutput::Start(doc, 1);
      FAIL() << "accepted a document without SALIDAS";
    } catch (const Error& e) {
      EXPECT_NE(std::string(e.what()).find("SALIDAS"), std::string::npos) << e.what();
      EXPECT_NE(std::string(e.what()).find("HORARIO.XML"), std::string::npos) << e.what();
    }
    EXPECT_EQ(doc.SaveToString(), before);
  }
}

TEST(SauceOutputTest, DocumentWithoutRootIsRefused) {
  XmlDocument doc;
  doc.LoadFromMemory("<SERVICIO><SALIDAS>", "ROTO.XML");
  ASSERT_FALSE(doc.WellFormed());
  EXPECT_THROW(SauceOutput::Start(doc, 0), Error);
}

// The section is the root's first SALIDAS child, taken after the new one is
// appended: with two in the loaded file that is the second old one, which
// keeps what it held and receives the output, and the new one stays empty.
TEST(SauceOutputTest, WithTwoSectionsTheSecondOldOneReceivesTheOutput) {
  XmlDocument doc = Loaded("<R><SALIDAS><a/></SALIDAS><B/><SALIDAS><c/></SALIDAS></R>");
  SauceOutput out = SauceOutput::Start(doc, 1);
  out.AddTeacher(1, "E", "F");

  XmlDocument saved = RoundTrip(out);
  EXPECT_EQ(RootChildNames(saved), (std::vector<std::string>{"B", "SALIDAS", "SALIDAS"}));
  const XmlNodeList sections = saved.Root().ChildElements("SALIDAS");
  const XmlNode second_old = sections.Item(0);
  EXPECT_EQ(second_old.ChildElements("c").Count(), 1u);
  EXPECT_EQ(second_old.ChildElements("ERROR").Count(), 1u);
  EXPECT_EQ(second_old.ChildElements("listasal").Item(0).Attribute("seq"), "EMP_1");
  EXPECT_TRUE(HasNoChildNodes(sections.Item(1)));
  EXPECT_EQ(saved.Select("//a").Count(), 0u);
}

TEST(SauceOutputTest, OutputPathPutsThePrefixBeforeTheFileName) {
  const std::pair<std::string, std::string> cases[] = {
      {"/work/VTEMP/SAUCE/HORARIO.XML", "/work/VTEMP/SAUCE/ResultadoVelmarHORARIO.XML"},
      {"HORARIO.XML", "ResultadoVelmarHORARIO.XML"},
      {"./horario.xml", "./ResultadoVelmarhorario.xml"},
      {"/HORARIO", "/ResultadoVelmarHORARIO"},
      {"/a.b/c.d.xml", "/a.b/ResultadoVelmarc.d.xml"},
      {"/x/ResultadoVelmarH.xml", "/x/ResultadoVelmarResultadoVelmarH.xml"},
  };
  for (const auto& [in, want] : cases) EXPECT_EQ(SauceOutputPath(in), want) << in;
}

TEST(SauceOutputTest, SaveWritesBesideAndLeavesTheChosenFile) {
  testing::TempFolder folder;
  const std::string chosen = folder.File("HORARIO.XML");
  const std::string input = testing::SauceDocument();
  testing::WriteFile(chosen, input);
  testing::WriteFile(folder.File("ResultadoVelmarHORARIO.XML"), "earlier output");

  XmlDocument doc;
  doc.LoadWellFormed(chosen);
  const SauceOutput out = SauceOutput::Start(doc, 0);
  EXPECT_EQ(SaveBesideChosenFile(out, chosen), folder.File("ResultadoVelmarHORARIO.XML"));

  EXPECT_EQ(testing::ReadBytes(chosen), input);
  const auto section = testing::ReadOutputFile(folder.File("ResultadoVelmarHORARIO.XML"));
  EXPECT_EQ(section.error, ErrorBlock("0"));
}

TEST(SauceOutputTest, FailedSaveLeavesNoFileAndNamesThePath) {
  testing::TempFolder folder;
  const std::string chosen = folder.File("H.XML");
  testing::WriteFile(chosen, testing::SauceDocument());
  XmlDocument doc;
  doc.LoadWellFormed(chosen);
  const SauceOutput out = SauceOutput::Start(doc, 0);

  SetWriteFaultForTesting([](const std::string&) { return false; });
  try {
    SaveBesideChosenFile(out, chosen);
    ADD_FAILURE() << "the save did not fail";
  } catch (const Error& e) {
    EXPECT_NE(std::string(e.what()).find("ResultadoVelmarH.XML"), std::string::npos) << e.what();
  }
  SetWriteFaultForTesting(nullptr);
  EXPECT_FALSE(testing::Exists(folder.File("ResultadoVelmarH.XML")));
}

// The section built node by node through the document, as an output that
// held its entries as nodes would build it: the reference for the markup.
std::string BuiltNodeByNode(XmlDocument& doc, const std::vector<std::array<std::string, 2>>& teachers,
                            const std::vector<std::array<std::string, 6>>& lessons) {
  XmlNode root = doc.Root();
  root.RemoveChild(root.ChildElements("SALIDAS").Item(0));
  root.AppendChild(doc.CreateElement("SALIDAS"));
  XmlNode section = root.ChildElements("SALIDAS").Item(0);
  auto salida = [&](XmlNode parent, const std::string& dato, const std::string& value_1252) {
    XmlNode e = doc.CreateElement("salida");
    e.SetAttribute("dato", dato);
    if (!value_1252.empty()) e.SetText(FromWindows1252(value_1252));
    parent.AppendChild(e);
  };
  XmlNode error = doc.CreateElement("ERROR");
  section.AppendChild(error);
  salida(error, "CN_ERROR", "0");
  salida(error, "TE_ERROR", "Servicio finalizado Correctamente");
  salida(error, "REGISTROS RECUPERADOS", std::to_string(teachers.size()));
  static const char* const kDatos[6] = {"X_ACTIVIDAD", "N_DIASEMANA", "X_TRAMO",
                                        "X_DEPCENTRO", "X_MATERIAOMC", "X_UNIDAD"};
  for (size_t t = 0; t < teachers.size(); ++t) {
    XmlNode entry = doc.CreateElement("listasal");
    entry.SetAttribute("seq", "EMP_" + std::to_string(t + 1));
    section.AppendChild(entry);
    salida(entry, "X_EMPLEADO", teachers[t][0]);
    salida(entry, "F_TOMAPOS", teachers[t][1]);
    for (size_t l = 0; l < lessons.size(); ++l) {
      XmlNode lesson = doc.CreateElement("listasal");
      lesson.SetAttribute("seq", "TRAMO_" + std::to_string(l + 1));
      entry.AppendChild(lesson);
      for (size_t k = 0; k < 6; ++k) salida(lesson, kDatos[k], lessons[l][k]);
    }
  }
  return doc.SaveToString();
}

TEST(SauceOutputTest, SavesTheBytesOfTheSectionBuiltNodeByNode) {
  const std::vector<std::array<std::string, 2>> teachers = {
      {"E1", "01/09/2010"}, {"Pe\xF1" "a \x80", ""}, {"  X  ", "A&B<C>\"'"}};
  const std::vector<std::array<std::string, 6>> lessons = {
      {"", "2", "T25", "D&1", "M<100>", "G1"},
      {"156", "1", "\x80 \x9C \xFF", "line\r\nnext", "tab\there", "&amp;"}};
  const std::string xml_tail =
      "<SERVICIO modulo=\"HORARIOS\">\n  <CABECERA>c</CABECERA>\n  <SALIDAS>\n"
      "    <listasal seq=\"MATERIAS\"><listasal><salida>x</salida></listasal></listasal>\n"
      "  </SALIDAS>\n  <ENTRADAS/>\n</SERVICIO>\n";
  for (const std::string declaration :
       {"", "<?xml version=\"1.0\" encoding=\"ISO-8859-1\"?>\n", "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"}) {
    SCOPED_TRACE(declaration);
    XmlDocument reference = Loaded(declaration + xml_tail);
    const std::string want = BuiltNodeByNode(reference, teachers, lessons);

    for (const bool left_out_at_load : {false, true}) {
      XmlDocument doc;
      doc.LoadFromMemory(declaration + xml_tail, "HORARIO.XML",
                         left_out_at_load ? OutputLoadOptions() : XmlLoadOptions());
      SauceOutput out = SauceOutput::Start(doc, teachers.size());
      for (size_t t = 0; t < teachers.size(); ++t) {
        const SauceOutput::Teacher teacher = out.AddTeacher(t + 1, teachers[t][0], teachers[t][1]);
        for (size_t l = 0; l < lessons.size(); ++l) {
          const auto& v = lessons[l];
          out.AddLesson(teacher, l + 1, {v[0], v[1], v[2], v[3], v[4], v[5]});
        }
      }
      EXPECT_EQ(out.SaveToString(), want) << (left_out_at_load ? "left out at load" : "full load");
    }
  }
}

TEST(SauceOutputTest, ALoadThatLeavesTheSectionOutStillNeedsOne) {
  XmlDocument doc;
  doc.LoadFromMemory("<SERVICIO><ENTRADAS/><X><SALIDAS/></X></SERVICIO>", "HORARIO.XML", OutputLoadOptions());
  ASSERT_TRUE(doc.WellFormed());
  const std::string before = doc.SaveToString();
  EXPECT_THROW(SauceOutput::Start(doc, 1), Error);
  EXPECT_EQ(doc.SaveToString(), before);

  // With two, the second stays and receives the output, as with a full load.
  doc.LoadFromMemory("<R><SALIDAS><a/></SALIDAS><B/><SALIDAS><c/></SALIDAS></R>", "HORARIO.XML",
                     OutputLoadOptions());
  SauceOutput out = SauceOutput::Start(doc, 1);
  out.AddTeacher(1, "E", "F");
  XmlDocument saved = RoundTrip(out);
  EXPECT_EQ(RootChildNames(saved), (std::vector<std::string>{"B", "SALIDAS", "SALIDAS"}));
  EXPECT_EQ(saved.Root().ChildElements("SALIDAS").Item(0).ChildElements("c").Count(), 1u);
  EXPECT_EQ(saved.Select("//a").Count(), 0u);
}

TEST(SauceOutputTest, WritingToAFileGivesTheBytesOfTheOutputKeptInMemory) {
  for (const std::string declaration : {"", "<?xml version=\"1.0\" encoding=\"ISO-8859-1\"?>\n",
                                        "<?xml version=\"1.0\" encoding=\"windows-1252\"?>\n"}) {
    SCOPED_TRACE(declaration);
    testing::TempFolder folder;
    const std::string standard = testing::SauceDocument();  // declares UTF-8
    const std::string xml = declaration + standard.substr(standard.find("?>\n") + 3);
    auto fill = [](SauceOutput& out) {
      for (size_t t = 1; t <= 3; ++t) {
        const SauceOutput::Teacher teacher = out.AddTeacher(t, "E" + std::to_string(t), "Pe\xF1" "a \x80");
        for (size_t l = 1; l <= t; ++l) out.AddLesson(teacher, l, {"a", "1", "t&<>", "\x9C", "", "u"});
      }
    };
    XmlDocument kept = Loaded(xml);
    SauceOutput in_memory = SauceOutput::Start(kept, 3);
    fill(in_memory);

    XmlDocument doc = Loaded(xml);
    const std::string path = folder.File("ResultadoVelmarHORARIO.XML");
    SauceOutput out = SauceOutput::StartWritingTo(doc, 3, path);
    fill(out);
    EXPECT_FALSE(testing::Exists(path)) << "nothing in place before Finish";
    out.Finish();
    EXPECT_EQ(testing::ReadBytes(path), in_memory.SaveToString());
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(folder.path()), {}), 1) << "no temporary left";
  }
}

TEST(SauceOutputTest, AFileOutputTakesLessonsForItsLastTeacherOnlyAndLeavesNoFileUnfinished) {
  testing::TempFolder folder;
  const std::string path = folder.File("R.XML");
  {
    XmlDocument doc = Loaded(testing::SauceDocument());
    SauceOutput out = SauceOutput::StartWritingTo(doc, 2, path);
    const SauceOutput::Teacher first = out.AddTeacher(1, "E1", "F1");
    out.AddLesson(first, 1, {"a", "1", "t", "d", "m", "u"});
    const SauceOutput::Teacher second = out.AddTeacher(2, "E2", "F2");
    EXPECT_THROW(out.AddLesson(first, 2, {"a", "1", "t", "d", "m", "u"}), Error);
    out.AddLesson(second, 1, {"a", "1", "t", "d", "m", "u"});
    EXPECT_THROW(out.Markup(), Error);
    EXPECT_THROW(out.AddLesson(second, 2, {"a", "1", "t", "d", "M\x01X", "u"}), Error);
  }  // dropped without Finish
  EXPECT_EQ(std::distance(std::filesystem::directory_iterator(folder.path()), {}), 0);

  XmlDocument doc = Loaded(testing::SauceDocument());
  SetWriteFaultForTesting([](const std::string&) { return false; });
  try {
    SauceOutput::StartWritingTo(doc, 0, path);
    ADD_FAILURE() << "an output that cannot be written started";
  } catch (const Error& e) {
    EXPECT_NE(std::string(e.what()).find(path), std::string::npos) << e.what();
  }
  SetWriteFaultForTesting(nullptr);
  EXPECT_FALSE(testing::Exists(path));
}

}  // namespace
}  // namespace tvs
