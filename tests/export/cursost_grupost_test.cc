// CrearCursosGrupos: the courses table CURSOST and the groups table GRUPOST.
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
using test::SauceList;
using Table = std::vector<std::vector<std::string>>;

const std::vector<std::string_view> kCourseFields = {"ABREV", "TURNO", "NIVEL", "CURSO", "CLAVE", "DESCRICUR"};
const std::vector<std::string_view> kGroupFields = {"ABREV", "TURNO", "NIVEL", "CURSO", "GRUPO",
                                                    "DESCRIP", "MARCO", "CLAVE", "CLAVECURSO"};

struct Built {
  Table courses, groups;
};

Built Build(const std::vector<SauceList>& lists) {
  BuildHarness h(lists);
  CrearCursosGrupos(h.ctx());
  return {Rows(h.Table(kCursost), kCourseFields), Rows(h.Table(kGrupost), kGroupFields)};
}

TEST(CrearCursosGrupos, WritesCourseRows) {
  const struct {
    const char* what;
    std::vector<SauceEntry> courses;
    Table rows;
  } cases[] = {
      {"a course", {{"3ESO", "3º de ESO", "x", "ESO", "3"}}, {{"", "", "ESO", "3", "3ESO", "3º de ESO"}}},
      {"empty level gives NIV", {{"C1", "Curso 1", "x", "", "1"}}, {{"", "", "NIV", "1", "C1", "Curso 1"}}},
      {"field widths",
       {{"CLAVE-MUY-LARGA", std::string(90, 'd'), "x", "BACHILLER", "1234"}},
       {{"", "", "BACHI", "123", "CLAVE-MUY-LA", std::string(80, 'd')}}},
      {"short entries: skipped below two salidas, missing values empty above",
       {{}, {"C0"}, {"C1", "Uno"}, {"C2", "Dos", "x", "ESO"}},
       {{"", "", "NIV", "", "C1", "Uno"}, {"", "", "ESO", "", "C2", "Dos"}}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    EXPECT_EQ(Build({{"CURSOS", c.courses}}).courses, c.rows);
  }
}

TEST(CrearCursosGrupos, CopiesTheFirstCourseRowWithTheKey) {
  const std::vector<SauceEntry> courses = {
      {"3ESO", "Tercero", "x", "ESO", "3"},
      {"SINNIVEL", "Sin nivel", "x", "", "9"},
      {"3ESO", "Tercero repetido", "x", "OTRO", "8"},
      {"CLAVEDE13CARS", "Clave larga", "x", "LAR", "5"},  // stored as CLAVEDE13CAR
      {"1bach", "Primero", "x", "BACH", "1"},
  };
  const struct {
    const char* what;
    SauceEntry group;
    std::vector<std::string> row;
  } cases[] = {
      {"a group of a course", {"G1", "3A", "3ESO"}, {"3A", "", "ESO", "3", "A", "(G1) Tercero", "0", "G1", "3ESO"}},
      {"level NIV copied", {"G2", "9A", "SINNIVEL"}, {"9A", "", "NIV", "9", "A", "(G2) Sin nivel", "0", "G2", "SINNIVEL"}},
      // DESCRIP is "(G3) " and the blank is padding in the field.
      {"no course row", {"G3", "7A", "NOEXISTE"}, {"7A", "", "", "", "A", "(G3)", "0", "G3", "NOEXISTE"}},
      {"letter case counts", {"G4", "1B", "1BACH"}, {"1B", "", "", "", "B", "(G4)", "0", "G4", "1BACH"}},
      {"a key longer than 12 finds no row",
       {"G5", "5A", "CLAVEDE13CARS"},
       {"5A", "", "", "", "A", "(G5)", "0", "G5", "CLAVEDE13CAR"}},
      {"the stored key is found", {"G6", "5B", "CLAVEDE13CAR"}, {"5B", "", "LAR", "5", "B", "(G6) Clave larga", "0", "G6", "CLAVEDE13CAR"}},
      {"DESCRIP carries the whole group key",
       {"GRUPO-CLAVE-LARGA", "3C", "3ESO"},
       {"3C", "", "ESO", "3", "C", "(GRUPO-CLAVE-LARGA) Tercero", "0", "GRUPO-CLAV", "3ESO"}},
      {"empty short name: no letter, empty code", {"G7", "", "3ESO"}, {"", "", "ESO", "3", "", "(G7) Tercero", "0", "G7", "3ESO"}},
      {"letter from the name before the cut", {"G8", "ABCDEFGHI JK", "3ESO"},
       {"ABCDEFGHI", "", "ESO", "3", "K", "(G8) Tercero", "0", "G8", "3ESO"}},
      {"two salidas: no course key", {"G9", "2Z"}, {"2Z", "", "", "", "Z", "(G9)", "0", "G9", ""}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    const Built b = Build({{"CURSOS", courses}, {"GRUPOS", {c.group}}});
    ASSERT_EQ(b.groups.size(), 1u);
    EXPECT_EQ(b.groups[0], c.row);
  }
}

TEST(CrearCursosGrupos, DescriptionIsCutTo80) {
  const Built b = Build({{"CURSOS", {{"C", std::string(90, 'd'), "x", "N", "1"}}}, {"GRUPOS", {{"G", "1A", "C"}}}});
  EXPECT_EQ(b.groups[0][5], "(G) " + std::string(76, 'd'));
}

TEST(CrearCursosGrupos, MakesGroupCodesUnique) {
  const struct {
    std::vector<std::string> names, codes, letters;
  } cases[] = {
      {{"1A", "1a"}, {"1A", "1a1"}, {"A", "a"}},
      {std::vector<std::string>(12, "ABCDEFGHIJ"),
       {"ABCDEFGHIJ", "ABCDEFGHI1", "ABCDEFGHI2", "ABCDEFGHI3", "ABCDEFGHI4", "ABCDEFGHI5", "ABCDEFGHI6",
        "ABCDEFGHI7", "ABCDEFGHI8", "ABCDEFGHI9", "ABCDEFGH10", "ABCDEFGH11"},
       std::vector<std::string>(12, "J")},
      // A group named like the eleventh's shortened code is numbered.
      {{"ABCDEFGHIJ", "ABCDEFGHIJ", "ABCDEFGHIJ", "ABCDEFGHIJ", "ABCDEFGHIJ", "ABCDEFGHIJ", "ABCDEFGHIJ",
        "ABCDEFGHIJ", "ABCDEFGHIJ", "ABCDEFGHIJ", "ABCDEFGHIJ", "ABCDEFGH10"},
       {"ABCDEFGHIJ", "ABCDEFGHI1", "ABCDEFGHI2", "ABCDEFGHI3", "ABCDEFGHI4", "ABCDEFGHI5", "ABCDEFGHI6",
        "ABCDEFGHI7", "ABCDEFGHI8", "ABCDEFGHI9", "ABCDEFGH10", "ABCDEFGH11"},
       {"J", "J", "J", "J", "J", "J", "J", "J", "J", "J", "J", "0"}},
      {{"ABCDEFGH  XY", "ABCDEFGH  XY"}, {"ABCDEFGH", "ABCDEFGH1"}, {"Y", "Y"}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.names.back());
    std::vector<SauceEntry> groups;
    for (size_t i = 0; i < c.names.size(); ++i) groups.push_back({"G" + std::to_string(i), c.names[i], "C"});
    BuildHarness h({{"GRUPOS", groups}});
    CrearCursosGrupos(h.ctx());
    EXPECT_EQ(Column(h.Table(kGrupost), "ABREV"), c.codes);
    EXPECT_EQ(Column(h.Table(kGrupost), "GRUPO"), c.letters);
  }
}

TEST(CrearCursosGrupos, GroupCodesAreIndependentOfOtherTables) {
  BuildHarness h({{"AULAS", {{"1", "Aula", "1A"}}}, {"GRUPOS", {{"G", "1A", "C"}}}});
  CrearAulas(h.ctx());
  CrearCursosGrupos(h.ctx());
  EXPECT_EQ(Column(h.Table(kGrupost), "ABREV"), (std::vector<std::string>{"1A"}));
}

TEST(CrearCursosGrupos, MissingListsGiveEmptyTables) {
  const Built none = Build({});
  EXPECT_TRUE(none.courses.empty());
  EXPECT_TRUE(none.groups.empty());

  const Built no_courses = Build({{"GRUPOS", {{"G1", "1A", "1ESO"}, {"G2", "1B", "1ESO"}}}});
  EXPECT_TRUE(no_courses.courses.empty());
  EXPECT_EQ(no_courses.groups,
            (Table{{"1A", "", "", "", "A", "(G1)", "0", "G1", "1ESO"}, {"1B", "", "", "", "B", "(G2)", "0", "G2", "1ESO"}}));
}

TEST(CrearCursosGrupos, BuildsCourseTableBeforeGroupTable) {
  BuildHarness h(std::vector<SauceList>{});
  CrearCursosGrupos(h.ctx());
  const auto tables = h.ctx().Tables();
  ASSERT_EQ(tables.size(), 2u);
  EXPECT_EQ(tables[0]->name(), kCursost);
  EXPECT_EQ(tables[1]->name(), kGrupost);
}

}  // namespace
}  // namespace tvs
