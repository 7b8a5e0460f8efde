// CrearDiasHoras: rows of DIASHORAST, frame choice, renumbering and marks.
#include <gtest/gtest.h>

#include <map>
#include <optional>
#include <random>
#include <string>
#include <vector>

#include "export/builders.h"
#include "export/export_context.h"
#include "export/export_run.h"
#include "export/working_tables.h"
#include "platform/codepage.h"
#include "platform/dbf.h"
#include "platform/error.h"
#include "platform/files.h"
#include "platform/xml_document.h"
#include "sauce_doc_helpers.h"

namespace tvs {
namespace {

// --- Building small Sauce documents -------------------------------------

std::string Escape(const std::string& text) {
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

// One salida of an interval; no `dato` attribute when `dato` is empty.
struct Salida {
  std::optional<std::string> dato;
  std::string text;
};

// An interval with its six items in Sauce's order; a missing optional leaves
// that item out.
struct Slot {
  std::optional<std::string> codigo = "5101";
  std::optional<std::string> nombre = "Primera";
  std::optional<std::string> inicio = "08:00";
  std::optional<std::string> fin = "08:55";
  std::optional<std::string> orden = "1";
  std::optional<std::string> clave = "M";

  std::vector<Salida> Salidas() const {
    std::vector<Salida> out;
    auto add = [&](const char* dato, const std::optional<std::string>& v) {
      if (v) out.push_back({dato, *v});
    };
    add("CODIGO_SAUCE", codigo);
    add("NOMBRE", nombre);
    add("INICIO", inicio);
    add("FIN", fin);
    add("ORDEN", orden);
    add("CLAVE_JORNADA", clave);
    return out;
  }
};

struct SauceDoc {
  bool with_frame_list = true;
  std::vector<std::vector<std::string>> frames;  // salida texts of each frame
  std::vector<std::vector<Salida>> intervals;

  SauceDoc& Frame(std::string code, std::string name = "Jornada", std::string more = "L-V") {
    frames.push_back({std::move(code), std::move(name), std::move(more)});
    return *this;
  }
  SauceDoc& Interval(const Slot& slot) {
    intervals.push_back(slot.Salidas());
    return *this;
  }
  SauceDoc& IntervalOf(std::vector<Salida> salidas) {
    intervals.push_back(std::move(salidas));
    return *this;
  }

  std::string Xml() const {
    std::string x = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<SERVICIO><SALIDAS>\n";
    if (with_frame_list) {
      x += "<listasal seq=\"JORNADAS\">\n";
      for (const auto& f : frames) {
        x += "<listasal>";
        for (const auto& s : f) x += "<salida>" + Escape(s) + "</salida>";
        x += "</listasal>\n";
      }
      x += "</listasal>\n";
    }
    x += "<listasal seq=\"INTERVALOS\">\n";
    for (const auto& i : intervals) {
      x += "<listasal>";
      for (const auto& s : i) {
        x += s.dato ? "<salida dato=\"" + Escape(*s.dato) + "\">" : std::string("<salida>");
        x += Escape(s.text) + "</salida>";
      }
      x += "</listasal>\n";
    }
    return x + "</listasal>\n</SALIDAS></SERVICIO>\n";
  }
};

// --- Running the builder --------------------------------------------------

class FakeChooser : public FrameChooser {
 public:
  explicit FakeChooser(std::string answer = "") : answer_(std::move(answer)) {}
  std::string ChooseFrames(const XmlDocument& doc, const std::string& xml_path) override {
    ++calls;
    doc_seen = &doc;
    path_seen = xml_path;
    return answer_;
  }
  int calls = 0;
  const XmlDocument* doc_seen = nullptr;
  std::string path_seen;

 private:
  std::string answer_;
};

// Fields of a row, as read back (Windows-1252, trailing blanks removed).
struct Row {
  std::string diho, coddiho, dia, textodia, hora, textohor, desde, hasta, minutos, marco, marcoxml;
};

std::vector<Row> ReadRows(const DbfTable& t) {
  std::vector<Row> rows;
  auto f = [&](size_t r, const char* name) { return std::string(t.Text(r, t.FieldIndex(name))); };
  for (size_t r = 0; r < t.RecordCount(); ++r)
    rows.push_back({f(r, "DIHO"), f(r, "CODDIHO"), f(r, "DIA"), f(r, "TEXTODIA"), f(r, "HORA"),
                    f(r, "TEXTOHOR"), f(r, "HORADESDE"), f(r, "HORAHASTA"), f(r, "MINUTOS"),
                    f(r, "MARCO"), f(r, "MARCOXML")});
  return rows;
}

constexpr const char* kXmlPath = "/datos/sauce/exportacion.xml";

struct Outcome {
  std::vector<Row> rows;
  std::string marcos_elegidos;
  int chooser_calls = 0;
};

Outcome Build(const SauceDoc& sauce, const std::string& answer = "") {
  XmlDocument doc;
  doc.LoadFromMemory(sauce.Xml(), "exportacion.xml");
  EXPECT_TRUE(doc.WellFormed()) << doc.ParseError();
  FakeChooser chooser(answer);
  ExportContext ctx(doc, kXmlPath, chooser);
  CrearDiasHoras(ctx);
  const DbfTable* table = ctx.FindTable(kDiashorast);
  EXPECT_NE(table, nullptr);
  Outcome out;
  if (table) out.rows = ReadRows(*table);
  out.marcos_elegidos = ctx.marcos_elegidos;
  out.chooser_calls = chooser.calls;
  return out;
}

// The message of the Error the builder throws; "" when it does not throw.
std::string BuildError(const SauceDoc& sauce, const std::string& answer = "") {
  XmlDocument doc;
  doc.LoadFromMemory(sauce.Xml(), "exportacion.xml");
  FakeChooser chooser(answer);
  ExportContext ctx(doc, kXmlPath, chooser);
  try {
    CrearDiasHoras(ctx);
  } catch (const Error& e) {
    return e.what();
  }
  return "";
}

std::string Pad10(const std::string& code) {
  std::string s = code.substr(0, 10);
  s.resize(10, ' ');
  return s;
}

// --- Rows -----------------------------------------------------------------

TEST(CrearDiasHoras, OneFrameWritesSevenRowsPerIntervalWithoutAsking) {
  SauceDoc doc;
  doc.Frame("M")
      .Interval({.codigo = "5101", .nombre = "Primera", .inicio = "8:00", .fin = "8:55", .orden = "1"})
      .Interval({.codigo = "5102", .nombre = "Segunda", .inicio = "08:55", .fin = "09:50", .orden = "2"});
  const Outcome out = Build(doc);
  EXPECT_EQ(out.chooser_calls, 0);
  EXPECT_EQ(out.marcos_elegidos, "M");
  ASSERT_EQ(out.rows.size(), 14u);
  for (int i = 0; i < 2; ++i) {
    for (int d = 1; d <= 7; ++d) {
      SCOPED_TRACE("interval " + std::to_string(i) + " day " + std::to_string(d));
      const Row& r = out.rows[i * 7 + d - 1];
      const std::string day = std::to_string(d), hour = std::to_string(i + 1);
      EXPECT_EQ(r.diho, day + hour);
      EXPECT_EQ(r.coddiho, i == 0 ? "5101" : "5102");
      EXPECT_EQ(r.dia, day);
      EXPECT_EQ(r.textodia, "");
      EXPECT_EQ(r.hora, hour);
      EXPECT_EQ(r.textohor, i == 0 ? "Primera" : "Segunda");
      EXPECT_EQ(r.desde, i == 0 ? "08:00" : "08:55");
      EXPECT_EQ(r.hasta, i == 0 ? "08:55" : "09:50");
      EXPECT_EQ(r.minutos, "55");
      EXPECT_EQ(r.marco, "0");
      EXPECT_EQ(r.marcoxml, "M");
    }
  }
}

TEST(CrearDiasHoras, TimesArePaddedAndTheLengthIsEndMinusStart) {
  struct Case {
    std::string inicio, fin, desde, hasta, minutos;
  } cases[] = {
      {"8:00", "8:55", "08:00", "08:55", "55"},
      {"23:30", "00:15", "23:30", "00:15", "-1395"},
      {"9:5", "9:50", "09:5", "09:50", "45"},
      {"08:00", "14:30", "08:00", "14:30", "390"},
      {"8:00", "08:0005", "08:00", "08:0005", "5"},  // minutes from characters 4 to 8
      {"  7:30\n", "\t8:15 ", "07:30", "08:15", "45"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.inicio + " / " + c.fin);
    SauceDoc doc;
    doc.Frame("M").Interval({.inicio = c.inicio, .fin = c.fin});
    const Outcome out = Build(doc);
    ASSERT_EQ(out.rows.size(), 7u);
    for (const Row& r : out.rows) {
      EXPECT_EQ(r.desde, c.desde);
      EXPECT_EQ(r.hasta, c.hasta);
      EXPECT_EQ(r.minutos, c.minutos);
    }
  }
}

TEST(CrearDiasHoras, TimeThatIsNoHourAndMinutesFailsNamingTheInterval) {
  struct Case {
    std::optional<std::string> inicio, fin;
    std::string expected;
  } cases[] = {
      {"8h", "09:00", "La hora de inicio «8h» del intervalo 3 (código 1234) de la lista INTERVALOS"},
      {"08:00:00", "09:00", "La hora de inicio «08:00:00» del intervalo 3 (código 1234)"},
      {"", "09:00", "La hora de inicio «» del intervalo 3 (código 1234)"},
      {std::nullopt, "09:00", "La hora de inicio «» del intervalo 3 (código 1234)"},
      {"8:", "09:00", "La hora de inicio «8:» del intervalo 3"},
      {"ab:00", "09:00", "La hora de inicio «ab:00» del intervalo 3"},
      {"08:00", "9:x5", "La hora de fin «9:x5» del intervalo 3 (código 1234)"},
      {"08:00", "09:0 0", "La hora de fin «09:0 0» del intervalo 3"},
      // Four characters get a "0" in front: "010:0" has ":0" as its minutes.
      {"08:00", "10:0", "La hora de fin «10:0» del intervalo 3"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.expected);
    SauceDoc doc;
    doc.Frame("M")
        .Interval({.codigo = "1230", .orden = "1"})
        .Interval({.codigo = "1231", .orden = "2"})
        .Interval({.codigo = "1234", .inicio = c.inicio, .fin = c.fin, .orden = "3"});
    EXPECT_NE(BuildError(doc).find(c.expected), std::string::npos) << BuildError(doc);
  }
  SauceDoc no_code;
  no_code.Frame("M").Interval({.codigo = std::nullopt, .inicio = "8h"});
  EXPECT_NE(BuildError(no_code).find("del intervalo 1 (sin código)"), std::string::npos);
}

TEST(CrearDiasHoras, TextsAreCutToTheirFields) {
  SauceDoc doc;
  doc.Frame("ABCDEFGHIJKL")
      .Interval({.codigo = "123456789012", .nombre = "Primera de la mañana", .clave = "ABCDEFGHIJKL"})
      .Interval({.orden = "2", .clave = "ABCDEFGHIJ"});
  const Outcome out = Build(doc);
  EXPECT_EQ(out.marcos_elegidos, "ABCDEFGHIJKL");
  ASSERT_EQ(out.rows.size(), 14u);
  const Row& r = out.rows[0];
  EXPECT_EQ(r.coddiho, "1234567890");
  EXPECT_EQ(r.textohor, ToWindows1252("Primera de la m"));
  EXPECT_EQ(r.marcoxml, "ABCDEFGHIJ");
  // The frame code and CLAVE_JORNADA both count by their first 10
  // characters: both intervals belong to the chosen frame.
  EXPECT_EQ(r.marco, "0");
  EXPECT_EQ(out.rows[7].marco, "0");
  EXPECT_EQ(out.rows[7].diho, "12");
}

TEST(CrearDiasHoras, TextsAreStoredInWindows1252) {
  SauceDoc doc;
  doc.Frame("Mañana").Interval({.nombre = "Ñandú €", .clave = "Mañana"});
  const Outcome out = Build(doc);
  EXPECT_EQ(out.marcos_elegidos, "Ma\xF1" "ana");
  ASSERT_EQ(out.rows.size(), 7u);
  EXPECT_EQ(out.rows[0].textohor, "\xD1" "and\xFA \x80");
  EXPECT_EQ(out.rows[0].marcoxml, "Ma\xF1" "ana");
  EXPECT_EQ(out.rows[0].marco, "0");
}

// Items are found by their `dato` attribute, exactly, wherever they stand.
TEST(CrearDiasHoras, ItemsAreFoundByTheirName) {
  struct Case {
    std::string name;
    std::vector<Salida> salidas;
    std::string orden, nombre;
  } cases[] = {
      {"reversed order",
       {{"CLAVE_JORNADA", "M"}, {"ORDEN", "3"}, {"FIN", "9:00"}, {"INICIO", "8:00"},
        {"NOMBRE", "Tercera"}, {"CODIGO_SAUCE", "77"}},
       "3", "Tercera"},
      {"salida without a name passed over",
       {{std::nullopt, "9"}, {"ORDEN", "3"}, {std::nullopt, "Otra"}, {"NOMBRE", "Tercera"},
        {"INICIO", "8:00"}, {"FIN", "9:00"}, {"CLAVE_JORNADA", "M"}},
       "3", "Tercera"},
      {"names compared exactly, untrimmed",
       {{"ORDEN", "3"}, {"orden", "5"}, {"ORDEN ", "6"}, {" NOMBRE", "Otra"}, {"NOMBRE", "Tercera"},
        {"INICIO", "8:00"}, {"FIN", "9:00"}, {"CLAVE_JORNADA", "M"}, {"Clave_Jornada", "T"}},
       "3", "Tercera"},
      {"a later item replaces an earlier one",
       {{"ORDEN", "5"}, {"NOMBRE", "Quinta"}, {"ORDEN", "3"}, {"INICIO", "8:00"}, {"FIN", "9:00"},
        {"CLAVE_JORNADA", "T"}, {"NOMBRE", "Tercera"}, {"CLAVE_JORNADA", "M"}},
       "3", "Tercera"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    SauceDoc doc;
    doc.Frame("M").IntervalOf(c.salidas);
    const Outcome out = Build(doc);
    ASSERT_EQ(out.rows.size(), 7u);
    // ORDEN 3 is the frame's only hour: renumbered to 1 on every day.
    EXPECT_EQ(out.rows[0].diho, "11");
    EXPECT_EQ(out.rows[6].diho, "71");
    EXPECT_EQ(out.rows[0].textohor, c.nombre);
    EXPECT_EQ(out.rows[0].marcoxml, "M");
    EXPECT_EQ(out.rows[0].marco, "0");
    EXPECT_EQ(out.rows[0].desde, "08:00");
  }
}

TEST(CrearDiasHoras, IntervalWithoutOrdenHasTheBareDay) {
  SauceDoc doc;
  doc.Frame("M").Interval({.orden = std::nullopt}).Interval({.orden = "2"});
  const Outcome out = Build(doc);
  ASSERT_EQ(out.rows.size(), 14u);
  for (int d = 1; d <= 7; ++d) {
    EXPECT_EQ(out.rows[d - 1].diho, std::to_string(d));
    EXPECT_EQ(out.rows[d - 1].hora, "");
    EXPECT_EQ(out.rows[d - 1].marco, "0");
    EXPECT_EQ(out.rows[7 + d - 1].diho, std::to_string(d) + "1");
  }
}

TEST(CrearDiasHoras, IntervalWithoutFrameIsNeitherRenumberedNorMarked) {
  SauceDoc doc;
  doc.Frame("M").Interval({.orden = "2", .clave = std::nullopt}).Interval({.orden = "3"});
  const Outcome out = Build(doc);
  ASSERT_EQ(out.rows.size(), 14u);
  EXPECT_EQ(out.rows[0].marcoxml, "");
  EXPECT_EQ(out.rows[0].diho, "12");
  EXPECT_EQ(out.rows[0].hora, "2");
  EXPECT_EQ(out.rows[0].marco, "");
  EXPECT_EQ(out.rows[7].diho, "11");
  EXPECT_EQ(out.rows[7].marco, "0");
}

TEST(CrearDiasHoras, EmptyIntervalListGivesNoRows) {
  SauceDoc doc;
  doc.Frame("M");
  const Outcome out = Build(doc);
  EXPECT_TRUE(out.rows.empty());
  EXPECT_EQ(out.marcos_elegidos, "M");
}

// --- Frame choice ---------------------------------------------------------

TEST(CrearDiasHoras, NoFrameFailsTheRun) {
  SauceDoc no_list;
  no_list.with_frame_list = false;
  no_list.Interval(Slot{});
  SauceDoc empty_list;
  empty_list.Interval(Slot{});
  for (const SauceDoc* doc : {&no_list, &empty_list}) {
    const std::string message = BuildError(*doc, "M         ");
    EXPECT_NE(message.find("ningún marco horario"), std::string::npos) << message;
    EXPECT_NE(message.find("JORNADAS"), std::string::npos) << message;
  }
  SauceDoc frame_without_code;
  frame_without_code.frames.push_back({});
  frame_without_code.Interval(Slot{});
  const std::string message = BuildError(frame_without_code, "M         ");
  EXPECT_NE(message.find("no tiene código"), std::string::npos) << message;
  EXPECT_NE(message.find("la entrada 1 de la lista JORNADAS"), std::string::npos) << message;
}

// Without frames the slots cannot be built, and the export replaces nothing:
// not DIASHORAST, nor the tables built before it in the run.
TEST(CrearDiasHoras, NoFrameLeavesTheWorkingTablesAsTheyWere) {
  const test::TempFolder folder;
  DbfTable old_slots(std::string(kDiashorast), WorkingTableFields(kDiashorast));
  old_slots.Append();
  old_slots.SetText("DIHO", "11");
  WriteFileDurably(JoinPath(folder.path(), "DIASHORAST.DBF"), EncodeDbf(old_slots));
  WriteFileDurably(JoinPath(folder.path(), "ASIGNOMT.DBF"), "old subjects");
  const auto before = test::FolderContents(folder.path());

  SauceDoc sauce;
  sauce.with_frame_list = false;
  sauce.Interval(Slot{});
  XmlDocument doc;
  doc.LoadFromMemory(sauce.Xml(), "exportacion.xml");
  FakeChooser chooser(Pad10("M"));
  EXPECT_THROW(ExportDocument(doc, kXmlPath, folder.path(), chooser), Error);
  EXPECT_EQ(test::FolderContents(folder.path()), before);
}

TEST(CrearDiasHoras, TwoOrMoreFramesAreChosenByTheChooser) {
  SauceDoc doc;
  doc.Frame("A").Frame("B").Frame("C").Interval({.clave = "B"});
  XmlDocument xml;
  xml.LoadFromMemory(doc.Xml(), "exportacion.xml");
  FakeChooser chooser("A         B         C         ");
  ExportContext ctx(xml, kXmlPath, chooser);
  CrearDiasHoras(ctx);
  EXPECT_EQ(chooser.calls, 1);
  EXPECT_EQ(chooser.doc_seen, &xml);
  EXPECT_EQ(chooser.path_seen, kXmlPath);
  // Only the first 20 characters count.
  EXPECT_EQ(ctx.marcos_elegidos, "A         B         ");
}

TEST(CrearDiasHoras, SingleFrameCodeOfTwentyCharactersIsTwoCodes) {
  SauceDoc doc;
  doc.Frame("  AAAAAAAAAABBBBBBBBBBCC ")
      .Interval({.inicio = "09:00", .orden = "2", .clave = "AAAAAAAAAA"})
      .Interval({.inicio = "08:00", .orden = "3", .clave = "BBBBBBBBBB"})
      .Interval({.inicio = "07:00", .orden = "1", .clave = "AAAAAAAAAABBBBBBBBBBCC"});
  const Outcome out = Build(doc);
  EXPECT_EQ(out.marcos_elegidos, "AAAAAAAAAABBBBBBBBBB");
  ASSERT_EQ(out.rows.size(), 21u);
  // Both codes are renumbered; the frame of the earlier hour 1 gets "0". The
  // third interval's CLAVE_JORNADA, cut to 10, belongs to the first code.
  EXPECT_EQ(out.rows[0].diho, "12");
  EXPECT_EQ(out.rows[7].diho, "11");
  EXPECT_EQ(out.rows[14].diho, "11");
  EXPECT_EQ(out.rows[0].marco, "0");
  EXPECT_EQ(out.rows[7].marco, "1");
  EXPECT_EQ(out.rows[14].marco, "0");
}

// --- Frame marks ----------------------------------------------------------

struct MarkCase {
  std::string name;
  std::vector<std::string> frames;  // the frame list, in order
  std::string answer;               // what the dialog hands back
  std::vector<Slot> slots;
  std::map<std::string, std::string> marks;  // frame code -> MARCO of its rows
};

TEST(CrearDiasHoras, FrameWhoseFirstHourBeginsEarlierGetsZero) {
  const MarkCase cases[] = {
      {"morning listed first",
       {"M", "T"},
       Pad10("M") + Pad10("T"),
       {{.inicio = "08:00", .clave = "M"}, {.inicio = "15:00", .clave = "T"}},
       {{"M", "0"}, {"T", "1"}}},
      {"afternoon listed first",
       {"T", "M"},
       Pad10("T") + Pad10("M"),
       {{.inicio = "15:00", .clave = "T"}, {.inicio = "08:00", .clave = "M"}},
       {{"M", "0"}, {"T", "1"}}},
      {"afternoon listed first, intervals the other way",
       {"T", "M"},
       Pad10("T") + Pad10("M"),
       {{.inicio = "08:00", .clave = "M"}, {.inicio = "15:00", .clave = "T"}},
       {{"M", "0"}, {"T", "1"}}},
      {"equal starts: the first code gets 0",
       {"T", "M"},
       Pad10("T") + Pad10("M"),
       {{.inicio = "08:00", .clave = "M"}, {.inicio = "08:00", .clave = "T"}},
       {{"T", "0"}, {"M", "1"}}},
      {"equal starts, other order",
       {"M", "T"},
       Pad10("M") + Pad10("T"),
       {{.inicio = "08:00", .clave = "M"}, {.inicio = "08:00", .clave = "T"}},
       {{"M", "0"}, {"T", "1"}}},
      {"one of two chosen",
       {"M", "T"},
       Pad10("T"),
       {{.inicio = "08:00", .clave = "M"}, {.inicio = "15:00", .clave = "T"}},
       {{"M", ""}, {"T", "0"}}},
      {"start taken after renumbering",
       {"A", "B"},
       Pad10("A") + Pad10("B"),
       {{.inicio = "16:00", .orden = "2", .clave = "A"},
        {.inicio = "07:00", .orden = "3", .clave = "A"},
        {.inicio = "08:00", .orden = "1", .clave = "B"}},
       {{"A", "1"}, {"B", "0"}}},
      {"start minutes from characters 4 and 5",
       {"A", "B"},
       Pad10("A") + Pad10("B"),
       {{.inicio = "08:100", .fin = "09:000", .clave = "A"}, {.inicio = "08:20", .clave = "B"}},
       {{"A", "0"}, {"B", "1"}}},
      {"second frame without hour 1 counts as 24:00",
       {"A", "B"},
       Pad10("A") + Pad10("B"),
       {{.inicio = "23:00", .clave = "A"}, {.inicio = "07:00", .orden = "01", .clave = "B"}},
       {{"A", "0"}, {"B", "1"}}},
      {"first frame without hour 1 counts as 00:00",
       {"A", "B"},
       Pad10("A") + Pad10("B"),
       {{.inicio = "15:00", .orden = "x", .clave = "A"}, {.inicio = "07:00", .clave = "B"}},
       {{"A", "0"}, {"B", "1"}}},
      {"codes with blanks around them",
       {"A", "B"},
       " A        " + std::string("  B       "),
       {{.inicio = "09:00", .clave = "A"}, {.inicio = "08:00", .clave = "B"}},
       {{"A", "1"}, {"B", "0"}}},
  };
  for (const MarkCase& c : cases) {
    SCOPED_TRACE(c.name);
    SauceDoc doc;
    for (const auto& f : c.frames) doc.Frame(f);
    for (const auto& s : c.slots) doc.Interval(s);
    const Outcome out = Build(doc, c.answer);
    EXPECT_EQ(out.chooser_calls, 1);
    ASSERT_EQ(out.rows.size(), 7 * c.slots.size());
    for (const Row& r : out.rows) {
      SCOPED_TRACE(r.marcoxml + " " + r.diho);
      EXPECT_EQ(r.marco, c.marks.at(r.marcoxml));
    }
  }
}

TEST(CrearDiasHoras, FramesNotChosenKeepTheirHoursAndNoMark) {
  SauceDoc doc;
  doc.Frame("A").Frame("B").Frame("C");
  for (const char* frame : {"A", "B", "C"})
    for (const char* orden : {"2", "3"}) doc.Interval({.orden = orden, .clave = frame});
  const Outcome out = Build(doc, Pad10("B"));
  EXPECT_EQ(out.marcos_elegidos, Pad10("B"));
  ASSERT_EQ(out.rows.size(), 42u);
  for (size_t i = 0; i < out.rows.size(); ++i) {
    const Row& r = out.rows[i];
    SCOPED_TRACE(std::to_string(i));
    const std::string day = std::to_string(i % 7 + 1);
    const std::string orden = (i / 7) % 2 == 0 ? "2" : "3";
    if (r.marcoxml == "B") {
      const std::string hour = orden == "2" ? "1" : "2";
      EXPECT_EQ(r.diho, day + hour);
      EXPECT_EQ(r.hora, hour);
      EXPECT_EQ(r.marco, "0");
    } else {
      EXPECT_EQ(r.diho, day + orden);
      EXPECT_EQ(r.hora, orden);
      EXPECT_EQ(r.marco, "");
    }
  }
}

// --- Renumbering ----------------------------------------------------------

TEST(CrearDiasHoras, HoursOfTheChosenFrameAreNumberedWithoutGaps) {
  struct Case {
    std::vector<std::optional<std::string>> orden;  // in document order
    std::vector<std::string> hora;                  // HORA afterwards, every day
  } cases[] = {
      {{"1", "2", "4", "5"}, {"1", "2", "3", "4"}},
      {{"5", "4", "2", "1"}, {"4", "3", "2", "1"}},
      {{"10", "12", "40", "41"}, {"1", "2", "3", "41"}},
      {{"01", "41", "x", "0", "-1", "", "2"}, {"01", "41", "x", "0", "-1", "", "1"}},
      // The first of two equal hours is renumbered, the second keeps its own.
      {{"2", "2", "5"}, {"1", "2", "2"}},
      {{"1", "1", "3"}, {"1", "1", "2"}},
      {{"4", "1", "4", "2", "4"}, {"3", "1", "4", "2", "4"}},
      {{std::nullopt, "3"}, {"", "1"}},
  };
  for (const Case& c : cases) {
    std::string trace;
    for (const auto& o : c.orden) trace += (o ? *o : "(none)") + " ";
    SCOPED_TRACE(trace);
    SauceDoc doc;
    doc.Frame("M");
    for (const auto& o : c.orden) doc.Interval({.orden = o});
    const Outcome out = Build(doc);
    ASSERT_EQ(out.rows.size(), 7 * c.orden.size());
    for (size_t i = 0; i < c.orden.size(); ++i) {
      for (int d = 1; d <= 7; ++d) {
        const Row& r = out.rows[i * 7 + d - 1];
        EXPECT_EQ(r.hora, c.hora[i]) << "interval " << i << " day " << d;
        EXPECT_EQ(r.diho, std::to_string(d) + c.hora[i]) << "interval " << i << " day " << d;
        EXPECT_EQ(r.dia, std::to_string(d));
        EXPECT_EQ(r.marco, "0");
      }
    }
  }
}

// A transcription of the renumbering and marking steps as plain loops over
// the rows, without any index, to hold the builder against.
struct RefRow {
  std::string diho, hora, desde, marcoxml, marco;
};

int RefStart(const std::string& desde) {
  return 60 * std::stoi(desde.substr(0, 2)) + std::stoi(desde.substr(3, 2));
}

void RefRenumber(std::vector<RefRow>& rows, const std::string& code) {
  for (int d = 1; d <= 7; ++d) {
    int h = 1;
    for (int n = 1; n <= 40; ++n) {
      const std::string wanted = std::to_string(d) + std::to_string(n);
      for (RefRow& r : rows) {
        if (r.diho == wanted && r.marcoxml == code) {
          r.diho = std::to_string(d) + std::to_string(h);
          r.hora = std::to_string(h);
          ++h;
          break;
        }
      }
    }
  }
}

int RefFirstStart(const std::vector<RefRow>& rows, const std::string& code, int none) {
  for (const RefRow& r : rows)
    if (r.diho == "11" && r.marcoxml == code) return RefStart(r.desde);
  return none;
}

void RefSlots(std::vector<RefRow>& rows, const std::string& first, const std::string& second) {
  RefRenumber(rows, first);
  if (!second.empty()) RefRenumber(rows, second);
  const int s1 = RefFirstStart(rows, first, 0);
  const int s2 = second.empty() ? 1440 : RefFirstStart(rows, second, 1440);
  const std::string m1 = s1 <= s2 ? "0" : "1", m2 = s1 <= s2 ? "1" : "0";
  for (RefRow& r : rows) {
    if (r.marcoxml == first)
      r.marco = m1;
    else if (!second.empty() && r.marcoxml == second)
      r.marco = m2;
  }
}

TEST(CrearDiasHoras, MatchesPlainLoopsOnDocumentsFullOfDuplicates) {
  std::mt19937 random(20260911);
  const std::vector<std::string> ordenes = {"1", "2", "3", "4", "5", "6", "12", "40", "41", "01", "x", ""};
  const std::vector<std::string> frames = {"A", "B", "C"};
  const std::vector<std::string> answers = {Pad10("A") + Pad10("B"), Pad10("B") + Pad10("A"),
                                            Pad10("A") + Pad10("A"), Pad10("C"), Pad10("B")};
  auto pick = [&](const std::vector<std::string>& from) {
    return from[std::uniform_int_distribution<size_t>(0, from.size() - 1)(random)];
  };
  for (int trial = 0; trial < 300; ++trial) {
    SCOPED_TRACE("trial " + std::to_string(trial));
    SauceDoc doc;
    for (const auto& f : frames) doc.Frame(f);
    std::vector<RefRow> expected;
    const int count = std::uniform_int_distribution<int>(0, 14)(random);
    for (int i = 0; i < count; ++i) {
      const std::string orden = pick(ordenes), clave = pick(frames);
      const int hour = std::uniform_int_distribution<int>(0, 23)(random);
      const std::string inicio = (hour < 10 ? "0" : "") + std::to_string(hour) + ":30";
      doc.Interval({.inicio = inicio, .fin = "23:59", .orden = orden, .clave = clave});
      for (int d = 1; d <= 7; ++d)
        expected.push_back({std::to_string(d) + orden, orden, inicio, clave, ""});
    }
    const std::string answer = pick(answers);
    const std::string first = answer.substr(0, 1);
    const std::string second = answer.size() == 20 ? answer.substr(10, 1) : "";
    RefSlots(expected, first, second);

    const Outcome out = Build(doc, answer);
    ASSERT_EQ(out.rows.size(), expected.size());
    for (size_t r = 0; r < expected.size(); ++r) {
      SCOPED_TRACE("row " + std::to_string(r));
      EXPECT_EQ(out.rows[r].diho, expected[r].diho);
      EXPECT_EQ(out.rows[r].hora, expected[r].hora);
      EXPECT_EQ(out.rows[r].marco, expected[r].marco);
    }
  }
}

}  // namespace
}  // namespace tvs
