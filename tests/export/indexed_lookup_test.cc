// The builders find rows of tables built earlier in the run through indexes.
// These tests hold them to what a plain walk from the first row gives, the
// first row that matches exactly winning, on data full of repeated keys:
// the CURSOST row of each group (CrearCursosGrupos), and the GRUPOST rows and
// ASIGNOMT task row of each subject (CrearAsignaciones).
#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <string>
#include <vector>

#include "export/builders.h"
#include "export/working_tables.h"
#include "sauce_doc_helpers.h"

namespace tvs {
namespace {

using test::BuildHarness;
using test::SauceEntry;
using test::SauceList;
using Row = std::vector<std::string>;

template <typename T>
const T& Pick(std::mt19937& random, const std::vector<T>& from) {
  return from[std::uniform_int_distribution<size_t>(0, from.size() - 1)(random)];
}

// Course keys that repeat, that differ in letter case, and that are 12 and
// 13 characters long (a stored key is cut to 12, so the longer one must
// find nothing); the groups and subjects also name keys no course has.
const std::vector<std::string> kCourseKeys = {"C1", "C2", "c1", "C3", "CURSOLARGO12", "CURSOLARGO123"};
const std::vector<std::string> kWantedKeys = {"C1", "C2", "c1", "C3", "CURSOLARGO12", "CURSOLARGO123", "CX", ""};

struct Lists {
  std::vector<SauceEntry> cursos, grupos, materias, tareas;
};

Lists Generate(unsigned seed) {
  std::mt19937 random(seed);
  Lists l;
  for (int i = 0; i < 30; ++i)
    l.cursos.push_back({Pick(random, kCourseKeys), "Curso " + std::to_string(i), "x", "N" + std::to_string(i),
                        std::to_string(i % 4 + 1)});
  const std::vector<std::string> short_names = {"1A", "1B", "2A", "2B", "3C"};
  for (int i = 0; i < 40; ++i)
    l.grupos.push_back({"G" + std::to_string(i), Pick(random, short_names), Pick(random, kWantedKeys)});
  const std::vector<std::string> names = {"Matem\xC3\xA1ticas", "Guardia", "guardia de recreo", "Biblioteca",
                                          "Guardia en biblioteca"};
  const std::vector<std::string> minutes = {"", "60", "90", "0", "130"};
  for (int i = 0; i < 60; ++i)
    l.materias.push_back({"M" + std::to_string(i), Pick(random, names), "S" + std::to_string(i),
                          Pick(random, kWantedKeys), Pick(random, minutes)});
  const std::vector<std::string> task_codes = {"156", "281", "286", "999"};
  for (int i = 0; i < 20; ++i)
    l.tareas.push_back({Pick(random, task_codes), "Tarea " + std::to_string(i), "TL" + std::to_string(i)});
  return l;
}

// The first row of `table`, from the top, whose `field` holds `value`;
// -1 when none does.
long FirstRow(const DbfTable& table, std::string_view field, std::string_view value) {
  const size_t f = table.FieldIndex(field);
  for (size_t r = 0; r < table.RecordCount(); ++r)
    if (table.Text(r, f) == value) return static_cast<long>(r);
  return -1;
}

// A text as a field of `width` holds it and gives it back: cut to the width,
// without trailing blanks.
std::string Stored(std::string text, size_t width) {
  text.resize(std::min(text.size(), width));
  while (!text.empty() && text.back() == ' ') text.pop_back();
  return text;
}

std::string TaskCode(const std::string& name) {
  std::string upper;
  for (char c : name) upper += (c >= 'a' && c <= 'z') ? static_cast<char>(c - 32) : c;
  std::string code = "156";
  if (upper.find("GUARD") != std::string::npos) code = "281";
  if (upper.find("BIBLIO") != std::string::npos) code = "286";
  return code;
}

TEST(IndexedLookup, GroupsTakeTheFirstCourseRowWithTheirKey) {
  for (unsigned seed : {1u, 2u, 3u}) {
    SCOPED_TRACE("seed " + std::to_string(seed));
    const Lists l = Generate(seed);
    BuildHarness h(std::vector<SauceList>{{"CURSOS", l.cursos}, {"GRUPOS", l.grupos}});
    CrearCursosGrupos(h.ctx());
    const DbfTable& cursos = h.Table(kCursost);
    const DbfTable& grupos = h.Table(kGrupost);
    ASSERT_EQ(grupos.RecordCount(), l.grupos.size());

    size_t found = 0;
    for (size_t g = 0; g < l.grupos.size(); ++g) {
      const std::string& course_key = l.grupos[g][2];
      const long c = FirstRow(cursos, "CLAVE", course_key);
      found += c >= 0;
      const Row want = {c < 0 ? "" : test::Cell(cursos, c, "NIVEL"), c < 0 ? "" : test::Cell(cursos, c, "CURSO"),
                        Stored("(" + l.grupos[g][0] + ") " + (c < 0 ? "" : test::Cell(cursos, c, "DESCRICUR")), 80)};
      EXPECT_EQ(test::Row(grupos, g, {"NIVEL", "CURSO", "DESCRIP"}), want) << "group " << g;
    }
    EXPECT_GT(found, 0u);
    EXPECT_LT(found, l.grupos.size());
  }
}

TEST(IndexedLookup, SubjectsTakeTheirGroupsInOrderAndTheFirstTaskRow) {
  for (unsigned seed : {4u, 5u, 6u}) {
    SCOPED_TRACE("seed " + std::to_string(seed));
    const Lists l = Generate(seed);
    BuildHarness h(std::vector<SauceList>{
        {"MATERIAS", l.materias}, {"TAREAS", l.tareas}, {"CURSOS", l.cursos}, {"GRUPOS", l.grupos}});
    CrearAsignaturas(h.ctx());
    CrearTareas(h.ctx());
    CrearCursosGrupos(h.ctx());
    CrearAsignaciones(h.ctx());
    const DbfTable& grupos = h.Table(kGrupost);
    const DbfTable& catalogue = h.Table(kAsignomt);

    std::vector<Row> want;
    for (const SauceEntry& m : l.materias) {
      const long task_row = FirstRow(catalogue, "CODTAREA", TaskCode(m[1]));
      const std::string ctarea = task_row < 0 ? "" : test::Cell(catalogue, task_row, "COD");
      const size_t clavecurso = grupos.FieldIndex("CLAVECURSO");
      for (size_t g = 0; g < grupos.RecordCount(); ++g) {
        if (grupos.Text(g, clavecurso) != m[3]) continue;
        want.push_back({m[2], test::Cell(grupos, g, "ABREV"), test::Cell(grupos, g, "NIVEL"),
                        test::Cell(grupos, g, "CURSO"), test::Cell(grupos, g, "GRUPO"), m[0], Stored(m[3], 12),
                        ctarea});
      }
    }
    ASSERT_GT(want.size(), 0u);
    EXPECT_EQ(test::Rows(h.Table(kAsigt),
                         {"CASIG", "CGRUP", "NIVEL", "CURSO", "GRUPO", "CLAVE", "CLAVECURSO", "CTAREA"}),
              want);
  }
}

}  // namespace
}  // namespace tvs
