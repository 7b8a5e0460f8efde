// The dBase table engine: the working tables Tavoleno reads, and the solution
// table it writes, are dBase III/IV files (.DBF) without index files.
//
// A DbfTable is a whole table in memory: its field list and its records, kept
// as the fixed-width record bytes of the file. Text is Windows-1252, as stored.
// Writing a table is one encode of those bytes; reading one is one parse of
// the file, so a walk over a table never goes back to disk.
//
// Field types used by the working tables:
//   character n   'C', n bytes, blank-padded on the right;
//   logical       'L', 1 byte, 'T' or 'F' (blank when never set);
//   integer       'N', width 11, no decimals: any 32-bit value fits;
//   floating      'F', width 19, 4 decimals (the hours of ASIGT).
// Numbers are written right-aligned and blank-padded on the left; a field never
// set stays blank.
//
// The file layout (header, field descriptors, records, end-of-file byte) is
// described in docs/dbf-format.md and its constants live in dbf_format.h.
//
// Not thread-safe.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace tvs {

enum class DbfType : char {
  kCharacter = 'C',
  kLogical = 'L',
  kNumeric = 'N',
  kFloat = 'F',
  kDate = 'D',
  kMemo = 'M',
};

struct DbfField {
  std::string name;  // at most 10 characters, upper case in the working tables
  DbfType type = DbfType::kCharacter;
  uint8_t width = 0;
  uint8_t decimals = 0;
};

DbfField CharField(std::string name, uint8_t width);
DbfField LogicalField(std::string name);
DbfField IntegerField(std::string name);
DbfField FloatField(std::string name);

class DbfTable {
 public:
  // REQUIRES: field names unique (ignoring letter case), 1 to 10 characters;
  // widths 1 to 254. `name` is the table's name, used in messages.
  DbfTable(std::string name, std::vector<DbfField> fields);

  const std::string& name() const { return name_; }
  const std::vector<DbfField>& fields() const { return fields_; }

  // Index of the field named `name`, letter case ignored; -1 when none.
  int FindField(std::string_view name) const;
  // As FindField; throws Error "La tabla X no tiene el campo Y" when none.
  size_t FieldIndex(std::string_view name) const;

  size_t RecordCount() const;

  // Appends a blank record; the setters without a record number then write
  // into it (append, set fields, post: there is no separate post).
  void Append();
  // Makes room for `records` records in all, so that appending up to that
  // many moves no record: for a builder that knows its row count.
  void Reserve(size_t records);
  // Field-width rule: a text longer than the field keeps its first bytes.
  // For a numeric field the text is stored right-aligned as it stands.
  // REQUIRES: a record was appended. Throws Error for an unknown field.
  void SetText(std::string_view field, std::string_view text);
  void SetLogical(std::string_view field, bool value);
  void SetInteger(std::string_view field, long long value);
  void SetNumber(std::string_view field, double value);
  // Edit of any record in place (the slot builder renumbers rows).
  // REQUIRES: record < RecordCount(), field < fields().size().
  void SetText(size_t record, size_t field, std::string_view text);

  // Reading. REQUIRES: record < RecordCount(), field < fields().size().
  // Text as stored, trailing blanks (and NULs) removed, leading blanks kept.
  std::string_view Text(size_t record, size_t field) const;
  // The number a numeric (or character) field holds, rounded to the nearest
  // integer; 0 for a blank field. Throws Error naming the table, field, record
  // and text when the field holds something that is not a number.
  long long Integer(size_t record, size_t field) const;
  double Number(size_t record, size_t field) const;
  // 'T', 't', 'Y', 'y' are true; anything else false.
  bool Logical(size_t record, size_t field) const;

  // Internal layout, for the encoder and the parser.
  size_t RecordLength() const { return record_length_; }  // with the deletion flag
  const std::vector<size_t>& FieldOffsets() const { return offsets_; }
  const std::string& RecordBytes() const { return records_; }
  std::string& MutableRecordBytes() { return records_; }

 private:
  char* FieldBytes(size_t record, size_t field);
  const char* FieldBytes(size_t record, size_t field) const;

  std::string name_;
  std::vector<DbfField> fields_;
  std::vector<size_t> offsets_;  // offset of each field inside a record
  size_t record_length_ = 1;
  std::string records_;  // RecordCount() * record_length_ bytes, live records only
};

// The bytes of a dBase file holding `table`: a dBase III header marked with
// the Windows-1252 language driver (0x03), field descriptors, the records, and
// the end-of-file byte 0x1A.
std::string EncodeDbf(const DbfTable& table);

// EncodeDbf's bytes in their three parts, so that a large table can be
// written without a copy of its records: the header (with the field
// descriptors), the records (`table`'s own bytes, valid while it lives and
// does not change) and the end-of-file byte. Throws as EncodeDbf does.
struct DbfFileParts {
  std::string header;
  std::string_view records;
  std::string_view end;
};
DbfFileParts EncodeDbfParts(const DbfTable& table);

// Parses a dBase III/IV file (version bytes 0x03, 0x04, 0x83, 0x8B, 0x30, 0xF5
// and the like). Deleted records are skipped. Throws Error naming `name` and
// the fault for a truncated or malformed file; never reads out of bounds. A
// header that claims more records than the file holds is a fault.
DbfTable ParseDbf(std::string_view bytes, const std::string& name);

enum class OpenMode { kShared, kExclusive };

// A table file opened for reading, holding an OS lock (a shared or an
// exclusive whole-file lock, open file description locks) until Close() or
// destruction. Another exclusive open of the same file, by this process or a
// cooperating one, fails while it is held; so does a shared open against an
// exclusive holder.
class OpenDbf {
 public:
  OpenDbf() = default;
  // Throws Error naming the table when the file is missing, cannot be read,
  // is malformed, or is locked by another program.
  static OpenDbf Open(const std::string& path, OpenMode mode, const std::string& name);
  ~OpenDbf();
  OpenDbf(OpenDbf&&) noexcept;
  OpenDbf& operator=(OpenDbf&&) noexcept;
  OpenDbf(const OpenDbf&) = delete;
  OpenDbf& operator=(const OpenDbf&) = delete;

  const DbfTable& table() const { return table_; }
  void Close();

 private:
  int fd_ = -1;
  DbfTable table_{"", {}};
};

}  // namespace tvs
