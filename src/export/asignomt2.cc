// ASIGNOMT2, the subjects per course: one row for every MATERIAS entry, then
// one for every TAREAS entry, repeats included; no code list is used.
//
// Both lists: salida 0 the Sauce code (MATERIA), salida 1 the name (NOMBRE),
// salida 2 the long code (CODLARGO, and its first 4 characters as COD).
// Subjects: salida 3 the course key (CLAVECURSO). Tasks: salida 3 the mark
// (ALECTIVA, its first character).
//
// A missing list adds no rows; with both missing ASIGNOMT2 is empty. Throws
// nothing on document contents.
#include "export/builders.h"
#include "export/sauce_lists.h"
#include "export/working_tables.h"

namespace tvs {
namespace {

void AppendEntries(ExportContext& ctx, DbfTable& table, std::string_view list,
                   std::string_view salida3_field) {
  ForEachEntry(ctx.doc(), list, [&](size_t, const Entry& entry) {
    const std::string long_code = entry.Value(2);
    table.Append();
    table.SetText("COD", std::string_view(long_code).substr(0, 4));
    table.SetText("CODLARGO", long_code);
    table.SetText("NOMBRE", entry.Value(1));
    table.SetText("MATERIA", entry.Value(0));
    table.SetText(salida3_field, entry.Value(3));
  });
}

}  // namespace

void CrearAsignaturasCurso(ExportContext& ctx) {
  DbfTable& table = ctx.NewTable(kAsignomt2);
  AppendEntries(ctx, table, "MATERIAS", "CLAVECURSO");
  AppendEntries(ctx, table, "TAREAS", "ALECTIVA");
}

}  // namespace tvs
