// CrearAulas: the rooms table AULAT.
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

const std::vector<std::string_view> kFields = {"ABREV", "NOMBRE", "EDIFICIO", "MAXALUM", "DEPCENTRO"};

Table Build(const std::vector<SauceEntry>& rooms) {
  BuildHarness h({{"AULAS", rooms}});
  CrearAulas(h.ctx());
  return Rows(h.Table(kAulat), kFields);
}

TEST(CrearAulas, WritesOneRowPerRoom) {
  const std::string name90(90, 'a');
  const struct {
    const char* what;
    std::vector<SauceEntry> rooms;
    Table rows;
  } cases[] = {
      {"a room", {{"1001", "Laboratorio de Química", "LABQ"}}, {{"LABQ", "Laboratorio de Química", "", "", "1001"}}},
      {"field widths",
       {{"DEPCENTRO-LARGO", name90, "ABCDEFGHIJKL"}},
       {{"ABCDEFGHIJ", name90.substr(0, 80), "", "", "DEPCENTRO-"}}},
      {"short entries: skipped below two salidas, missing value empty above",
       {{}, {"1"}, {"2", "Dos"}, {"3", "Tres", "T3"}},
       {{"", "Dos", "", "", "2"}, {"T3", "Tres", "", "", "3"}}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    EXPECT_EQ(Build(c.rooms), c.rows);
  }
}

TEST(CrearAulas, MakesCodesUniqueWithinTheTable) {
  const struct {
    std::vector<std::string> codes, abrev;
  } cases[] = {
      {{"LAB", "LAB", "LAB", "lab"}, {"LAB", "LAB1", "LAB2", "lab3"}},
      {{"SALA USOS MULTIPLES", "SALA USOS"}, {"SALA USOS", "SALA USOS1"}},
      // Blanks left inside the cut are trimmed at its end only.
      {{"A         B", "A"}, {"A", "A1"}},
      // The numbering works on the trimmed cut, not on the blanks.
      {{"ABCDEFGH  XY", "ABCDEFGH  XY"}, {"ABCDEFGH", "ABCDEFGH1"}},
      {{"", "", ""}, {"", "1", "2"}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.codes.front());
    std::vector<SauceEntry> rooms;
    for (size_t i = 0; i < c.codes.size(); ++i) rooms.push_back({std::to_string(i), "Aula", c.codes[i]});
    BuildHarness h({{"AULAS", rooms}});
    CrearAulas(h.ctx());
    EXPECT_EQ(Column(h.Table(kAulat), "ABREV"), c.abrev);
  }
}

TEST(CrearAulas, CodesAreIndependentOfTeachers) {
  BuildHarness h({{"PROFESORES", {{"1", "2020", "Luis", "LAB"}}}, {"AULAS", {{"1", "Lab", "LAB"}}}});
  CrearProfesores(h.ctx());
  CrearAulas(h.ctx());
  EXPECT_EQ(Column(h.Table(kAulat), "ABREV"), (std::vector<std::string>{"LAB"}));
}

TEST(CrearAulas, MissingListGivesNoRows) { EXPECT_TRUE(Build({}).empty()); }

}  // namespace
}  // namespace tvs
