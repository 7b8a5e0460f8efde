// ASIGNOMT, the catalogue of subjects and tasks, built by two builders.
//
// CrearAsignaturas reads MATERIAS (salida 1 the name, salida 2 the long code)
// and creates ASIGNOMT with one subject row per entry whose long code has not
// been seen before (ESTAREA false). CrearTareas reads TAREAS (salida 0 the
// Sauce task code, salida 1 the name, salida 2 the long code) and appends one
// task row per new long code (ESTAREA true, CODTAREA the task code).
//
// Both share the run's code lists: a long code already in codigos_largos
// (letter case ignored), subject or task, skips the entry; otherwise COD is
// the short code of the long code against codigos_cortos, so task codes avoid
// the subject codes too. MATERIA stays blank.
//
// An empty or missing list adds no rows; with both empty ASIGNOMT has none.
// Neither throws on document contents. CrearTareas throws Error when
// CrearAsignaturas has not built ASIGNOMT in this run.
#include "export/builders.h"
#include "export/sauce_lists.h"
#include "export/short_codes.h"
#include "export/working_tables.h"

namespace tvs {
namespace {

constexpr std::string_view kMaterias = "MATERIAS";
constexpr std::string_view kTareas = "TAREAS";

void AppendCatalogue(ExportContext& ctx, DbfTable& table, std::string_view list, bool tasks) {
  ForEachEntry(ctx.doc(), list, [&](size_t, const Entry& entry) {
    const std::string name = entry.Value(1);
    const std::string long_code = entry.Value(2);
    if (ctx.codigos_largos().Contains(long_code)) return;
    ctx.codigos_largos().Add(long_code);
    const std::string code = ShortCode(long_code, ctx.codigos_cortos());

    table.Append();
    table.SetText("COD", code);
    table.SetText("CODLARGO", long_code);
    table.SetText("NOMBRE", name);
    if (tasks) table.SetText("CODTAREA", entry.Value(0));
    table.SetLogical("ESTAREA", tasks);
  });
}

}  // namespace

void CrearAsignaturas(ExportContext& ctx) {
  AppendCatalogue(ctx, ctx.NewTable(kAsignomt), kMaterias, /*tasks=*/false);
}

void CrearTareas(ExportContext& ctx) {
  AppendCatalogue(ctx, ctx.Table(kAsignomt), kTareas, /*tasks=*/true);
}

}  // namespace tvs
