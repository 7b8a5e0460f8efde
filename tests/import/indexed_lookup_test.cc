// The import run finds rows through indexes built once per run. This test
// holds every lesson it writes to a plain conversion written here from the
// rules, each look-up a walk from the first record that stops at the first
// exact match, on tables full of repeated keys, blank keys and codes no
// table knows.
#include <gtest/gtest.h>

#include <cmath>
#include <random>
#include <string>
#include <vector>

#include "export/working_tables.h"
#include "import/import_run.h"
#include "import/import_test_helpers.h"
#include "import/sauce_output.h"
#include "platform/dbf.h"

namespace tvs {
namespace {

using Values = std::array<std::string, 6>;

template <typename T>
const T& Pick(std::mt19937& random, const std::vector<T>& from) {
  return from[std::uniform_int_distribution<size_t>(0, from.size() - 1)(random)];
}

// A table with `name`'s working fields and `rows` records; each row gives
// the fields it names.
DbfTable Working(std::string_view name, const std::vector<std::vector<std::pair<std::string, std::string>>>& rows) {
  DbfTable t{std::string(name), WorkingTableFields(name)};
  for (const auto& row : rows) {
    t.Append();
    for (const auto& [field, text] : row) t.SetText(field, text);
  }
  return t;
}

// The working tables and SOLUC of one run, kept in memory for the reference.
struct Tables {
  DbfTable soluc{"SOLUC", {}};
  DbfTable grupost{"", {}}, cursost{"", {}}, proft{"", {}}, aulat{"", {}}, asignomt{"", {}},
      asignomt2{"", {}}, diashorast{"", {}}, asigt{"", {}};
};

Tables Generate(unsigned seed) {
  std::mt19937 random(seed);
  auto n = [&](int i) { return std::to_string(i); };
  const std::vector<std::string> subjects = {"M1", "M2", "M3", "L", ""};
  const std::vector<std::string> groups = {"G1", "G2", "G3", ""};
  const std::vector<std::string> courses = {"C1", "C2", ""};
  const std::vector<std::string> rooms = {"A1", "A2", ""};
  const std::vector<std::string> tasks = {"T1", "T2", "M1", ""};
  Tables t;

  std::vector<std::vector<std::pair<std::string, std::string>>> rows;
  for (const char* abrev : {"P1", "P2", "P3", "P1", "P4"})
    rows.push_back({{"ABREV", abrev}, {"X_EMPLEADO", "E" + n(rows.size())}, {"F_TOMAPOS", "F" + n(rows.size())}});
  t.proft = Working(kProft, rows);

  rows.clear();
  for (int i = 0; i < 12; ++i)
    rows.push_back({{"ABREV", Pick(random, groups)}, {"CLAVE", "GK" + n(i)}, {"CLAVECURSO", Pick(random, courses)}});
  t.grupost = Working(kGrupost, rows);
  t.cursost = Working(kCursost, {{{"CLAVE", "C1"}}});

  rows.clear();
  const std::vector<std::string> keys = {"", "  ", "K"};
  for (int i = 0; i < 25; ++i) {
    std::string key = Pick(random, keys);
    if (key == "K") key += n(i);
    rows.push_back({{"CASIG", Pick(random, subjects)}, {"CGRUP", Pick(random, groups)}, {"CLAVE", key}});
  }
  t.asigt = Working(kAsigt, rows);

  rows.clear();
  for (int i = 0; i < 10; ++i)
    rows.push_back({{"COD", Pick(random, tasks)}, {"CODTAREA", i % 3 == 0 ? "" : "CT" + n(i)}});
  t.asignomt = Working(kAsignomt, rows);

  rows.clear();
  for (int i = 0; i < 25; ++i)
    rows.push_back({{"COD", Pick(random, subjects)}, {"CLAVECURSO", Pick(random, courses)},
                    {"ALECTIVA", i % 2 ? "S" : ""}, {"MATERIA", "MA" + n(i)}});
  t.asignomt2 = Working(kAsignomt2, rows);

  rows.clear();
  const std::vector<std::string> slots = {"11", "12", "15", "21", "25", "110", "210"};
  const std::vector<std::string> frames = {"0", "1", ""};
  for (int i = 0; i < 30; ++i)
    rows.push_back({{"DIHO", Pick(random, slots)}, {"MARCO", Pick(random, frames)},
                    {"DIA", n(i % 5 + 1)}, {"CODDIHO", "DH" + n(i)}});
  t.diashorast = Working(kDiashorast, rows);

  rows.clear();
  for (int i = 0; i < 8; ++i) rows.push_back({{"ABREV", Pick(random, rooms)}, {"DEPCENTRO", "DC" + n(i)}});
  t.aulat = Working(kAulat, rows);

  // SOLUC as Tavoleno declares it, MARCO after the declared fields; days and
  // hours written as Tavoleno's floating-point numbers, some hours with a
  // fraction (read rounded).
  const DbfField number{"", DbfType::kNumeric, 10, 2};
  auto numeric = [&](const char* name) {
    DbfField f = number;
    f.name = name;
    return f;
  };
  t.soluc = DbfTable("SOLUC", {CharField("ASIG", 4), CharField("PROF", 4), CharField("CODGRUPO", 4),
                               CharField("AULA", 4), CharField("TAREA", 4), numeric("DIA"), numeric("HORA"),
                               numeric("SESIONES"), CharField("MARCO", 3)});
  const std::vector<std::string> teachers = {"P1", "P2", "P3", "P4", "P9"};
  const std::vector<std::string> days = {"0.00", "1.00", "2.00", "2.00", "1"};
  const std::vector<std::string> hours = {"1.00", "2.00", "5.00", "10.00", "4.60", "1.40"};
  const std::vector<std::string> marcos = {"0", "1", "", "01", "10"};
  // Lessons also name codes that no table knows.
  const std::vector<std::string> lesson_groups = {"G1", "G2", "G3", "", "G9"};
  const std::vector<std::string> lesson_rooms = {"A1", "A2", "", "A9"};
  const std::vector<std::string> lesson_tasks = {"T1", "T2", "M1", "", "T9"};
  for (int i = 0; i < 600; ++i) {
    t.soluc.Append();
    t.soluc.SetText("ASIG", Pick(random, subjects));
    t.soluc.SetText("PROF", Pick(random, teachers));
    t.soluc.SetText("CODGRUPO", Pick(random, lesson_groups));
    t.soluc.SetText("AULA", Pick(random, lesson_rooms));
    t.soluc.SetText("TAREA", Pick(random, lesson_tasks));
    t.soluc.SetText("DIA", Pick(random, days));
    t.soluc.SetText("HORA", Pick(random, hours));
    t.soluc.SetText("MARCO", Pick(random, marcos));
  }
  return t;
}

// --- The reference: the rules, walked record by record ------------------------------

std::string Get(const DbfTable& t, size_t r, std::string_view field) {
  return std::string(t.Text(r, t.FieldIndex(field)));
}

long long Whole(const std::string& number_text) { return std::llround(std::stod(number_text)); }

bool Blank(const std::string& s) { return s.find_first_not_of(' ') == std::string::npos; }

Values Reference(const Tables& t, size_t s) {
  const std::string asig = Get(t.soluc, s, "ASIG");
  const std::string codgrupo = Get(t.soluc, s, "CODGRUPO");
  Values v;  // X_ACTIVIDAD, N_DIASEMANA, X_TRAMO, X_DEPCENTRO, X_MATERIAOMC, X_UNIDAD

  std::string subject;
  for (size_t r = 0; r < t.asigt.RecordCount(); ++r)
    if (Get(t.asigt, r, "CASIG") == asig && Get(t.asigt, r, "CGRUP") == codgrupo) {
      subject = Get(t.asigt, r, "CLAVE");
      break;
    }

  v[0] = Get(t.soluc, s, "TAREA");
  for (size_t r = 0; r < t.asignomt.RecordCount(); ++r)
    if (Get(t.asignomt, r, "COD") == v[0]) {
      v[0] = Get(t.asignomt, r, "CODTAREA");
      break;
    }

  std::string course;
  for (size_t r = 0; r < t.grupost.RecordCount(); ++r)
    if (Get(t.grupost, r, "ABREV") == codgrupo) {
      v[5] = Get(t.grupost, r, "CLAVE");
      course = Get(t.grupost, r, "CLAVECURSO");
      break;
    }

  if (Blank(subject)) {
    for (size_t r = 0; r < t.asignomt2.RecordCount(); ++r) {
      if (Get(t.asignomt2, r, "COD") != asig) continue;  // the selection on COD
      if (Get(t.asignomt2, r, "CLAVECURSO") == course) {
        subject = Blank(Get(t.asignomt2, r, "ALECTIVA")) ? "" : Get(t.asignomt2, r, "MATERIA");
        break;
      }
    }
  }
  v[4] = subject;

  const std::string key = std::to_string(Whole(Get(t.soluc, s, "DIA"))) +
                          std::to_string(Whole(Get(t.soluc, s, "HORA")));
  const std::string frame = Get(t.soluc, s, "MARCO").substr(0, 1);
  for (size_t r = 0; r < t.diashorast.RecordCount(); ++r)
    if (Get(t.diashorast, r, "DIHO") == key && Get(t.diashorast, r, "MARCO") == frame) {
      v[1] = Get(t.diashorast, r, "DIA");
      v[2] = Get(t.diashorast, r, "CODDIHO");
      break;
    }

  for (size_t r = 0; r < t.aulat.RecordCount(); ++r)
    if (Get(t.aulat, r, "ABREV") == Get(t.soluc, s, "AULA")) {
      v[3] = Get(t.aulat, r, "DEPCENTRO");
      break;
    }
  return v;
}

TEST(IndexedLookup, EveryLessonHasTheValuesOfAWalkFromTheFirstRecord) {
  for (unsigned seed : {11u, 12u, 13u}) {
    SCOPED_TRACE("seed " + std::to_string(seed));
    const Tables t = Generate(seed);
    testing::TempFolder folder;
    for (const DbfTable* table : {&t.soluc, &t.grupost, &t.cursost, &t.proft, &t.aulat, &t.asignomt,
                                  &t.asignomt2, &t.diashorast, &t.asigt})
      testing::WriteFile(folder.File(TableFileName(table->name())), EncodeDbf(*table));
    const std::string xml = folder.File("HORARIO.XML");
    testing::WriteFile(xml, testing::SauceDocument());

    const ImportSummary summary = ImportRun(xml, folder.path());
    const testing::SectionOut out = testing::ReadOutputFile(summary.output_path);

    ASSERT_EQ(out.teachers.size(), t.proft.RecordCount());
    size_t lessons = 0;
    std::array<size_t, 6> filled{};  // lessons with each value found
    for (size_t p = 0; p < t.proft.RecordCount(); ++p) {
      const testing::TeacherOut& teacher = out.teachers[p];
      EXPECT_EQ(teacher.x_empleado, Get(t.proft, p, "X_EMPLEADO"));
      std::vector<Values> want;
      for (size_t s = 0; s < t.soluc.RecordCount(); ++s)
        if (Get(t.soluc, s, "PROF") == Get(t.proft, p, "ABREV") && Whole(Get(t.soluc, s, "DIA")) != 0)
          want.push_back(Reference(t, s));
      ASSERT_EQ(teacher.lessons.size(), want.size()) << "teacher " << p + 1;
      for (size_t l = 0; l < want.size(); ++l) {
        EXPECT_EQ(teacher.lessons[l].seq, "TRAMO_" + std::to_string(l + 1));
        EXPECT_EQ(teacher.lessons[l].values, want[l]) << "teacher " << p + 1 << ", lesson " << l + 1;
      }
      lessons += want.size();
      for (const Values& v : want)
        for (size_t k = 0; k < 6; ++k) filled[k] += !v[k].empty();
    }
    // The data leaves every look-up both found and not found.
    for (size_t k = 0; k < 6; ++k) {
      EXPECT_GT(filled[k], 0u) << "value " << k;
      EXPECT_LT(filled[k], lessons) << "value " << k;
    }
    EXPECT_EQ(summary.lessons, lessons);
  }
}

}  // namespace
}  // namespace tvs
