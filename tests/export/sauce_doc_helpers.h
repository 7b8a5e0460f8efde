// Small fixtures for the export tests: a Sauce export document written from
// a table of lists, a frame chooser that answers what it is told, a loaded
// document with an export context over it, and readers of built tables.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "export/export_context.h"
#include "export/export_run.h"
#include "platform/dbf.h"
#include "platform/xml_document.h"

namespace tvs::test {

// One entry: the texts of its `salida` children, in order (UTF-8, escaped when
// written). An entry with no texts has no `salida` child.
using SauceEntry = std::vector<std::string>;

struct SauceList {
  std::string name;  // the `seq` attribute
  std::vector<SauceEntry> entries;
  // When given, salida k of every entry carries the attribute dato=datos[k]
  // (as the interval list does).
  std::vector<std::string> datos = {};
};

// <SERVICIO><SALIDAS><listasal seq="NAME"><listasal><salida>...</salida>...
std::string SauceDoc(const std::vector<SauceList>& lists);

// Escapes &, <, > and " for element text and attribute values.
std::string XmlEscape(std::string_view text);

class FakeChooser : public FrameChooser {
 public:
  explicit FakeChooser(std::string answer = {}) : answer_(std::move(answer)) {}
  std::string ChooseFrames(const XmlDocument&, const std::string&) override {
    ++calls;
    return answer_;
  }
  int calls = 0;

 private:
  std::string answer_;
};

// A document loaded from memory and a fresh export context over it, for
// running builders directly, without a working folder.
class BuildHarness {
 public:
  explicit BuildHarness(const std::string& xml);
  explicit BuildHarness(const std::vector<SauceList>& lists) : BuildHarness(SauceDoc(lists)) {}
  BuildHarness(const BuildHarness&) = delete;
  BuildHarness& operator=(const BuildHarness&) = delete;

  ExportContext& ctx() { return ctx_; }
  const XmlDocument& doc() const { return doc_; }
  // A table built so far; fails the test (throws Error) when there is none.
  const DbfTable& Table(std::string_view name) { return ctx_.Table(name); }

 private:
  XmlDocument doc_;
  FakeChooser chooser_;
  ExportContext ctx_;
};

// The stored text of a field (trailing blanks removed), converted to UTF-8 so
// tests can compare with literals.
std::string Cell(const DbfTable& table, size_t record, std::string_view field);
// Cell() of every record.
std::vector<std::string> Column(const DbfTable& table, std::string_view field);
// Cell() of the named fields of one record.
std::vector<std::string> Row(const DbfTable& table, size_t record,
                             const std::vector<std::string_view>& fields);
// Row() of every record.
std::vector<std::vector<std::string>> Rows(const DbfTable& table,
                                           const std::vector<std::string_view>& fields);

// A fresh folder under the system's temporary folder, removed with its
// contents on destruction.
class TempFolder {
 public:
  TempFolder();
  ~TempFolder();
  TempFolder(const TempFolder&) = delete;
  TempFolder& operator=(const TempFolder&) = delete;
  const std::string& path() const { return path_; }

 private:
  std::string path_;
};

// Every regular file of `folder` (names sorted) with its bytes.
std::vector<std::pair<std::string, std::string>> FolderContents(const std::string& folder);

}  // namespace tvs::test
