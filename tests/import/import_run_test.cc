#include "import/import_run.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <map>
#include <string>
#include <vector>

#include "export/working_set.h"
#include "export/working_tables.h"
#include "import/import_test_helpers.h"
#include "platform/dbf.h"
#include "platform/error.h"
#include "platform/xml_document.h"

namespace tvs {
namespace {

using testing::Row;
using testing::SolucLayout;
using testing::SolucRecord;
using Values = std::array<std::string, 6>;

// Working tables in which every look-up has a first match and a later one
// that must lose, a row that matches only when letter case is ignored, and
// rows for each fallback of the conversion.
std::map<std::string, std::vector<Row>> BaseTables() {
  return {
      {"PROFT",
       {{{"ABREV", "P1"}, {"X_EMPLEADO", "E001"}, {"F_TOMAPOS", "2020-09-01"}},
        {{"ABREV", "P2"}, {"X_EMPLEADO", "E002"}, {"F_TOMAPOS", "F002"}},
        {{"ABREV", "P3"}, {"X_EMPLEADO", "Pe\xF1" "a"}, {"F_TOMAPOS", "F003"}},
        {{"ABREV", "P4"}, {"X_EMPLEADO", "E004"}, {"F_TOMAPOS", ""}}}},
      {"GRUPOST",
       {{{"ABREV", "1A"}, {"CLAVE", "G1A"}, {"CLAVECURSO", "C1ESO"}},
        {{"ABREV", "1A"}, {"CLAVE", "GDUP"}, {"CLAVECURSO", "CDUP"}},
        {{"ABREV", "2B"}, {"CLAVE", "G2B"}, {"CLAVECURSO", "C2ESO"}}}},
      {"CURSOST", {{{"CLAVE", "C1ESO"}}, {{"CLAVE", "C2ESO"}}}},
      {"ASIGT",
       {{{"CASIG", "MAT"}, {"CGRUP", "1A"}, {"CLAVE", "M100"}},
        {{"CASIG", "MAT"}, {"CGRUP", "1A"}, {"CLAVE", "MDUP"}},
        {{"CASIG", "LEN"}, {"CGRUP", "1A"}, {"CLAVE", ""}},
        {{"CASIG", "MAT"}, {"CGRUP", "2B"}, {"CLAVE", "M200"}},
        {{"CASIG", "REL"}, {"CGRUP", "2B"}, {"CLAVE", "R-ASIGT"}}}},
      {"ASIGNOMT",
       {{{"COD", "T1"}, {"CODTAREA", "156"}},
        {{"COD", "T1"}, {"CODTAREA", "999"}},
        {{"COD", "MAT"}, {"CODTAREA", ""}},
        {{"COD", "t2"}, {"CODTAREA", "LOWER"}}}},
      {"ASIGNOMT2",
       {{{"COD", "MAT"}, {"CLAVECURSO", "C1ESO"}, {"ALECTIVA", "S"}, {"MATERIA", "WRONG"}},
        {{"COD", "LEN"}, {"CLAVECURSO", "C2ESO"}, {"ALECTIVA", "S"}, {"MATERIA", "L-C2"}},
        {{"COD", "LEN"}, {"CLAVECURSO", "C1ESO"}, {"ALECTIVA", ""}, {"MATERIA", "L100"}},
        {{"COD", "LEN"}, {"CLAVECURSO", "C1ESO"}, {"ALECTIVA", "S"}, {"MATERIA", "L-LATE"}},
        {{"COD", "REL"}, {"CLAVECURSO", "C1ESO"}, {"ALECTIVA", "S"}, {"MATERIA", "R100"}},
        {{"COD", "REL"}, {"CLAVECURSO", "C1ESO"}, {"ALECTIVA", "N"}, {"MATERIA", "RDUP"}},
        {{"COD", "ING"}, {"CLAVECURSO", ""}, {"ALECTIVA", "S"}, {"MATERIA", "I-NOGRP"}}}},
      {"DIASHORAST",
       {{{"DIHO", "25"}, {"MARCO", "0"}, {"DIA", "2"}, {"CODDIHO", "T25"}},
        {{"DIHO", "25"}, {"MARCO", "0"}, {"DIA", "9"}, {"CODDIHO", "TDUP"}},
        {{"DIHO", "25"}, {"MARCO", "1"}, {"DIA", "2"}, {"CODDIHO", "T25M1"}},
        {{"DIHO", "110"}, {"MARCO", "0"}, {"DIA", "1"}, {"CODDIHO", "T110"}},
        {{"DIHO", "31"}, {"MARCO", ""}, {"DIA", "3"}, {"CODDIHO", "T31B"}},
        {{"DIHO", "20"}, {"MARCO", "0"}, {"DIA", "2"}, {"CODDIHO", "T20"}}}},
      {"AULAT",
       {{{"ABREV", "A1"}, {"DEPCENTRO", "D1"}},
        {{"ABREV", "A1"}, {"DEPCENTRO", "DDUP"}},
        {{"ABREV", "A2"}, {"DEPCENTRO", "A&B<C>"}}}},
  };
}

// A lesson of P1 in the base tables: subject MAT of group 1A in room A1,
// task T1, day 2, hour 5, frame 0.
SolucRecord Lesson() {
  SolucRecord r;
  r.prof = "P1";
  r.asig = "MAT";
  r.codgrupo = "1A";
  r.aula = "A1";
  r.tarea = "T1";
  r.dia = "2";
  r.hora = "5";
  r.marco = "0";
  return r;
}

const Values kBase = {"156", "2", "T25", "D1", "M100", "G1A"};

class ImportRunTest : public ::testing::Test {
 protected:
  void SetUp() override {
    xml_ = folder_.File("HORARIO.XML");
    output_ = folder_.File("ResultadoVelmarHORARIO.XML");
    testing::WriteFile(xml_, testing::SauceDocument());
    tables_ = BaseTables();
  }

