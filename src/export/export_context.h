// What the builders of one export run share: the document, the code lists of
// the subject and task catalogue, the tables built so far (in memory, until
// the run commits them all) and the frame choice.
#pragma once

#include <map>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "export/export_run.h"
#include "export/short_codes.h"
#include "platform/dbf.h"
#include "platform/xml_document.h"

namespace tvs {

class ExportContext {
 public:
  ExportContext(const XmlDocument& doc, std::string xml_path, FrameChooser& chooser)
      : doc_(doc), xml_path_(std::move(xml_path)), chooser_(chooser) {}

  const XmlDocument& doc() const { return doc_; }
  const std::string& xml_path() const { return xml_path_; }
  FrameChooser& chooser() { return chooser_; }

  // The shared code lists of subjects and tasks; fresh for every run.
  CodeList& codigos_cortos() { return codigos_cortos_; }
  CodeList& codigos_largos() { return codigos_largos_; }

  // Creates the working table `name` empty, with its field list, replacing
  // one built earlier in this run.
  DbfTable& NewTable(std::string_view name);
  // A table built earlier in this run. Throws Error when there is none.
  DbfTable& Table(std::string_view name);
  const DbfTable* FindTable(std::string_view name) const;
  // Tables in the order they were first created.
  std::vector<const DbfTable*> Tables() const;

  std::string marcos_elegidos;

 private:
  const XmlDocument& doc_;
  std::string xml_path_;
  FrameChooser& chooser_;
  CodeList codigos_cortos_;
  CodeList codigos_largos_;
  std::vector<std::unique_ptr<DbfTable>> tables_;
};

}  // namespace tvs
