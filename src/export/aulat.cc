// AULAT, the rooms: one row per AULAS entry, in document order.
//
// salida 0 DEPCENTRO, salida 1 NOMBRE, salida 2 the source of ABREV: its
// short code against a code list of this build alone, the cut to 10
// characters trimmed of blanks and controls before the look-ups (so
// "SALA USOS MULTIPLES" gives "SALA USOS"). EDIFICIO and MAXALUM stay blank.
// No entry is skipped as a repeat; an empty short name gives an empty code,
// then 1, 2 ...
//
// A missing list gives AULAT without rows. Throws nothing on document
// contents.
#include "export/builders.h"
#include "export/sauce_lists.h"
#include "export/short_codes.h"
#include "export/working_tables.h"

namespace tvs {

void CrearAulas(ExportContext& ctx) {
  DbfTable& table = ctx.NewTable(kAulat);
  CodeList codes;
  ForEachEntry(ctx.doc(), "AULAS", [&](size_t, const Entry& entry) {
    const std::string code = ShortCode(entry.Value(2), codes, {.trim_cut = true});
    table.Append();
    table.SetText("ABREV", code);
    table.SetText("NOMBRE", entry.Value(1));
    table.SetText("DEPCENTRO", entry.Value(0));
  });
}

}  // namespace tvs
