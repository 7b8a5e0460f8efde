// PROFT, the teachers: one row per PROFESORES entry, in document order.
//
// salida 0 X_EMPLEADO, salida 1 F_TOMAPOS, salida 2 NOMBRE, salida 3 the
// source of ABREV: its short code against a code list of this build alone,
// cut to 10 characters as it stands (no trimming). DEPART, DNI and EMAIL stay
// blank. No entry is skipped as a repeat.
//
// A missing list gives PROFT without rows. Throws nothing on document
// contents.
#include "export/builders.h"
#include "export/sauce_lists.h"
#include "export/short_codes.h"
#include "export/working_tables.h"

namespace tvs {

void CrearProfesores(ExportContext& ctx) {
  DbfTable& table = ctx.NewTable(kProft);
  CodeList codes;
  ForEachEntry(ctx.doc(), "PROFESORES", [&](size_t, const Entry& entry) {
    const std::string code = ShortCode(entry.Value(3), codes);
    table.Append();
    table.SetText("ABREV", code);
    table.SetText("NOMBRE", entry.Value(2));
    table.SetText("X_EMPLEADO", entry.Value(0));
    table.SetText("F_TOMAPOS", entry.Value(1));
  });
}

}  // namespace tvs
