#include "export/export_run.h"

#include "export/builders.h"
#include "export/export_context.h"
#include "export/sauce_lists.h"
#include "export/working_set.h"
#include "platform/error.h"

namespace tvs {
namespace {

// A document of another kind (a wrong file chosen) would otherwise give
// empty lists and fail much later, at the time frames, with a message that
// does not say what is wrong.
void CheckIsSauceExport(const XmlDocument& doc, const std::string& xml_path) {
  const std::string root = doc.Root().Name();
  if (root == "SERVICIO" && doc.Select("/SERVICIO").Count() == 0) {
    throw Error("El archivo «" + xml_path +
                "» no es una exportación de Sauce: su elemento raíz SERVICIO está en un espacio de "
                "nombres (xmlns) que Sauce no usa");
  }
  if (root != "SERVICIO") {
    throw Error("El archivo «" + xml_path + "» no es una exportación de Sauce: su elemento raíz es «" + root +
                "», no SERVICIO");
  }
}

}  // namespace

ExportResult ExportDocument(const XmlDocument& doc, const std::string& xml_path,
                            const std::string& working_folder, FrameChooser& chooser) {
  CheckIsSauceExport(doc, xml_path);
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
  doc.LoadWellFormed(xml_path, ExportLoadOptions());
  return ExportDocument(doc, xml_path, working_folder, chooser);
}

}  // namespace tvs
