// ASIGT, the teaching assignments: for every MATERIAS entry, one row per
// GRUPOST row of the subject's course, in the order of the groups.
//
// MATERIAS: salida 0 the subject key (CLAVE), salida 1 the name (chooses the
// task), salida 2 the subject code (CASIG), salida 3 the course key
// (CLAVECURSO; selects the GRUPOST rows whose stored CLAVECURSO equals it
// exactly, so a key longer than 12 characters selects none), salida 4 the
// minutes (HORAS, SESIONES). CGRUP, NIVEL, CURSO and GRUPO come from the
// group row; CTAREA is the COD of the first ASIGNOMT row whose CODTAREA is
// the subject's task code, blank when there is none. CPROF, CAULA, TURNO and
// NCONEX stay blank. Nothing is de-duplicated.
//
// Reads GRUPOST and ASIGNOMT as built earlier in this run (Error when either
// is missing). A missing list, or an empty GRUPOST, gives ASIGT without rows.
// Throws Error naming the entry and the value when a subject that has at
// least one group holds minutes that are not a whole number; a subject
// without groups is not checked.
#include <algorithm>
#include <string>
#include <unordered_map>
#include <vector>

#include "export/builders.h"
#include "export/sauce_lists.h"
#include "export/working_tables.h"
#include "platform/codepage.h"
#include "platform/error.h"

