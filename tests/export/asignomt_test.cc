// CrearAsignaturas and CrearTareas: the subject and task catalogue ASIGNOMT.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "export/builders.h"
#include "export/working_tables.h"
#include "platform/error.h"
#include "sauce_doc_helpers.h"

namespace tvs {
namespace {

using test::BuildHarness;
using test::Rows;
using test::SauceEntry;
using Table = std::vector<std::vector<std::string>>;

const std::vector<std::string_view> kFields = {"COD", "CODLARGO", "NOMBRE", "MATERIA", "CODTAREA", "ESTAREA"};

Table BuildCatalogue(const std::vector<SauceEntry>& materias, const std::vector<SauceEntry>& tareas) {
  BuildHarness h({{"MATERIAS", materias}, {"TAREAS", tareas}});
  CrearAsignaturas(h.ctx());
  CrearTareas(h.ctx());
  return Rows(h.Table(kAsignomt), kFields);
}

struct Case {
  const char* what;
  std::vector<SauceEntry> materias, tareas;
  Table rows;
};

TEST(CrearAsignaturas, BuildsTheCatalogue) {
  const std::string name100(100, 'n');
  const std::vector<Case> cases = {
      {"three subjects",
       {{"1", "Matemáticas", "MAT"}, {"2", "Lengua", "LEN"}, {"3", "Inglés", "ING"}},
       {},
       {{"MAT", "MAT", "Matemáticas", "", "", "F"},
        {"LEN", "LEN", "Lengua", "", "", "F"},
        {"ING", "ING", "Inglés", "", "", "F"}}},
      {"a repeated long code in another case is skipped",
       {{"1", "Matemáticas", "MAT"}, {"2", "Mates", "mat"}, {"3", "Mates 2", "MAT2"}},
       {},
       {{"MAT", "MAT", "Matemáticas", "", "", "F"}, {"MAT2", "MAT2", "Mates 2", "", "", "F"}}},
      {"a task",
       {},
       {{"156", "Guardia", "GUARDIA"}},
       {{"GUARDIA", "GUARDIA", "Guardia", "", "156", "T"}}},
      {"a task repeating a subject's long code is skipped",
       {{"1", "Lengua", "LEN"}},
       {{"281", "Lengua", "len"}, {"282", "Otra", "OTRA"}},
       {{"LEN", "LEN", "Lengua", "", "", "F"}, {"OTRA", "OTRA", "Otra", "", "282", "T"}}},
      {"a task repeating an earlier task's long code is skipped",
       {},
       {{"281", "Guardia", "GUARDIA"}, {"282", "Guardia 2", "Guardia"}},
       {{"GUARDIA", "GUARDIA", "Guardia", "", "281", "T"}}},
      {"a task avoids the subjects' short codes",
       {{"1", "Religión", "RELIGIONCATOLICA"}},
       {{"300", "Religión tarea", "RELIGIONCAT"}},
       {{"RELIGIONCA", "RELIGIONCA", "Religión", "", "", "F"},
        {"RELIGIONC1", "RELIGIONCA", "Religión tarea", "", "300", "T"}}},
      {"long codes alike in their first ten characters",
       {{"1", "CN", "CIENCIASNATURALES"}, {"2", "CN2", "CIENCIASNATURALES2"}},
       {},
       {{"CIENCIASNA", "CIENCIASNA", "CN", "", "", "F"}, {"CIENCIASN1", "CIENCIASNA", "CN2", "", "", "F"}}},
      {"name cut to 80", {{"1", name100, "X"}}, {}, {{"X", "X", name100.substr(0, 80), "", "", "F"}}},
      {"task code cut to 10", {}, {{"123456789012", "T", "T"}}, {{"T", "T", "T", "", "1234567890", "T"}}},
      {"an empty long code once, then skipped, subject or task",
       {{"1", "Sin código", ""}, {"2", "Otra sin código", ""}},
       {{"9", "Tarea sin código", ""}},
       {{"", "", "Sin código", "", "", "F"}}},
      {"entries with fewer than two salidas yield nothing; two give empty values",
       {{}, {"1"}, {"2", "Dos"}, {"3", "Tres", "TRES"}},
       {{"7"}, {"8", "Ocho"}},
       // The two-salida subject takes the empty long code; the task with
       // two salidas then repeats it and is skipped.
       {{"", "", "Dos", "", "", "F"}, {"TRES", "TRES", "Tres", "", "", "F"}}},
      {"surrounding blanks are not part of the codes",
       {{" 1 ", "  Lengua\n", "\tLEN  "}},
       {{" 156 ", " Guardia ", " LEN "}},
       {{"LEN", "LEN", "Lengua", "", "", "F"}}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    EXPECT_EQ(BuildCatalogue(c.materias, c.tareas), c.rows);
  }
}

TEST(CrearAsignaturas, MissingListsGiveNoRows) {
  BuildHarness only_tasks({{"TAREAS", {{"156", "Guardia", "GUARDIA"}}}});
  CrearAsignaturas(only_tasks.ctx());
  EXPECT_EQ(only_tasks.Table(kAsignomt).RecordCount(), 0u);
  CrearTareas(only_tasks.ctx());
  EXPECT_EQ(only_tasks.Table(kAsignomt).RecordCount(), 1u);

  BuildHarness nothing("<SERVICIO/>");
  CrearAsignaturas(nothing.ctx());
  CrearTareas(nothing.ctx());
  EXPECT_EQ(nothing.Table(kAsignomt).RecordCount(), 0u);
  EXPECT_EQ(nothing.Table(kAsignomt).fields().size(), kFields.size());
}

TEST(CrearAsignaturas, EveryRunStartsWithEmptyCodeLists) {
  const std::vector<test::SauceList> lists = {{"MATERIAS", {{"1", "Lengua", "LEN"}}},
                                              {"TAREAS", {{"156", "Guardia", "GUARDIA"}}}};
  const Table want = {{"LEN", "LEN", "Lengua", "", "", "F"}, {"GUARDIA", "GUARDIA", "Guardia", "", "156", "T"}};
  for (int run = 0; run < 2; ++run) {
    BuildHarness h(lists);
    CrearAsignaturas(h.ctx());
    CrearTareas(h.ctx());
    EXPECT_EQ(Rows(h.Table(kAsignomt), kFields), want) << "run " << run;
  }
}

TEST(CrearTareas, NeedsTheSubjectsTable) {
  BuildHarness h({{"TAREAS", {{"156", "Guardia", "GUARDIA"}}}});
  EXPECT_THROW(CrearTareas(h.ctx()), Error);
}

}  // namespace
}  // namespace tvs
