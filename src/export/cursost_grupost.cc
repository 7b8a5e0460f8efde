// CURSOST and GRUPOST, the courses and their groups.
//
// CURSOS, one CURSOST row per entry: salida 0 CLAVE (the course key),
// salida 1 DESCRICUR, salida 3 NIVEL ("NIV" when empty), salida 4 CURSO;
// ABREV and TURNO blank.
//
// GRUPOS, one GRUPOST row per entry: salida 0 the group key (CLAVE),
// salida 1 the short name, salida 2 the course key (CLAVECURSO). The group's
// course row is the first CURSOST row whose CLAVE, as stored (cut to 12),
// equals the course key exactly, letter case counting: a key longer than 12
// characters finds none. NIVEL and CURSO are copied from it, and DESCRIP is
// "(" + group key + ") " + its DESCRICUR; without a course row all three are
// empty after the parenthesis. GRUPO is the last character of the short name,
// ABREV its short code against a code list of this build alone (cut trimmed of
// blanks, numbered form kept in the list before the 8 + 2 shortening), MARCO
// "0", TURNO blank. No entry is skipped as a repeat.
//
// A missing list gives its table without rows; with no courses every group
// has empty NIVEL, CURSO and course description. Throws nothing on document
// contents.
#include <string>
#include <unordered_map>

#include "export/builders.h"
#include "export/sauce_lists.h"
#include "export/short_codes.h"
#include "export/working_tables.h"

namespace tvs {

void CrearCursosGrupos(ExportContext& ctx) {
  DbfTable& cursos = ctx.NewTable(kCursost);
  DbfTable& grupos = ctx.NewTable(kGrupost);

  ForEachEntry(ctx.doc(), "CURSOS", [&](size_t, const Entry& entry) {
    const std::string nivel = entry.Value(3);
    cursos.Append();
    cursos.SetText("CLAVE", entry.Value(0));
    cursos.SetText("NIVEL", nivel.empty() ? std::string("NIV") : nivel);
    cursos.SetText("CURSO", entry.Value(4));
    cursos.SetText("DESCRICUR", entry.Value(1));
  });

  // Stored course key -> first course row holding it.
  const size_t clave = cursos.FieldIndex("CLAVE");
  const size_t nivel = cursos.FieldIndex("NIVEL");
  const size_t curso = cursos.FieldIndex("CURSO");
  const size_t descricur = cursos.FieldIndex("DESCRICUR");
  std::unordered_map<std::string, size_t> course_row;
  for (size_t r = 0; r < cursos.RecordCount(); ++r)
    course_row.emplace(std::string(cursos.Text(r, clave)), r);

  CodeList codes;
  const ShortCodeOptions options{.trim_cut = true, .add_before_shortening = true};
  ForEachEntry(ctx.doc(), "GRUPOS", [&](size_t, const Entry& entry) {
    const std::string key = entry.Value(0);
    const std::string short_name = entry.Value(1);
    const std::string course_key = entry.Value(2);

    std::string course_nivel, course_curso, course_descri;
    if (auto it = course_row.find(course_key); it != course_row.end()) {
      course_nivel = cursos.Text(it->second, nivel);
      course_curso = cursos.Text(it->second, curso);
      course_descri = cursos.Text(it->second, descricur);
    }
    const std::string letter = short_name.empty() ? std::string() : short_name.substr(short_name.size() - 1);
    const std::string code = ShortCode(short_name, codes, options);

    grupos.Append();
    grupos.SetText("ABREV", code);
    grupos.SetText("NIVEL", course_nivel);
    grupos.SetText("CURSO", course_curso);
    grupos.SetText("GRUPO", letter);
    grupos.SetText("DESCRIP", "(" + key + ") " + course_descri);
    grupos.SetText("MARCO", "0");
    grupos.SetText("CLAVE", key);
    grupos.SetText("CLAVECURSO", course_key);
  });
}

}  // namespace tvs
