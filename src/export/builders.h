// The eight builders of the export run, called in this order. Each reads one
// or two lists of the document and builds its table (or tables) in the
// context, from the table's field list; the run writes them all at the end.
// Each throws Error, naming the list, entry and value at fault, when the
// document holds a value it cannot use.
#pragma once

#include "export/export_context.h"

namespace tvs {

// ASIGNOMT: the subjects of MATERIAS (new table), then the tasks of TAREAS
// (appended), with unique short codes from CodigosCortos/CodigosLargos.
void CrearAsignaturas(ExportContext& ctx);
void CrearTareas(ExportContext& ctx);
// ASIGNOMT2: every MATERIAS and TAREAS entry, with its course key or mark.
void CrearAsignaturasCurso(ExportContext& ctx);
// PROFT: the teachers of PROFESORES.
void CrearProfesores(ExportContext& ctx);
// AULAT: the rooms of AULAS.
void CrearAulas(ExportContext& ctx);
// CURSOST and GRUPOST: the courses of CURSOS and the groups of GRUPOS.
void CrearCursosGrupos(ExportContext& ctx);
// ASIGT: one row per subject and group of its course; reads GRUPOST and
// ASIGNOMT as built earlier in the run.
void CrearAsignaciones(ExportContext& ctx);
// DIASHORAST: seven rows per interval of INTERVALOS; asks the chooser for the
// frames when the document holds two or more.
void CrearDiasHoras(ExportContext& ctx);

}  // namespace tvs