namespace tvs {
namespace {

constexpr std::string_view kMaterias = "MATERIAS";

// The Sauce task codes a subject can fall under.
constexpr std::string_view kTaskLesson = "156";
constexpr std::string_view kTaskDuty = "281";
constexpr std::string_view kTaskLibrary = "286";

// Minutes beyond 10^12 in either direction count as 10^12: far beyond any
// timetable, the arithmetic cannot overflow, and the hours they give
// (16 666 666 667) are still held exactly by HORAS.
constexpr long long kMinutesLimit = 1'000'000'000'000;

// A whole number in decimal notation with an optional sign; false for
// anything else (a fraction, a unit, an inner blank, a sign alone).
bool ParseMinutes(std::string_view text, long long& minutes) {
  size_t i = 0;
  bool negative = false;
  if (i < text.size() && (text[i] == '+' || text[i] == '-')) negative = text[i++] == '-';
  if (i == text.size()) return false;
  long long value = 0;
  for (; i < text.size(); ++i) {
    if (text[i] < '0' || text[i] > '9') return false;
    if (value < kMinutesLimit) value = std::min(kMinutesLimit, value * 10 + (text[i] - '0'));
  }
  minutes = negative ? -value : value;
  return true;
}

// Whole hours: the smallest whole number not below minutes / 60, at least 1;
// 1 when the minutes are empty.
long long Hours(const std::string& minutes_text, size_t position) {
  if (minutes_text.empty()) return 1;
  long long minutes = 0;
  if (!ParseMinutes(minutes_text, minutes))
    throw Error("Los minutos «" + FromWindows1252(minutes_text) + "» de " +
                EntryLocation(kMaterias, position) + " no son un número entero");
  return minutes > 0 ? (minutes + 59) / 60 : 1;
}

// Up to 13 hours, one "1" per hour; beyond, the hours above 13 in digits
// followed by thirteen "1"s.
std::string Sessions(long long hours) {
  if (hours <= 13) return std::string(static_cast<size_t>(hours), '1');
  return std::to_string(hours - 13) + std::string(13, '1');
}

std::string_view TaskCode(const std::string& name) {
  const std::string upper = UpperAsciiOnly(name);
  std::string_view code = kTaskLesson;
  if (upper.find("GUARD") != std::string::npos) code = kTaskDuty;
  if (upper.find("BIBLIO") != std::string::npos) code = kTaskLibrary;
  return code;
}

}  // namespace

void CrearAsignaciones(ExportContext& ctx) {
  DbfTable& asigt = ctx.NewTable(kAsigt);
  const DbfTable& grupos = ctx.Table(kGrupost);
  const DbfTable& catalogue = ctx.Table(kAsignomt);

  // Stored course key -> its group rows, in row order.
  const size_t g_clavecurso = grupos.FieldIndex("CLAVECURSO");
  const size_t g_abrev = grupos.FieldIndex("ABREV");
  const size_t g_nivel = grupos.FieldIndex("NIVEL");
  const size_t g_curso = grupos.FieldIndex("CURSO");
  const size_t g_grupo = grupos.FieldIndex("GRUPO");
  std::unordered_map<std::string, std::vector<size_t>> groups_of_course;
  for (size_t r = 0; r < grupos.RecordCount(); ++r)
    groups_of_course[std::string(grupos.Text(r, g_clavecurso))].push_back(r);

  // Task code -> COD of the first catalogue row carrying it.
  const size_t c_codtarea = catalogue.FieldIndex("CODTAREA");
  const size_t c_cod = catalogue.FieldIndex("COD");
  std::unordered_map<std::string, std::string> task_cod;
  for (size_t r = 0; r < catalogue.RecordCount(); ++r)
    task_cod.emplace(std::string(catalogue.Text(r, c_codtarea)), std::string(catalogue.Text(r, c_cod)));

  // The fields written for every row, found once: this table has a row per
  // subject and group.
  const size_t a_casig = asigt.FieldIndex("CASIG");
  const size_t a_cgrup = asigt.FieldIndex("CGRUP");
  const size_t a_nivel = asigt.FieldIndex("NIVEL");
  const size_t a_curso = asigt.FieldIndex("CURSO");
  const size_t a_grupo = asigt.FieldIndex("GRUPO");
  const size_t a_sesiones = asigt.FieldIndex("SESIONES");
  const size_t a_clave = asigt.FieldIndex("CLAVE");
  const size_t a_clavecurso = asigt.FieldIndex("CLAVECURSO");
  const size_t a_ctarea = asigt.FieldIndex("CTAREA");

  // A row per subject and group: counted first, so that the table is laid
  // out once rather than moved as it grows.
  size_t row_count = 0;
  ForEachEntry(ctx.doc(), kMaterias, [&](size_t, const Entry& entry) {
    if (const auto groups = groups_of_course.find(entry.Value(3)); groups != groups_of_course.end())
      row_count += groups->second.size();
  });
  asigt.Reserve(row_count);

  ForEachEntry(ctx.doc(), kMaterias, [&](size_t position, const Entry& entry) {
    const std::string course_key = entry.Value(3);
    const auto groups = groups_of_course.find(course_key);
    if (groups == groups_of_course.end()) return;

    const long long hours = Hours(entry.Value(4), position);
    const std::string sessions = Sessions(hours);
    const std::string key = entry.Value(0);
    const std::string subject_code = entry.Value(2);
    const auto task = task_cod.find(std::string(TaskCode(entry.Value(1))));
    const std::string ctarea = task == task_cod.end() ? std::string() : task->second;

    for (const size_t g : groups->second) {
      asigt.Append();
      const size_t row = asigt.RecordCount() - 1;
      asigt.SetText(row, a_casig, subject_code);
      asigt.SetText(row, a_cgrup, grupos.Text(g, g_abrev));
      asigt.SetText(row, a_nivel, grupos.Text(g, g_nivel));
      asigt.SetText(row, a_curso, grupos.Text(g, g_curso));
      asigt.SetText(row, a_grupo, grupos.Text(g, g_grupo));
      asigt.SetNumber("HORAS", static_cast<double>(hours));
      asigt.SetText(row, a_sesiones, sessions);
      asigt.SetText(row, a_clave, key);
      asigt.SetText(row, a_clavecurso, course_key);
      asigt.SetText(row, a_ctarea, ctarea);
    }
  });
}

}  // namespace tvs
