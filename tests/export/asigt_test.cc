// CrearAsignaciones: the teaching assignments ASIGT, from MATERIAS and the
// GRUPOST and ASIGNOMT rows built earlier in the run.
#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "export/builders.h"
#include "export/export_run.h"
#include "export/working_tables.h"
#include "platform/error.h"
#include "platform/xml_document.h"
#include "sauce_doc_helpers.h"

namespace tvs {
namespace {

using test::BuildHarness;
using test::Cell;
using test::Column;
using test::Rows;
using test::SauceEntry;
using test::SauceList;
using Table = std::vector<std::vector<std::string>>;

const std::vector<std::string_view> kRowFields = {"CASIG", "CGRUP", "NIVEL", "CURSO", "GRUPO",
                                                  "SESIONES", "CLAVE", "CLAVECURSO", "CTAREA"};

// Runs the builders ASIGT depends on, then CrearAsignaciones.
void BuildAll(BuildHarness& h) {
  CrearAsignaturas(h.ctx());
  CrearTareas(h.ctx());
  CrearCursosGrupos(h.ctx());
  CrearAsignaciones(h.ctx());
}

std::string ErrorOf(const std::function<void()>& run) {
  try {
    run();
  } catch (const Error& e) {
    return e.what();
  }
  return "<no error>";
}

std::vector<long long> Hours(const DbfTable& asigt) {
  std::vector<long long> out;
  const size_t f = asigt.FieldIndex("HORAS");
  for (size_t r = 0; r < asigt.RecordCount(); ++r) out.push_back(asigt.Integer(r, f));
  return out;
}

// One time frame with one interval, which the slot builder needs.
const std::vector<SauceList> kOneFrame = {
    {"JORNADAS", {{"J1", "Jornada", "x"}}},
    {"INTERVALOS", {{"I1", "Primera", "8:00", "9:00", "1", "J1"}},
     {"CODIGO_SAUCE", "NOMBRE", "INICIO", "FIN", "ORDEN", "CLAVE_JORNADA"}},
};

// One course C with one group 1A; the subjects given.
std::vector<SauceList> OneGroup(const std::vector<SauceEntry>& materias) {
  return {{"MATERIAS", materias},
          {"CURSOS", {{"C", "Curso C", "x", "ESO", "1"}}},
          {"GRUPOS", {{"G1", "1A", "C"}}}};
}

TEST(CrearAsignaciones, HoursAndSessionsFromTheMinutes) {
  const std::string t13(13, '1');
  const struct {
    std::string minutes;
    long long hours;
    std::string sessions;
  } cases[] = {
      {"90", 2, "11"},
      {"60", 1, "1"},
      {"61", 2, "11"},
      {"59", 1, "1"},
      {"1", 1, "1"},
      {"0", 1, "1"},
      {"-30", 1, "1"},
      {"-90", 1, "1"},
      {"", 1, "1"},
      {"+5", 1, "1"},
      {"+120", 2, "11"},
      {"007", 1, "1"},
      {"720", 12, std::string(12, '1')},
      {"780", 13, t13},
      {"781", 14, "1" + t13},
      {"840", 14, "1" + t13},
      {"900", 15, "2" + t13},
      {"1380", 23, "10" + t13},
      {"1321", 23, "10" + t13},
      {"60000", 1000, "987" + t13},
      // Beyond any timetable: the minutes saturate at 10^12 and the pattern
      // is cut to the field's 20 characters.
      {"99999999999999999999999999", 16666666667, "16666666654111111111"},
      {"-99999999999999999999999999", 1, "1"},
  };
  std::vector<SauceEntry> materias;
  for (size_t i = 0; i < std::size(cases); ++i)
    materias.push_back({"K" + std::to_string(i), "Materia", "M" + std::to_string(i), "C", cases[i].minutes});
  BuildHarness h(OneGroup(materias));
  BuildAll(h);
  const DbfTable& asigt = h.Table(kAsigt);
  ASSERT_EQ(asigt.RecordCount(), std::size(cases));
  const auto hours = Hours(asigt);
  for (size_t i = 0; i < std::size(cases); ++i) {
    SCOPED_TRACE("minutes " + cases[i].minutes);
    EXPECT_EQ(hours[i], cases[i].hours);
    EXPECT_EQ(Cell(asigt, i, "SESIONES"), cases[i].sessions);
    EXPECT_EQ(Cell(asigt, i, "CLAVE"), "K" + std::to_string(i));
  }
}

TEST(CrearAsignaciones, MinutesThatAreNoWholeNumberEndTheBuild) {
  const std::string bad[] = {"90.5", "1h", "9 0", "+", "-", "1e3", "0x10", "--5", "5-", "noventa ñ"};
  for (const auto& minutes : bad) {
    SCOPED_TRACE(minutes);
    BuildHarness h(OneGroup({{"K1", "A", "A", "C", "60"}, {"K2", "B", "B", "C", "120"},
                             {"K3", "Mal", "MAL", "C", minutes}, {"K4", "D", "D", "C", "60"}}));
    CrearAsignaturas(h.ctx());
    CrearTareas(h.ctx());
    CrearCursosGrupos(h.ctx());
    EXPECT_EQ(ErrorOf([&] { CrearAsignaciones(h.ctx()); }),
              "Los minutos «" + minutes + "» de la entrada 3 de la lista MATERIAS no son un número entero");
  }
}

TEST(CrearAsignaciones, MinutesOfASubjectWithoutGroupsAreNotRead) {
  BuildHarness h(OneGroup({{"K1", "A", "A", "OTRO", "90.5"}, {"K2", "B", "B", "C", "120"}}));
  BuildAll(h);
  EXPECT_EQ(Column(h.Table(kAsigt), "CLAVE"), (std::vector<std::string>{"K2"}));
}

TEST(CrearAsignaciones, OneRowPerGroupOfTheSubjectsCourse) {
  const std::vector<SauceList> lists = {
      {"CURSOS", {{"C1", "Primero", "x", "ESO", "1"}, {"C2", "Segundo", "x", "BACH", "2"},
                  {"CLAVEDE13CARS", "Larga", "x", "LAR", "9"}}},
      {"GRUPOS", {{"G1", "1A", "C1"}, {"G2", "2A", "C2"}, {"G3", "1B", "C1"}, {"G4", "1A", "C1"},
                  {"G5", "9A", "CLAVEDE13CARS"}, {"G6", "XA", ""}, {"G7", "YB"}}},
      {"MATERIAS",
       {{"K1", "Lengua", "LENGUA", "C1", "120"},
        {"K2", "Historia", "HISTORIA", "C2", "60"},
        {"K3", "Nada", "NADA", "c1", "60"},                      // letter case counts
        {"K4", "Larga", "LARGA", "CLAVEDE13CARS", "60"},         // longer than the stored key
        {"K5", "Cortada", "CORTADA", "CLAVEDE13CAR", "60"},      // the stored key
        {"K6", "Sin curso", "SINCURSO", "", "60"},               // groups without a course key
        {"K7", "Dos salidas"},                                   // no course key, no minutes
        {"K2", "Historia", "HISTORIA", "C2", "60"},              // repeated: rows again
        {"K8", "Naturales", "CIENCIASNATURALES2", "C2", "60"}}}, // CASIG is the cut code
  };
  BuildHarness h(lists);
  BuildAll(h);
  // G4's short name repeats G1's, so its code is 1A1.
  const Table want = {
      {"LENGUA", "1A", "ESO", "1", "A", "11", "K1", "C1", ""},
      {"LENGUA", "1B", "ESO", "1", "B", "11", "K1", "C1", ""},
      {"LENGUA", "1A1", "ESO", "1", "A", "11", "K1", "C1", ""},
      {"HISTORIA", "2A", "BACH", "2", "A", "1", "K2", "C2", ""},
      {"CORTADA", "9A", "", "", "A", "1", "K5", "CLAVEDE13CAR", ""},  // G5 found no course row
      {"SINCURSO", "XA", "", "", "A", "1", "K6", "", ""},
      {"SINCURSO", "YB", "", "", "B", "1", "K6", "", ""},
      {"", "XA", "", "", "A", "1", "K7", "", ""},
      {"", "YB", "", "", "B", "1", "K7", "", ""},
      {"HISTORIA", "2A", "BACH", "2", "A", "1", "K2", "C2", ""},
      {"CIENCIASNA", "2A", "BACH", "2", "A", "1", "K8", "C2", ""},
  };
  const DbfTable& asigt = h.Table(kAsigt);
  EXPECT_EQ(Rows(asigt, kRowFields), want);
  for (std::string_view blank : {"CPROF", "CAULA", "TURNO", "NCONEX"})
    EXPECT_EQ(Column(asigt, blank), std::vector<std::string>(want.size(), "")) << blank;
}

TEST(CrearAsignaciones, TaskCodeFromTheSubjectName) {
  const struct {
    std::string name, ctarea;
  } cases[] = {
      {"Matemáticas", "DOCENCIA"},
      {"Guardia de recreo", "GUARDIA"},
      {"GUARDIAS", "GUARDIA"},
      {"guardia", "GUARDIA"},
      {"Guardería", "GUARDIA"},
      {"Biblioteca", "BIBLIOTECA"},
      {"Guardia de biblioteca", "BIBLIOTECA"},
      {"Biblioteca y guardia", "BIBLIOTECA"},
      {"Gu ardia", "DOCENCIA"},
  };
  std::vector<SauceEntry> materias;
  for (size_t i = 0; i < std::size(cases); ++i)
    materias.push_back({"K" + std::to_string(i), cases[i].name, "S" + std::to_string(i), "C", "60"});
  std::vector<SauceList> lists = OneGroup(materias);
  // Two task rows carry 281: the first one's COD serves.
  lists.push_back({"TAREAS", {{"156", "Docencia", "DOCENCIA"}, {"281", "Guardia", "GUARDIA"},
                              {"281", "Guardia 2", "GUARDIA2"}, {"286", "Biblioteca", "BIBLIOTECA"}}});
  BuildHarness h(lists);
  BuildAll(h);
  const auto ctarea = Column(h.Table(kAsigt), "CTAREA");
  ASSERT_EQ(ctarea.size(), std::size(cases));
  for (size_t i = 0; i < std::size(cases); ++i) {
    SCOPED_TRACE(cases[i].name);
    EXPECT_EQ(ctarea[i], cases[i].ctarea);
  }
}

TEST(CrearAsignaciones, TaskCodeIsTheTaskRowsShortCodeOrBlank) {
  // The task DOCENCIA1234 meets the subject code DOCENCIA12 and is numbered;
  // there is no task 286.
  std::vector<SauceList> lists = OneGroup({{"K1", "Docencia", "DOCENCIA12", "C", "60"},
                                           {"K2", "Biblioteca", "BIB", "C", "60"}});
  lists.push_back({"TAREAS", {{"156", "Docencia", "DOCENCIA1234"}}});
  BuildHarness h(lists);
  BuildAll(h);
  EXPECT_EQ(Column(h.Table(kAsigt), "CTAREA"), (std::vector<std::string>{"DOCENCIA11", ""}));
}

TEST(CrearAsignaciones, NoSubjectsOrNoGroupsGiveNoRows) {
  const std::vector<SauceList> docs[] = {
      {{"CURSOS", {{"C", "Curso", "x", "N", "1"}}}, {"GRUPOS", {{"G", "1A", "C"}}}},
      {{"MATERIAS", {{"K", "Lengua", "LEN", "C", "60"}}}},
  };
  for (const auto& lists : docs) {
    BuildHarness h(lists);
    BuildAll(h);
    EXPECT_EQ(h.Table(kAsigt).RecordCount(), 0u);
  }
}

// A working set written by a good document, then an export of a document
// whose minutes fail in CrearAsignaciones: the folder must be exactly as it
// was, since the earlier builders' tables are only in memory.
TEST(CrearAsignaciones, AFailureLeavesTheWorkingFolderAsItWas) {
  const auto Export = [](const std::vector<SauceList>& lists, const std::string& folder) {
    XmlDocument doc;
    std::vector<SauceList> all = lists;
    all.insert(all.end(), kOneFrame.begin(), kOneFrame.end());
    doc.LoadFromMemory(test::SauceDoc(all), "prueba.xml");
    test::FakeChooser chooser;
    ExportDocument(doc, "prueba.xml", folder, chooser);
  };
  std::vector<SauceList> good = OneGroup({{"K1", "Lengua", "LEN", "C", "120"}});
  good.push_back({"PROFESORES", {{"1", "2020", "Ana", "ANA"}}});
  good.push_back({"AULAS", {{"1", "Aula", "A1"}}});
  std::vector<SauceList> bad = OneGroup({{"K1", "Física", "FIS", "C", "60"}, {"K2", "Química", "QUI", "C", "90.5"}});
  bad.push_back({"PROFESORES", {{"2", "2021", "Luis", "LUIS"}}});
  bad.push_back({"AULAS", {{"2", "Laboratorio", "LAB"}}});
  const std::string message = "Los minutos «90.5» de la entrada 2 de la lista MATERIAS no son un número entero";

  test::TempFolder folder;
  Export(good, folder.path());
  const auto before = test::FolderContents(folder.path());
  ASSERT_EQ(before.size(), WorkingTableNames().size());
  EXPECT_EQ(ErrorOf([&] { Export(bad, folder.path()); }), message);
  EXPECT_EQ(test::FolderContents(folder.path()), before);

  test::TempFolder empty;
  EXPECT_EQ(ErrorOf([&] { Export(bad, empty.path()); }), message);
  EXPECT_TRUE(test::FolderContents(empty.path()).empty());
}

}  // namespace
}  // namespace tvs
