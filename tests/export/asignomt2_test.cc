// CrearAsignaturasCurso: every subject and task with its course key or mark.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "export/builders.h"
#include "export/working_tables.h"
#include "sauce_doc_helpers.h"

namespace tvs {
namespace {

using test::BuildHarness;
using test::Rows;
using test::SauceEntry;
using test::SauceList;
using Table = std::vector<std::vector<std::string>>;

const std::vector<std::string_view> kFields = {"COD", "CODLARGO", "NOMBRE", "MATERIA", "CLAVECURSO", "ALECTIVA"};

Table Build(const std::vector<SauceList>& lists) {
  BuildHarness h(lists);
  CrearAsignaturasCurso(h.ctx());
  return Rows(h.Table(kAsignomt2), kFields);
}

struct Case {
  const char* what;
  std::vector<SauceEntry> materias, tareas;
  Table rows;
};

TEST(CrearAsignaturasCurso, BuildsOneRowPerEntry) {
  const std::string name60(60, 'x');
  const std::vector<Case> cases = {
      {"a subject",
       {{"000123", "Matemáticas", "MATEMATICAS", "3ESO-A"}},
       {},
       {{"MATE", "MATEMATICA", "Matemáticas", "000123", "3ESO-A", ""}}},
      {"repeats are kept",
       {{"1", "Física", "FIS", "3ESO-A"}, {"1", "Física", "FIS", "3ESO-B"}},
       {},
       {{"FIS", "FIS", "Física", "1", "3ESO-A", ""}, {"FIS", "FIS", "Física", "1", "3ESO-B", ""}}},
      {"codes shared by their first four characters",
       {{"1", "M", "MATEMATICAS", "C"}, {"2", "M", "MATERIALES", "C"}},
       {},
       {{"MATE", "MATEMATICA", "M", "1", "C", ""}, {"MATE", "MATERIALES", "M", "2", "C", ""}}},
      {"short and empty long codes",
       {{"1", "Ed. Física", "EFI", "C"}, {"2", "Sin código", "", "C"}},
       {},
       {{"EFI", "EFI", "Ed. Física", "1", "C", ""}, {"", "", "Sin código", "2", "C", ""}}},
      {"four characters, not four bytes of UTF-8",
       {{"1", "Ñ", "ÑÁÉÍÓ", "C"}},
       {},
       {{"ÑÁÉÍ", "ÑÁÉÍÓ", "Ñ", "1", "C", ""}}},
      {"task marks",
       {},
       {{"156", "Guardia", "GUARDIA", "S"}, {"157", "Apoyo", "APOYO", "SI"}, {"158", "Otra", "OTRA", ""}},
       {{"GUAR", "GUARDIA", "Guardia", "156", "", "S"},
        {"APOY", "APOYO", "Apoyo", "157", "", "S"},
        {"OTRA", "OTRA", "Otra", "158", "", ""}}},
      {"field widths",
       {{"123456789", name60, "ABCDEFGHIJKL", "3ESO-A-TARDE-X"}},
       {},
       {{"ABCD", "ABCDEFGHIJ", name60.substr(0, 40), "12345678", "3ESO-A-TARDE", ""}}},
      {"short entries: skipped below two salidas, missing values empty above",
       {{}, {"1"}, {"2", "Dos"}, {"3", "Tres", "TRES"}},
       {{"7"}, {"8", "Ocho"}},
       {{"", "", "Dos", "2", "", ""}, {"TRES", "TRES", "Tres", "3", "", ""}, {"", "", "Ocho", "8", "", ""}}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    EXPECT_EQ(Build({{"MATERIAS", c.materias}, {"TAREAS", c.tareas}}), c.rows);
  }
}

TEST(CrearAsignaturasCurso, SubjectsComeBeforeTasksWhateverTheDocumentOrder) {
  const Table rows = Build({{"TAREAS", {{"156", "Guardia", "GUARDIA", "S"}}},
                            {"MATERIAS", {{"1", "Lengua", "LENGUA", "1ESO"}}}});
  EXPECT_EQ(rows, (Table{{"LENG", "LENGUA", "Lengua", "1", "1ESO", ""},
                         {"GUAR", "GUARDIA", "Guardia", "156", "", "S"}}));
}

TEST(CrearAsignaturasCurso, MissingListsGiveAnEmptyTable) {
  EXPECT_TRUE(Build({}).empty());
  EXPECT_EQ(Build({{"TAREAS", {{"156", "Guardia", "GUARDIA", "S"}}}}).size(), 1u);
}

}  // namespace
}  // namespace tvs