  std::string Folder() const { return folder_.path(); }

  void WriteTables() {
    for (const auto& [name, rows] : tables_) testing::WriteWorkingTable(Folder(), name, rows);
  }
  void WriteAll(const std::vector<SolucRecord>& soluc, const SolucLayout& layout = {}) {
    WriteTables();
    testing::WriteSoluc(Folder(), soluc, layout);
  }

  void UseAsSoluc(const std::string& file_name) {
    std::filesystem::copy_file(folder_.File(file_name), folder_.File("SOLUC.DBF"),
                               std::filesystem::copy_options::overwrite_existing);
  }

  ImportSummary Run() { return ImportRun(xml_, Folder()); }

  // Runs expecting a failure whose message holds every one of `parts`, and
  // checks that nothing was written.
  void ExpectFailure(const std::vector<std::string>& parts) {
    try {
      Run();
      ADD_FAILURE() << "the run did not fail";
    } catch (const Error& e) {
      for (const std::string& part : parts)
        EXPECT_NE(std::string(e.what()).find(part), std::string::npos)
            << "message: " << e.what() << "\nlacks: " << part;
    }
    EXPECT_FALSE(testing::Exists(output_));
  }

  testing::TempFolder folder_;
  std::string xml_;
  std::string output_;
  std::map<std::string, std::vector<Row>> tables_;
};

struct ConversionCase {
  const char* name;
  SolucRecord record;
  Values want;
};

SolucRecord With(SolucRecord r, std::string SolucRecord::*field, std::string value) {
  r.*field = std::move(value);
  return r;
}

Values Replace(Values v, size_t index, std::string value) {
  v[index] = std::move(value);
  return v;
}

constexpr size_t kActividad = 0, kDia = 1, kTramo = 2, kDepcentro = 3, kMateria = 4, kUnidad = 5;

std::vector<ConversionCase> ConversionCases() {
  const SolucRecord base = Lesson();
  auto slot = [](SolucRecord r, std::string dia, std::string hora, std::string marco) {
    r.dia = std::move(dia);
    r.hora = std::move(hora);
    r.marco = std::move(marco);
    return r;
  };
  auto slot_values = [](std::string dia, std::string tramo) {
    return Replace(Replace(kBase, kDia, std::move(dia)), kTramo, std::move(tramo));
  };
  SolucRecord other_group = With(base, &SolucRecord::codgrupo, "2B");
  SolucRecord unknown_group_ing = With(With(base, &SolucRecord::codgrupo, "9Z"), &SolucRecord::asig, "ING");
  SolucRecord unknown_group_len = With(With(base, &SolucRecord::codgrupo, "9Z"), &SolucRecord::asig, "LEN");
  return {
      {"every look-up takes its first match", base, kBase},
      {"assignment of another group", other_group,
       Replace(Replace(kBase, kMateria, "M200"), kUnidad, "G2B")},
      {"blank assignment key, course subject not elective: empty",
       With(base, &SolucRecord::asig, "LEN"), Replace(kBase, kMateria, "")},
      {"no assignment: the elective subject of the group's course",
       With(base, &SolucRecord::asig, "REL"), Replace(kBase, kMateria, "R100")},
      {"unknown group: empty unit, subject rows without course",
       unknown_group_ing, Replace(Replace(kBase, kMateria, "I-NOGRP"), kUnidad, "")},
      {"unknown group, subject only with courses: empty", unknown_group_len,
       Replace(Replace(kBase, kMateria, ""), kUnidad, "")},
      {"subject known nowhere", With(base, &SolucRecord::asig, "XYZ"), Replace(kBase, kMateria, "")},
      {"subject codes compare with letter case", With(base, &SolucRecord::asig, "Mat"),
       Replace(kBase, kMateria, "")},
      {"unknown task: the task code itself", With(base, &SolucRecord::tarea, "T9"),
       Replace(kBase, kActividad, "T9")},
      {"task codes compare with letter case", With(base, &SolucRecord::tarea, "T2"),
       Replace(kBase, kActividad, "T2")},
      {"task naming a subject row: its blank key", With(base, &SolucRecord::tarea, "MAT"),
       Replace(kBase, kActividad, "")},
      {"no task", With(base, &SolucRecord::tarea, ""), Replace(kBase, kActividad, "")},
      {"day 1, hour 10: slot 110", slot(base, "1", "10", "0"), slot_values("1", "T110")},
      {"only the first character of MARCO counts", slot(base, "2", "5", "1XY"),
       slot_values("2", "T25M1")},
      {"empty MARCO finds rows without a mark", slot(base, "3", "1", ""), slot_values("3", "T31B")},
      {"no slot row: both slot values empty", slot(base, "4", "4", "0"), slot_values("", "")},
      {"a fractional hour is rounded", slot(base, "2", "4.6", "0"), kBase},
      {"a blank hour reads 0", slot(base, "2", "", "0"), slot_values("2", "T20")},
      {"a fractional day keeps its fraction in the slot key", slot(base, "2.4", "5", "0"),
       slot_values("", "")},
      {"room codes compare with letter case", With(base, &SolucRecord::aula, "a1"),
       Replace(kBase, kDepcentro, "")},
      {"room key with markup characters", With(base, &SolucRecord::aula, "A2"),
       Replace(kBase, kDepcentro, "A&B<C>")},
      {"no room", With(base, &SolucRecord::aula, ""), Replace(kBase, kDepcentro, "")},
  };
}

TEST_F(ImportRunTest, ConvertsEveryLessonByItsLookUps) {
  const auto cases = ConversionCases();
  SolucRecord day_zero = Lesson();
  day_zero.dia = "0";
  day_zero.aula = "ZZ";
  SolucRecord below_half = With(day_zero, &SolucRecord::dia, "0.4");
  SolucRecord blank_day = With(day_zero, &SolucRecord::dia, "");
  SolucRecord deleted = With(Lesson(), &SolucRecord::aula, "DEL");
  deleted.deleted = true;

  std::vector<SolucRecord> soluc;
  SolucRecord p9 = With(Lesson(), &SolucRecord::prof, "P9");
  soluc.push_back(p9);                                      // unknown teacher
  soluc.push_back(With(Lesson(), &SolucRecord::prof, "p1"));  // letter case: unknown
  for (size_t i = 0; i < cases.size(); ++i) {
    soluc.push_back(cases[i].record);
    // Passed-over and deleted records between the lessons.
    if (i == 0) soluc.push_back(day_zero);
    if (i == 2) soluc.push_back(deleted);
    if (i == 3) soluc.push_back(below_half);
    if (i == 4) soluc.push_back(With(With(Lesson(), &SolucRecord::prof, "P4"), &SolucRecord::aula, "A2"));
    if (i == 5) soluc.push_back(With(day_zero, &SolucRecord::prof, "P3"));
    if (i == 6) soluc.push_back(With(With(Lesson(), &SolucRecord::prof, "P4"), &SolucRecord::tarea, "T9"));
    if (i == 7) soluc.push_back(With(blank_day, &SolucRecord::prof, "P3"));
    if (i == 8) soluc.push_back(With(deleted, &SolucRecord::prof, "P9"));
    if (i == 9) soluc.push_back(With(day_zero, &SolucRecord::prof, "P9"));
  }
  soluc.push_back(day_zero);
  WriteAll(soluc);

  const ImportSummary summary = Run();
  EXPECT_EQ(summary.output_path, output_);
  EXPECT_EQ(summary.teachers, 4u);
  EXPECT_EQ(summary.lessons, cases.size() + 2);
  EXPECT_EQ(summary.skipped_day_zero, 5u);  // three of P1, two of P3
  EXPECT_EQ(summary.unknown_teacher, 3u);   // P9 twice (one deleted), p1

  const auto section = testing::ReadOutputFile(output_);
  EXPECT_EQ(section.error.at(2).second, "4");
  ASSERT_EQ(section.teachers.size(), 4u);
  const auto& p1 = section.teachers[0];
  EXPECT_EQ(p1.seq, "EMP_1");
  EXPECT_EQ(p1.x_empleado, "E001");
  EXPECT_EQ(p1.f_tomapos, "2020-09-01");
  ASSERT_EQ(p1.lessons.size(), cases.size());
  for (size_t i = 0; i < cases.size(); ++i) {
    SCOPED_TRACE(cases[i].name);
    EXPECT_EQ(p1.lessons[i].seq, "TRAMO_" + std::to_string(i + 1));
    EXPECT_EQ(p1.lessons[i].values, cases[i].want);
  }

  // A teacher without records, and one with only passed-over records.
  EXPECT_EQ(section.teachers[1].seq, "EMP_2");
  EXPECT_TRUE(section.teachers[1].lessons.empty());
  EXPECT_EQ(section.teachers[2].seq, "EMP_3");
  EXPECT_EQ(section.teachers[2].x_empleado, "Peña");
  EXPECT_TRUE(section.teachers[2].lessons.empty());
  // Lesson numbers start again for every teacher.
  const auto& p4 = section.teachers[3];
  EXPECT_EQ(p4.seq, "EMP_4");
  EXPECT_EQ(p4.f_tomapos, "");
  ASSERT_EQ(p4.lessons.size(), 2u);
  EXPECT_EQ(p4.lessons[0].seq, "TRAMO_1");
  EXPECT_EQ(p4.lessons[0].values, Replace(kBase, kDepcentro, "A&B<C>"));
  EXPECT_EQ(p4.lessons[1].seq, "TRAMO_2");
  EXPECT_EQ(p4.lessons[1].values, Replace(kBase, kActividad, "T9"));
}

TEST_F(ImportRunTest, EmptyTaskCodeFindsATaskRowWithEmptyCode) {
  tables_["ASIGNOMT"].push_back({{"COD", ""}, {"CODTAREA", "NOCODE"}});
  WriteAll({With(Lesson(), &SolucRecord::tarea, "")});
  Run();
  const auto section = testing::ReadOutputFile(output_);
  ASSERT_EQ(section.teachers.at(0).lessons.size(), 1u);
  EXPECT_EQ(section.teachers[0].lessons[0].values, Replace(kBase, kActividad, "NOCODE"));
}

TEST_F(ImportRunTest, TeachersSharingACodeEachListAllItsLessons) {
  tables_["PROFT"] = {{{"ABREV", "P1"}, {"X_EMPLEADO", "E1"}},
                      {{"ABREV", "P1"}, {"X_EMPLEADO", "E2"}},
                      {{"ABREV", "P2"}, {"X_EMPLEADO", "E3"}}};
  WriteAll({Lesson(), With(Lesson(), &SolucRecord::dia, "0"), With(Lesson(), &SolucRecord::aula, "A2")});

  const ImportSummary summary = Run();
  EXPECT_EQ(summary.teachers, 3u);
  EXPECT_EQ(summary.lessons, 4u);
  EXPECT_EQ(summary.skipped_day_zero, 1u);
  const auto section = testing::ReadOutputFile(output_);
  ASSERT_EQ(section.teachers.size(), 3u);
  for (size_t t : {0u, 1u}) {
    SCOPED_TRACE(t);
    ASSERT_EQ(section.teachers[t].lessons.size(), 2u);
    EXPECT_EQ(section.teachers[t].lessons[0].values, kBase);
    EXPECT_EQ(section.teachers[t].lessons[1].values[kDepcentro], "A&B<C>");
  }
  EXPECT_EQ(section.teachers[1].x_empleado, "E2");
  EXPECT_TRUE(section.teachers[2].lessons.empty());
}

TEST_F(ImportRunTest, EmptyTeacherTableGivesOnlyTheErrorBlock) {
  tables_["PROFT"] = {};
  WriteAll({Lesson()});
  const ImportSummary summary = Run();
  EXPECT_EQ(summary.teachers, 0u);
  EXPECT_EQ(summary.lessons, 0u);
  EXPECT_EQ(summary.unknown_teacher, 1u);
  const auto section = testing::ReadOutputFile(output_);
  EXPECT_EQ(section.error, (std::vector<std::pair<std::string, std::string>>{
                               {"CN_ERROR", "0"},
                               {"TE_ERROR", "Servicio finalizado Correctamente"},
                               {"REGISTROS RECUPERADOS", "0"}}));
  EXPECT_TRUE(section.teachers.empty());
}

TEST_F(ImportRunTest, TenthTeacherIsNumberedWithoutLeadingZeros) {
  tables_["PROFT"].clear();
  std::vector<SolucRecord> soluc;
  for (int n = 1; n <= 11; ++n) {
    const std::string code = "Q" + std::to_string(n);
    tables_["PROFT"].push_back({{"ABREV", code}, {"X_EMPLEADO", "E" + std::to_string(n)}});
    soluc.push_back(With(Lesson(), &SolucRecord::prof, code));
  }
  WriteAll(soluc);
  Run();
  const auto section = testing::ReadOutputFile(output_);
  EXPECT_EQ(section.error.at(2).second, "11");
  ASSERT_EQ(section.teachers.size(), 11u);
  for (size_t i = 0; i < 11; ++i) {
    EXPECT_EQ(section.teachers[i].seq, "EMP_" + std::to_string(i + 1));
    EXPECT_EQ(section.teachers[i].x_empleado, "E" + std::to_string(i + 1));
    ASSERT_EQ(section.teachers[i].lessons.size(), 1u);
    EXPECT_EQ(section.teachers[i].lessons[0].seq, "TRAMO_1");
  }
}

// The day's text, whatever width and decimals Tavoleno's number fields have,
// is its digits; a numeric MARCO is its digit.
TEST_F(ImportRunTest, SlotKeyDoesNotDependOnTheNumberLayout) {
  struct Case {
    const char *dia, *hora, *marco;
    std::string dia_value, hora_value, marco_value, want_tramo;
  };
  const Case cases[] = {
      {"N(10,0)", "N(10,0)", "C(1)", "2", "5", "0", "T25"},
      {"N(10,2)", "N(10,2)", "C(1)", "2", "5", "1", "T25M1"},
      {"F(19,4)", "F(19,4)", "C(3)", "2", "5", "0", "T25"},
      {"N(3,0)", "N(2,0)", "C(10)", "1", "10", "0 tarde", "T110"},
      {"N(5,1)", "N(5,1)", "N(1,0)", "2", "5", "0", "T25"},
      {"N(10,2)", "N(10,2)", "N(3,0)", "2", "5", "1", "T25M1"},
      {"C(3)", "C(3)", "C(1)", "2", "5", "0", "T25"},
  };
  WriteTables();
  std::vector<testing::SolucFile> files;
  for (const Case& c : cases) {
    testing::SolucFile file;
    SolucRecord r = Lesson();
    r.dia = c.dia_value;
    r.hora = c.hora_value;
    r.marco = c.marco_value;
    file.records = {r};
    file.layout.dia = c.dia;
    file.layout.hora = c.hora;
    file.layout.marco = c.marco;
    file.file_name = "layout" + std::to_string(files.size()) + ".dbf";
    files.push_back(file);
  }
  testing::WriteSolucFiles(Folder(), files);
  for (size_t i = 0; i < files.size(); ++i) {
    const Case& c = cases[i];
    SCOPED_TRACE(std::string(c.dia) + " " + c.hora + " " + c.marco);
    UseAsSoluc(files[i].file_name);
    Run();
    const auto section = testing::ReadOutputFile(output_);
    ASSERT_EQ(section.teachers.at(0).lessons.size(), 1u);
    EXPECT_EQ(section.teachers[0].lessons[0].values[kTramo], c.want_tramo);
  }
}

TEST_F(ImportRunTest, DayThatIsNotANumberFailsNamingTheField) {
  SolucLayout layout;
  layout.dia = "C(3)";
  WriteAll({With(Lesson(), &SolucRecord::dia, "dos")}, layout);
  ExpectFailure({"SOLUC", "DIA", "dos"});
}

TEST_F(ImportRunTest, TableFilesAreFoundWhateverTheirLetterCase) {
  for (const auto& [name, rows] : tables_) {
    std::string lower = TableFileName(name);
    for (char& c : lower) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    testing::WriteWorkingTable(Folder(), name, rows, {}, lower);
  }
  testing::WriteSoluc(Folder(), {Lesson()}, {}, "Soluc.dbf");
  Run();
  const auto section = testing::ReadOutputFile(output_);
  ASSERT_EQ(section.teachers.at(0).lessons.size(), 1u);
  EXPECT_EQ(section.teachers[0].lessons[0].values, kBase);
}

const char* const kNineTables[] = {"SOLUC",    "GRUPOST",   "CURSOST",    "PROFT", "AULAT",
                                   "ASIGNOMT", "ASIGNOMT2", "DIASHORAST", "ASIGT"};

TEST_F(ImportRunTest, MissingTableFailsNamingItAndWritesNothing) {
  WriteAll({Lesson()});
  for (const char* name : kNineTables) {
    SCOPED_TRACE(name);
    const std::string path = folder_.File(TableFileName(name));
    std::filesystem::rename(path, path + ".away");
    ExpectFailure({"No existe la tabla " + std::string(name) + " "});
    std::filesystem::rename(path + ".away", path);
  }
}

TEST_F(ImportRunTest, MissingWorkingFolderFailsOnTheFirstTable) {
  try {
    ImportRun(xml_, folder_.File("no-such-folder"));
    ADD_FAILURE() << "the run did not fail";
  } catch (const Error& e) {
    EXPECT_NE(std::string(e.what()).find("SOLUC"), std::string::npos) << e.what();
  }
  EXPECT_FALSE(testing::Exists(output_));
}

TEST_F(ImportRunTest, TableHeldByAnotherProgramFailsNamingIt) {
  WriteAll({Lesson()});
  for (const char* name : kNineTables) {
    SCOPED_TRACE(name);
    OpenDbf held = OpenDbf::Open(folder_.File(TableFileName(name)), OpenMode::kExclusive, name);
    ExpectFailure({"La tabla " + std::string(name) + " está en uso"});
  }
  // Released again, the same folder converts.
  EXPECT_EQ(Run().lessons, 1u);
}

TEST_F(ImportRunTest, TablesAreReleasedAfterTheRun) {
  WriteAll({Lesson()});
  Run();
  for (const char* name : kNineTables) {
    SCOPED_TRACE(name);
    EXPECT_NO_THROW(OpenDbf::Open(folder_.File(TableFileName(name)), OpenMode::kExclusive, name));
  }
}

TEST_F(ImportRunTest, MissingFieldFailsNamingTableAndField) {
  const std::pair<const char*, const char*> working_fields[] = {
      {"GRUPOST", "ABREV"},      {"GRUPOST", "CLAVE"},       {"GRUPOST", "CLAVECURSO"},
      {"PROFT", "ABREV"},        {"PROFT", "X_EMPLEADO"},    {"PROFT", "F_TOMAPOS"},
      {"AULAT", "ABREV"},        {"AULAT", "DEPCENTRO"},     {"ASIGNOMT", "COD"},
      {"ASIGNOMT", "CODTAREA"},  {"ASIGNOMT2", "COD"},       {"ASIGNOMT2", "CLAVECURSO"},
      {"ASIGNOMT2", "ALECTIVA"}, {"ASIGNOMT2", "MATERIA"},   {"DIASHORAST", "DIHO"},
      {"DIASHORAST", "MARCO"},   {"DIASHORAST", "DIA"},      {"DIASHORAST", "CODDIHO"},
      {"ASIGT", "CASIG"},        {"ASIGT", "CGRUP"},         {"ASIGT", "CLAVE"},
  };
  WriteAll({Lesson()});
  for (const auto& [table, field] : working_fields) {
    SCOPED_TRACE(std::string(table) + "." + field);
    testing::WriteWorkingTable(Folder(), table, tables_[table], {field});
    ExpectFailure({"La tabla " + std::string(table) + " no tiene el campo " + field});
    testing::WriteWorkingTable(Folder(), table, tables_[table]);
  }
  const char* const soluc_fields[] = {"PROF", "ASIG", "CODGRUPO", "TAREA",
                                      "DIA",  "HORA", "MARCO",    "AULA"};
  std::vector<testing::SolucFile> files;
  for (const char* field : soluc_fields) {
    testing::SolucFile file;
    file.records = {Lesson()};
    file.layout.omit = {field};
    file.file_name = std::string("without_") + field + ".dbf";
    files.push_back(file);
  }
  testing::WriteSolucFiles(Folder(), files);
  for (size_t i = 0; i < files.size(); ++i) {
    SCOPED_TRACE(std::string("SOLUC.") + soluc_fields[i]);
    UseAsSoluc(files[i].file_name);
    ExpectFailure({"La tabla SOLUC no tiene el campo " + std::string(soluc_fields[i])});
  }
}

// A table without any record still must have the fields: the check does not
// wait for a record to read.
TEST_F(ImportRunTest, MissingFieldOfAnEmptyTableIsFoundToo) {
  tables_["ASIGT"] = {};
  WriteAll({});
  testing::WriteWorkingTable(Folder(), "ASIGT", {}, {"CLAVE"});
  ExpectFailure({"La tabla ASIGT no tiene el campo CLAVE"});
}

TEST_F(ImportRunTest, ControlCharacterInAValueFailsNamingItsRecord) {
  tables_["GRUPOST"].insert(tables_["GRUPOST"].begin(),
                            Row{{"ABREV", "0Z"}, {"CLAVE", "ok"}, {"CLAVECURSO", "X"}});
  tables_["GRUPOST"][1]["CLAVE"] = "G\x02" "1A";
  WriteAll({Lesson()});
  ExpectFailure({"GRUPOST", "registro 2", "CLAVE", "0x02"});
}

TEST_F(ImportRunTest, DocumentWithoutSectionFailsAndWritesNothing) {
  WriteAll({Lesson()});
  testing::WriteFile(xml_, "<SERVICIO><ENTRADAS/></SERVICIO>");
  ExpectFailure({"SALIDAS", xml_});
}

TEST_F(ImportRunTest, DocumentThatIsNotWellFormedFailsAndWritesNothing) {
  WriteAll({Lesson()});
  for (const char* bytes : {"<SERVICIO><SALIDAS></SERVICIO>", "", "plain text"}) {
    SCOPED_TRACE(bytes);
    testing::WriteFile(xml_, bytes);
    ExpectFailure({xml_});
  }
}

TEST_F(ImportRunTest, OutsideTheSectionTheDocumentKeepsItsBytes) {
  const std::string before =
      "<?xml version=\"1.0\" encoding=\"ISO-8859-1\"?>\n"
      "<!-- Exportaci\xF3n de Sauce -->\n"
      "<?sauce version=\"2\"?>\n"
      "<SERVICIO modulo=\"HORARIOS\" centro=\"Instituto \xD1" "and\xFA\">\n"
      "  <ENTRADAS><dato nombre=\"X_CENTRO\">Pe\xF1" "a &amp; C\xED" "a &lt;1&gt;</dato></ENTRADAS>\n"
      "  ";
  const std::string input = before + "<SALIDAS><listasal seq=\"PROFESORES\"/></SALIDAS>\n</SERVICIO>\n";
  testing::WriteFile(xml_, input);
  tables_["PROFT"] = {{{"ABREV", "P1"}, {"X_EMPLEADO", "Pe\xF1" "a"}, {"F_TOMAPOS", "\x80" "5"}}};
  WriteAll({Lesson()});
  Run();

  const std::string output = testing::ReadBytes(output_);
  EXPECT_EQ(output.substr(0, before.size()), before);
  EXPECT_EQ(output.substr(output.size() - 12), "</SERVICIO>\n");
  EXPECT_NE(output.find(">Pe\xF1" "a<"), std::string::npos) << "ñ is one Latin-1 byte";
  EXPECT_EQ(testing::ReadBytes(xml_), input);

  const auto section = testing::ReadOutputFile(output_);
  ASSERT_EQ(section.teachers.size(), 1u);
  EXPECT_EQ(section.teachers[0].x_empleado, "Peña");
  EXPECT_EQ(section.teachers[0].f_tomapos, "€5");
  XmlDocument doc;
  doc.LoadWellFormed(output_);
  EXPECT_EQ(doc.Root().Attribute("centro"), "Instituto Ñandú");
  EXPECT_EQ(doc.Root().SelectFirst("ENTRADAS").Text(), "Peña & Cía <1>");
}

TEST_F(ImportRunTest, AnEarlierOutputAsInputGetsThePrefixTwice) {
  WriteAll({Lesson()});
  Run();
  const std::string first = testing::ReadBytes(output_);

  tables_["PROFT"][0]["X_EMPLEADO"] = "SECOND";
  WriteTables();
  const ImportSummary again = ImportRun(output_, Folder());
  EXPECT_EQ(again.output_path, folder_.File("ResultadoVelmarResultadoVelmarHORARIO.XML"));
  EXPECT_EQ(testing::ReadBytes(output_), first);
  const auto section = testing::ReadOutputFile(again.output_path);
  ASSERT_EQ(section.teachers.size(), 4u);
  EXPECT_EQ(section.teachers[0].x_empleado, "SECOND");
  EXPECT_EQ(section.teachers[0].lessons.size(), 1u);
}

TEST_F(ImportRunTest, ALaterRunReplacesTheEarlierOutput) {
  WriteAll({Lesson()});
  Run();
  tables_["PROFT"].resize(1);
  tables_["PROFT"][0]["X_EMPLEADO"] = "LATER";
  WriteTables();
  Run();
  const auto section = testing::ReadOutputFile(output_);
  ASSERT_EQ(section.teachers.size(), 1u);
  EXPECT_EQ(section.teachers[0].x_empleado, "LATER");
}

// Staging files of an export that never wrote its journal are cleared before
// the tables are read: the run starts by recovering the working set.
TEST_F(ImportRunTest, RecoversTheWorkingSetFirst) {
  WriteAll({Lesson()});
  const std::string staging = folder_.File(".PROFT.DBF" + std::string(kStagingSuffix));
  testing::WriteFile(staging, "half written");
  Run();
  EXPECT_FALSE(testing::Exists(staging));
}

}  // namespace
}  // namespace tvs
