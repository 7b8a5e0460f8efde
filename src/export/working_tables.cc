#include "export/working_tables.h"

#include <cassert>
#include <map>
#include <string>

namespace tvs {
namespace {

using Fields = std::vector<DbfField>;

const std::map<std::string_view, Fields>& AllFields() {
  static const std::map<std::string_view, Fields> all = {
      {kAsignomt,
       {CharField("COD", 10), CharField("CODLARGO", 10), CharField("NOMBRE", 80),
        CharField("MATERIA", 8), CharField("CODTAREA", 10), LogicalField("ESTAREA")}},
      {kAsignomt2,
       {CharField("COD", 10), CharField("CODLARGO", 10), CharField("NOMBRE", 40),
        CharField("MATERIA", 8), CharField("CLAVECURSO", 12), CharField("ALECTIVA", 1)}},
      {kProft,
       {CharField("ABREV", 10), CharField("NOMBRE", 80), CharField("DEPART", 40),
        IntegerField("DNI"), CharField("X_EMPLEADO", 10), CharField("F_TOMAPOS", 10),
        CharField("EMAIL", 100)}},
      {kAulat,
       {CharField("ABREV", 10), CharField("NOMBRE", 80), CharField("EDIFICIO", 1),
        IntegerField("MAXALUM"), CharField("DEPCENTRO", 10)}},
      {kCursost,
       {CharField("ABREV", 3), CharField("TURNO", 1), CharField("NIVEL", 5),
        CharField("CURSO", 3), CharField("CLAVE", 12), CharField("DESCRICUR", 80)}},
      {kGrupost,
       {CharField("ABREV", 10), CharField("TURNO", 1), CharField("NIVEL", 5),
        CharField("CURSO", 3), CharField("GRUPO", 2), CharField("DESCRIP", 80),
        CharField("MARCO", 1), CharField("CLAVE", 10), CharField("CLAVECURSO", 12)}},
      {kAsigt,
       {CharField("CASIG", 10), CharField("CPROF", 10), CharField("CGRUP", 10),
        CharField("CAULA", 10), CharField("TURNO", 1), CharField("NIVEL", 5),
        CharField("CURSO", 3), CharField("GRUPO", 2), FloatField("HORAS"),
        CharField("SESIONES", 20), CharField("NCONEX", 4), CharField("CLAVE", 10),
        CharField("CLAVECURSO", 12), CharField("CTAREA", 10)}},
      {kDiashorast,
       {CharField("DIHO", 10), CharField("CODDIHO", 10), CharField("DIA", 20),
        CharField("TEXTODIA", 20), CharField("HORA", 8), CharField("TEXTOHOR", 15),
        CharField("HORADESDE", 8), CharField("HORAHASTA", 8), CharField("MINUTOS", 8),
        CharField("MARCO", 1), CharField("MARCOXML", 10)}},
  };
  return all;
}

}  // namespace

const std::vector<std::string_view>& WorkingTableNames() {
  static const std::vector<std::string_view> names = {
      kAsignomt, kAsignomt2, kProft, kAulat, kCursost, kGrupost, kAsigt, kDiashorast};
  return names;
}

const std::vector<DbfField>& WorkingTableFields(std::string_view table) {
  const auto& all = AllFields();
  auto it = all.find(table);
  assert(it != all.end());
  return it->second;
}

std::string TableFileName(std::string_view table) { return std::string(table) + ".DBF"; }

}  // namespace tvs
