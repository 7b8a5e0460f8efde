#include "export/export_context.h"

#include "export/working_tables.h"
#include "platform/error.h"

namespace tvs {

DbfTable& ExportContext::NewTable(std::string_view name) {
  auto table = std::make_unique<DbfTable>(std::string(name), WorkingTableFields(name));
  for (auto& t : tables_) {
    if (t->name() == name) {
      t = std::move(table);
      return *t;
    }
  }
  tables_.push_back(std::move(table));
  return *tables_.back();
}

DbfTable& ExportContext::Table(std::string_view name) {
  for (auto& t : tables_)
    if (t->name() == name) return *t;
  throw Error("La tabla " + std::string(name) + " no se ha construido todavía en esta exportación");
}

const DbfTable* ExportContext::FindTable(std::string_view name) const {
  for (const auto& t : tables_)
    if (t->name() == name) return t.get();
  return nullptr;
}

std::vector<const DbfTable*> ExportContext::Tables() const {
  std::vector<const DbfTable*> out;
  for (const auto& t : tables_) out.push_back(t.get());
  return out;
}

}  // namespace tvs
