// CrearProfesores: the teachers table PROFT.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "export/builders.h"
#include "export/working_tables.h"
#include "sauce_doc_helpers.h"

namespace tvs {
namespace {

using test::BuildHarness;
using test::Column;
using test::Rows;
using test::SauceEntry;
using Table = std::vector<std::vector<std::string>>;

const std::vector<std::string_view> kFields = {"ABREV", "NOMBRE", "DEPART", "DNI", "X_EMPLEADO", "F_TOMAPOS", "EMAIL"};

Table Build(const std::vector<SauceEntry>& teachers) {
  BuildHarness h({{"PROFESORES", teachers}});
  CrearProfesores(h.ctx());
  return Rows(h.Table(kProft), kFields);
}

std::vector<SauceEntry> WithCodes(const std::vector<std::string>& codes) {
  std::vector<SauceEntry> out;
  for (size_t i = 0; i < codes.size(); ++i)
    out.push_back({"E" + std::to_string(i), "2020-09-01", "Profesor " + std::to_string(i), codes[i]});
  return out;
}

TEST(CrearProfesores, WritesOneRowPerTeacher) {
  const std::string name90(90, 'p');
  const struct {
    const char* what;
    std::vector<SauceEntry> teachers;
    Table rows;
  } cases[] = {
      {"a teacher",
       {{"12345", "2019-09-01", "Ana Pérez Gómez", "APG"}},
       {{"APG", "Ana Pérez Gómez", "", "", "12345", "2019-09-01", ""}}},
      {"field widths",
       {{"X_EMPLEADO_LARGO", "2019-09-01T00", name90, "ABCDEFGHIJKL"}},
       {{"ABCDEFGHIJ", name90.substr(0, 80), "", "", "X_EMPLEADO", "2019-09-01", ""}}},
      {"short entries: skipped below two salidas, missing values empty above",
       {{}, {"1"}, {"2", "2020"}, {"3", "2021", "Tres"}},
       {{"", "", "", "", "2", "2020", ""}, {"1", "Tres", "", "", "3", "2021", ""}}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    EXPECT_EQ(Build(c.teachers), c.rows);
  }
}

TEST(CrearProfesores, MakesCodesUniqueWithinTheTable) {
  const struct {
    std::vector<std::string> codes, abrev;
  } cases[] = {
      {{"JPG", "JPG", "JPG", "jpg"}, {"JPG", "JPG1", "JPG2", "jpg3"}},
      {{"ABCDEFGHIJKL", "ABCDEFGHIJXY"}, {"ABCDEFGHIJ", "ABCDEFGHI1"}},
      {{"", "", ""}, {"", "1", "2"}},
      // The cut is taken as it stands: "ANA MARIA " keeps its blank, and
      // still counts as ANA MARIA, which the table stores alike.
      {{"ANA MARIA LOPEZ", "ANA MARIA"}, {"ANA MARIA", "ANA MARIA1"}},
      {{"ABCDEFGH  XY", "ABCDEFGH  XY"}, {"ABCDEFGH", "ABCDEFGH 1"}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.codes.front());
    BuildHarness h({{"PROFESORES", WithCodes(c.codes)}});
    CrearProfesores(h.ctx());
    EXPECT_EQ(Column(h.Table(kProft), "ABREV"), c.abrev);
  }
}

TEST(CrearProfesores, CodesAreIndependentOfTheCatalogue) {
  BuildHarness h({{"MATERIAS", {{"1", "Lengua", "JPG"}}}, {"PROFESORES", WithCodes({"JPG"})}});
  CrearAsignaturas(h.ctx());
  CrearTareas(h.ctx());
  CrearProfesores(h.ctx());
  EXPECT_EQ(Column(h.Table(kProft), "ABREV"), (std::vector<std::string>{"JPG"}));
}

TEST(CrearProfesores, MissingListGivesNoRows) { EXPECT_TRUE(Build({}).empty()); }

}  // namespace
}  // namespace tvs
