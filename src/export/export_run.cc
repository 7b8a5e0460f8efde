#include "export/export_run.h"

#include "export/builders.h"
#include "export/export_context.h"
#include "export/working_set.h"

namespace tvs {

ExportResult ExportDocument(const XmlDocument& doc, const std::string& xml_path,
                            const std::string& working_folder, FrameChooser& chooser) {
  ExportContext ctx(doc, xml_path, chooser);
  CrearAsignaturas(ctx);
  CrearTareas(ctx);
  CrearAsignaturasCurso(ctx);
  CrearProfesores(ctx);
  CrearAulas(ctx);
  CrearCursosGrupos(ctx);
  CrearAsignaciones(ctx);
  CrearDiasHoras(ctx);

  const auto tables = ctx.Tables();
  CommitWorkingSet(working_folder, tables);

  ExportResult result;
  for (const DbfTable* t : tables) result.tables.emplace_back(t->name(), t->RecordCount());
  result.marcos_elegidos = ctx.marcos_elegidos;
  return result;
}

ExportResult ExportRun(const std::string& xml_path, const std::string& working_folder,
                       FrameChooser& chooser) {
  XmlDocument doc;
  doc.LoadWellFormed(xml_path);
  return ExportDocument(doc, xml_path, working_folder, chooser);
}

}  // namespace tvs
