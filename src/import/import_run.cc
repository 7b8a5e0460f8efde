#include "import/import_run.h"

#include "platform/error.h"

namespace tvs {

ImportSummary ImportRun(const std::string&, const std::string&) {
  throw Error("La importación todavía no está disponible en esta versión");
}

}  // namespace tvs
