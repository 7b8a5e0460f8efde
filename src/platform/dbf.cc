#include "platform/dbf.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <bit>
#include <charconv>
#include <cmath>
#include <cstring>
#include <ctime>
#include <limits>
#include <utility>

#include "platform/codepage.h"
#include "platform/dbf_format.h"
#include "platform/error.h"
#include "platform/posix_io.h"

namespace tvs {
namespace {

char FoldAscii(char c) { return c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c; }

bool SameName(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i)
    if (FoldAscii(a[i]) != FoldAscii(b[i])) return false;
  return true;
}

bool IsNumericType(DbfType t) { return t == DbfType::kNumeric || t == DbfType::kFloat; }

// Stores `text` in a field of `width` bytes: cut to the width, padded with
// blanks on the right, or on the left when `right_aligned`.
void StoreText(char* bytes, size_t width, std::string_view text, bool right_aligned) {
  const size_t n = std::min(width, text.size());
  const size_t pad = width - n;
  if (right_aligned) {
    std::memset(bytes, ' ', pad);
    std::memcpy(bytes + pad, text.data(), n);
  } else {
    std::memcpy(bytes, text.data(), n);
    std::memset(bytes + n, ' ', pad);
  }
}

std::string_view TrimBlanks(std::string_view s) {
  while (!s.empty() && (s.front() == ' ' || s.front() == '\0')) s.remove_prefix(1);
  while (!s.empty() && (s.back() == ' ' || s.back() == '\0')) s.remove_suffix(1);
  return s;
}

bool IsDigit(char c) { return c >= '0' && c <= '9'; }

// A plain decimal number: sign, digits, an optional point with digits, an
// optional exponent. Nothing else (no "nan", no "inf", no comma).
bool LooksLikeNumber(std::string_view s) {
  size_t i = 0;
  if (i < s.size() && (s[i] == '+' || s[i] == '-')) ++i;
  size_t digits = 0;
  while (i < s.size() && IsDigit(s[i])) ++i, ++digits;
  if (i < s.size() && s[i] == '.') {
    ++i;
    while (i < s.size() && IsDigit(s[i])) ++i, ++digits;
  }
  if (digits == 0) return false;
  if (i < s.size() && (s[i] == 'e' || s[i] == 'E')) {
    ++i;
    if (i < s.size() && (s[i] == '+' || s[i] == '-')) ++i;
    size_t exponent_digits = 0;
    while (i < s.size() && IsDigit(s[i])) ++i, ++exponent_digits;
    if (exponent_digits == 0) return false;
  }
  return i == s.size();
}

std::string_view WithoutPlus(std::string_view s) {
  if (!s.empty() && s.front() == '+') s.remove_prefix(1);
  return s;
}

bool ParseWhole(std::string_view s, long long* value) {
  s = WithoutPlus(s);
  if (s.empty() || (s.front() == '-' && s.size() == 1)) return false;
  const auto [end, ec] = std::from_chars(s.data(), s.data() + s.size(), *value);
  return ec == std::errc() && end == s.data() + s.size();
}

bool ParseDouble(std::string_view s, double* value) {
  if (!LooksLikeNumber(s)) return false;
  s = WithoutPlus(s);
  const auto [end, ec] = std::from_chars(s.data(), s.data() + s.size(), *value);
  return ec == std::errc() && end == s.data() + s.size() && std::isfinite(*value);
}

std::string FormatDouble(double value, int decimals) {
  char buffer[400];
  const auto result = decimals >= 0
                          ? std::to_chars(buffer, buffer + sizeof buffer, value, std::chars_format::fixed, decimals)
                          : std::to_chars(buffer, buffer + sizeof buffer, value);
  std::string text(buffer, result.ptr);
  // No "-0.0000": a value that rounds to zero is written as zero.
  if (!text.empty() && text.front() == '-' &&
      text.find_first_not_of("-0.") == std::string::npos)
    text.erase(0, 1);
  return text;
}

uint16_t ReadU16(std::string_view b, size_t at) {
  return static_cast<uint16_t>(static_cast<uint8_t>(b[at]) | static_cast<uint8_t>(b[at + 1]) << 8);
}

uint32_t ReadU32(std::string_view b, size_t at) {
  uint32_t v = 0;
  for (size_t i = 0; i < 4; ++i) v |= static_cast<uint32_t>(static_cast<uint8_t>(b[at + i])) << (8 * i);
  return v;
}

uint64_t ReadLittleEndian(const char* p, size_t n) {
  uint64_t v = 0;
  for (size_t i = 0; i < n; ++i) v |= static_cast<uint64_t>(static_cast<uint8_t>(p[i])) << (8 * i);
  return v;
}

uint64_t ReadBigEndian(const char* p, size_t n) {
  uint64_t v = 0;
  for (size_t i = 0; i < n; ++i) v = v << 8 | static_cast<uint8_t>(p[i]);
  return v;
}

void PutU16(std::string& out, size_t at, size_t v) {
  out[at] = static_cast<char>(v & 0xFF);
  out[at + 1] = static_cast<char>(v >> 8 & 0xFF);
}

void PutU32(std::string& out, size_t at, size_t v) {
  for (size_t i = 0; i < 4; ++i) out[at + i] = static_cast<char>(v >> (8 * i) & 0xFF);
}

// --- Parsing -------------------------------------------------------------------

// Where a dBase level keeps its descriptors and what they look like.
struct Layout {
  size_t first_descriptor;
  size_t descriptor_size;
  size_t name_size;
  size_t type_offset;
  size_t width_offset;
  size_t decimals_offset;
  // dBase 7 writers give the exact record length; demanding it keeps a
  // classic file marked level 4 from passing for a dBase 7 one.
  bool exact_record_length;
};

constexpr Layout kClassicLayout{dbf::kHeaderSize,         dbf::kDescriptorSize,      dbf::kFieldNameSize,
                                dbf::kFieldTypeOffset,    dbf::kFieldWidthOffset,    dbf::kFieldDecimalsOffset, false};
constexpr Layout kDbase7Layout{dbf::kDbase7DescriptorsOffset, dbf::kDbase7DescriptorSize,
                               dbf::kDbase7FieldNameSize,     dbf::kDbase7FieldTypeOffset,
                               dbf::kDbase7FieldWidthOffset,  dbf::kDbase7FieldDecimalsOffset, true};

// How the parser copies one field of a file record into the table's record.
enum class Conversion {
  kCopy,
  kFoxProInteger,    // 4 bytes little-endian two's complement
  kFoxProDouble,     // 8 bytes little-endian IEEE
  kFoxProCurrency,   // 8 bytes little-endian, ten-thousandths
  kDbase7Integer,    // 4 bytes big-endian, sign bit flipped
  kDbase7Double,     // 8 bytes big-endian, sortable IEEE
};

struct FileField {
  DbfField field;      // as the table keeps it
  size_t file_offset;  // inside the file's record
  size_t file_width;
  Conversion conversion = Conversion::kCopy;
};

bool IsFoxProVersion(uint8_t version) {
  return version >= dbf::kVersionFoxProFirst && version <= dbf::kVersionFoxProLast;
}

Conversion ConversionFor(uint8_t version, char type, size_t width) {
  const bool dbase7 = (version & dbf::kVersionLevelMask) == dbf::kLevelDbase7;
  if (dbase7) {
    if ((type == 'I' || type == '+') && width == dbf::kBinaryIntegerSize) return Conversion::kDbase7Integer;
    if (type == 'O' && width == dbf::kBinaryDoubleSize) return Conversion::kDbase7Double;
  } else if (IsFoxProVersion(version)) {
    if (type == 'I' && width == dbf::kBinaryIntegerSize) return Conversion::kFoxProInteger;
    if (type == 'B' && width == dbf::kBinaryDoubleSize) return Conversion::kFoxProDouble;
    if (type == 'Y' && width == dbf::kBinaryDoubleSize) return Conversion::kFoxProCurrency;
  }
  return Conversion::kCopy;
}

// The text a binary number is kept as; "" for a value that is no number.
std::string BinaryAsText(Conversion c, const char* p) {
  switch (c) {
    case Conversion::kFoxProInteger:
      return std::to_string(static_cast<int32_t>(static_cast<uint32_t>(ReadLittleEndian(p, 4))));
    case Conversion::kDbase7Integer:
      return std::to_string(static_cast<int32_t>(static_cast<uint32_t>(ReadBigEndian(p, 4)) ^ 0x80000000u));
    case Conversion::kFoxProCurrency: {
      const auto v = static_cast<long long>(ReadLittleEndian(p, 8));
      const unsigned long long magnitude = v < 0 ? 0ULL - static_cast<unsigned long long>(v) : v;
      std::string frac = std::to_string(magnitude % 10000);
      frac.insert(0, 4 - frac.size(), '0');
      return (v < 0 ? "-" : "") + std::to_string(magnitude / 10000) + "." + frac;
    }
    case Conversion::kFoxProDouble:
    case Conversion::kDbase7Double: {
      uint64_t bits = ReadLittleEndian(p, 8);
      if (c == Conversion::kDbase7Double) {
        bits = ReadBigEndian(p, 8);
        bits = (bits & 0x8000000000000000ull) ? bits ^ 0x8000000000000000ull : ~bits;
      }
      const double d = std::bit_cast<double>(bits);
      return std::isfinite(d) ? FormatDouble(d, -1) : "";
    }
    case Conversion::kCopy: break;
  }
  return "";
}

DbfField TableFieldFor(DbfField f, Conversion c) {
  switch (c) {
    case Conversion::kCopy: return f;
    case Conversion::kFoxProInteger:
    case Conversion::kDbase7Integer: return {std::move(f.name), DbfType::kNumeric, dbf::kBinaryIntegerTextWidth, 0};
    case Conversion::kFoxProCurrency: return {std::move(f.name), DbfType::kNumeric, dbf::kBinaryDoubleTextWidth, 4};
    case Conversion::kFoxProDouble:
    case Conversion::kDbase7Double: return {std::move(f.name), DbfType::kFloat, dbf::kBinaryDoubleTextWidth, 0};
  }
  return f;
}

class Parser {
 public:
  // `owned`, when given, is the buffer `bytes` views, which the parse may
  // take over as the table's records instead of copying them.
  Parser(std::string_view bytes, const std::string& name, std::string* owned = nullptr)
      : bytes_(bytes), name_(name), owned_(owned) {}

  DbfTable Parse(const Layout& layout) {
    if (bytes_.size() < dbf::kHeaderSize)
      Fault("la cabecera está incompleta: el archivo solo tiene " + std::to_string(bytes_.size()) +
            " bytes y la cabecera mide " + std::to_string(dbf::kHeaderSize));
    const auto version = static_cast<uint8_t>(bytes_[dbf::kVersionOffset]);
    const size_t record_count = ReadU32(bytes_, dbf::kRecordCountOffset);
    const size_t header_length = ReadU16(bytes_, dbf::kHeaderLengthOffset);
    const size_t record_length = ReadU16(bytes_, dbf::kRecordLengthOffset);

    const size_t descriptors_end = ReadDescriptors(layout, version);
    if (fields_.empty()) Fault("no tiene ningún campo");
    if (descriptors_end > header_length)
      Fault("la longitud de cabecera " + std::to_string(header_length) +
            " no alcanza al final de los descriptores de campo, en el byte " + std::to_string(descriptors_end));
    if (header_length > bytes_.size())
      Fault("la longitud de cabecera " + std::to_string(header_length) + " excede el tamaño del archivo (" +
            std::to_string(bytes_.size()) + " bytes)");

    size_t needed = dbf::kDeletionFlagSize;
    for (const FileField& f : fields_) needed += f.file_width;
    if (record_length < needed || (layout.exact_record_length && record_length != needed))
      Fault("la longitud de registro " + std::to_string(record_length) +
            " no coincide con los campos, que ocupan " + std::to_string(needed) +
            " bytes con la marca de borrado");

    const size_t available = (bytes_.size() - header_length) / record_length;
    if (record_count > available)
      Fault("la cabecera dice " + std::to_string(record_count) + " registros pero el archivo solo contiene " +
            std::to_string(available));

    std::vector<DbfField> table_fields;
    table_fields.reserve(fields_.size());
    for (FileField& f : fields_) table_fields.push_back(TableFieldFor(f.field, f.conversion));
    DbfTable table(name_, std::move(table_fields));
    if (!TakeRecords(table, header_length, record_count, record_length))
      CopyRecords(table, bytes_.data() + header_length, record_count, record_length);
    return table;
  }

 private:
  [[noreturn]] void Fault(const std::string& what) const {
    throw Error("La tabla " + name_ + " está dañada: " + what);
  }

  // Reads the field descriptors up to the terminator and returns the offset
  // just past it.
  size_t ReadDescriptors(const Layout& layout, uint8_t version) {
    size_t pos = layout.first_descriptor;
    size_t record_offset = dbf::kDeletionFlagSize;
    for (;;) {
      if (pos >= bytes_.size())
        Fault("los descriptores de campo están incompletos: el archivo termina en el byte " +
              std::to_string(bytes_.size()) + " sin el final de la cabecera");
      const auto first = static_cast<uint8_t>(bytes_[pos]);
      if (first == dbf::kHeaderTerminator || first == dbf::kHeaderTerminatorAlternative) return pos + 1;
      if (pos + layout.descriptor_size > bytes_.size())
        Fault("los descriptores de campo están incompletos: el descriptor " + std::to_string(fields_.size() + 1) +
              " queda cortado al final del archivo");

      const char* d = bytes_.data() + pos;
      const std::string_view raw(d, layout.name_size);
      std::string field_name(raw.substr(0, std::min(raw.find('\0'), raw.size())));
      while (!field_name.empty() && field_name.back() == ' ') field_name.pop_back();
      if (field_name.empty())
        Fault("el descriptor de campo " + std::to_string(fields_.size() + 1) + " no tiene nombre");
      const char type = d[layout.type_offset];
      const auto width = static_cast<uint8_t>(d[layout.width_offset]);
      const auto decimals = static_cast<uint8_t>(d[layout.decimals_offset]);
      if (width == 0) Fault("el campo " + FromWindows1252(field_name) + " tiene anchura 0");

      FileField f;
      f.field = {std::move(field_name), static_cast<DbfType>(type), width, decimals};
      f.file_offset = record_offset;
      f.file_width = width;
      f.conversion = ConversionFor(version, type, width);
      fields_.push_back(std::move(f));
      record_offset += width;
      pos += layout.descriptor_size;
    }
  }

  // When the file's records are the table's records as they stand (same
  // layout, none deleted), the file's own buffer becomes the records: the
  // header is shifted out in place rather than every record copied into new
  // memory. False when that cannot be done; nothing is changed then.
  bool TakeRecords(DbfTable& table, size_t header_length, size_t count, size_t file_length) {
    if (owned_ == nullptr || table.RecordLength() != file_length) return false;
    for (const FileField& f : fields_)
      if (f.conversion != Conversion::kCopy) return false;
    const char* src = bytes_.data() + header_length;
    for (size_t i = 0; i < count; ++i)
      if (src[i * file_length] == dbf::kDeletedRecord) return false;
    std::string& buffer = *owned_;
    buffer.resize(header_length + count * file_length);
    buffer.erase(0, header_length);
    table.MutableRecordBytes() = std::move(buffer);
    for (size_t at = 0; at < table.MutableRecordBytes().size(); at += file_length)
      table.MutableRecordBytes()[at] = dbf::kLiveRecord;
    return true;
  }

  void CopyRecords(DbfTable& table, const char* src, size_t count, size_t file_length) {
    const size_t length = table.RecordLength();
    bool plain = length == file_length;
    for (const FileField& f : fields_) plain = plain && f.conversion == Conversion::kCopy;

    std::string& out = table.MutableRecordBytes();
    out.reserve(count * length);
    if (plain) {
      // Runs of live records go over in one copy each.
      size_t run = 0;
      for (size_t i = 0; i <= count; ++i) {
        if (i < count && src[i * file_length] != dbf::kDeletedRecord) continue;
        if (i > run) out.append(src + run * file_length, (i - run) * file_length);
        run = i + 1;
      }
    } else {
      std::string record(length, ' ');
      const std::vector<size_t>& offsets = table.FieldOffsets();
      for (size_t i = 0; i < count; ++i) {
        const char* r = src + i * file_length;
        if (*r == dbf::kDeletedRecord) continue;
        for (size_t k = 0; k < fields_.size(); ++k) {
          const FileField& f = fields_[k];
          char* to = record.data() + offsets[k];
          if (f.conversion == Conversion::kCopy)
            std::memcpy(to, r + f.file_offset, f.file_width);
          else
            StoreText(to, table.fields()[k].width, BinaryAsText(f.conversion, r + f.file_offset), true);
        }
        out += record;
      }
    }
    for (size_t at = 0; at < out.size(); at += length) out[at] = dbf::kLiveRecord;
  }

  std::string_view bytes_;
  const std::string& name_;
  std::string* owned_;
  std::vector<FileField> fields_;
};

}  // namespace

// --- Fields ----------------------------------------------------------------------

DbfField CharField(std::string name, uint8_t width) { return {std::move(name), DbfType::kCharacter, width, 0}; }
DbfField LogicalField(std::string name) { return {std::move(name), DbfType::kLogical, dbf::kLogicalWidth, 0}; }
DbfField IntegerField(std::string name) { return {std::move(name), DbfType::kNumeric, dbf::kIntegerWidth, 0}; }
DbfField FloatField(std::string name) {
  return {std::move(name), DbfType::kFloat, dbf::kFloatWidth, dbf::kFloatDecimals};
}

// --- Table -----------------------------------------------------------------------

DbfTable::DbfTable(std::string name, std::vector<DbfField> fields)
    : name_(std::move(name)), fields_(std::move(fields)) {
  offsets_.reserve(fields_.size());
  size_t offset = dbf::kDeletionFlagSize;
  for (const DbfField& f : fields_) {
    offsets_.push_back(offset);
    offset += f.width;
  }
  record_length_ = offset;
}

int DbfTable::FindField(std::string_view name) const {
  // Callers mostly spell the name as the table does; names are unique
  // ignoring case, so an exact match is the only match.
  for (size_t i = 0; i < fields_.size(); ++i)
    if (fields_[i].name == name) return static_cast<int>(i);
  for (size_t i = 0; i < fields_.size(); ++i)
    if (SameName(fields_[i].name, name)) return static_cast<int>(i);
  return -1;
}

size_t DbfTable::FieldIndex(std::string_view name) const {
  const int i = FindField(name);
  if (i < 0) throw Error("La tabla " + name_ + " no tiene el campo " + std::string(name));
  return static_cast<size_t>(i);
}

size_t DbfTable::RecordCount() const { return records_.size() / record_length_; }

void DbfTable::Append() { records_.append(record_length_, ' '); }

void DbfTable::Reserve(size_t records) { records_.reserve(records * record_length_); }

char* DbfTable::FieldBytes(size_t record, size_t field) {
  return records_.data() + record * record_length_ + offsets_[field];
}

const char* DbfTable::FieldBytes(size_t record, size_t field) const {
  return records_.data() + record * record_length_ + offsets_[field];
}

void DbfTable::SetText(size_t record, size_t field, std::string_view text) {
  StoreText(FieldBytes(record, field), fields_[field].width, text, IsNumericType(fields_[field].type));
}

namespace {

size_t LastRecord(const DbfTable& t, std::string_view field) {
  if (t.RecordCount() == 0)
    throw Error("La tabla " + t.name() + " no tiene ningún registro en que escribir el campo " + std::string(field));
  return t.RecordCount() - 1;
}

}  // namespace

void DbfTable::SetText(std::string_view field, std::string_view text) {
  const size_t f = FieldIndex(field);
  SetText(LastRecord(*this, field), f, text);
}

void DbfTable::SetLogical(std::string_view field, bool value) { SetText(field, value ? "T" : "F"); }

void DbfTable::SetInteger(std::string_view field, long long value) {
  const size_t f = FieldIndex(field);
  const size_t record = LastRecord(*this, field);
  const std::string text = std::to_string(value);
  if (text.size() > fields_[f].width)
    throw Error("El número " + text + " no cabe en el campo " + fields_[f].name + " de la tabla " + name_ +
                " (anchura " + std::to_string(fields_[f].width) + ")");
  SetText(record, f, text);
}

void DbfTable::SetNumber(std::string_view field, double value) {
  const size_t f = FieldIndex(field);
  const size_t record = LastRecord(*this, field);
  const DbfField& d = fields_[f];
  if (!std::isfinite(value))
    throw Error("El campo " + d.name + " de la tabla " + name_ + " no admite un valor que no es un número finito");
  const std::string text = FormatDouble(value, IsNumericType(d.type) ? d.decimals : -1);
  if (text.size() > d.width)
    throw Error("El número " + text + " no cabe en el campo " + d.name + " de la tabla " + name_ + " (anchura " +
                std::to_string(d.width) + ")");
  SetText(record, f, text);
}

std::string_view DbfTable::Text(size_t record, size_t field) const {
  const char* p = FieldBytes(record, field);
  size_t n = fields_[field].width;
  while (n > 0 && (p[n - 1] == ' ' || p[n - 1] == '\0')) --n;
  return {p, n};
}

namespace {

[[noreturn]] void NotANumber(const DbfTable& t, size_t record, size_t field, std::string_view text) {
  // A field name read from a file may hold any byte: shown converted, as the
  // text is, so that the message stays UTF-8.
  throw Error("La tabla " + t.name() + ", campo " + FromWindows1252(t.fields()[field].name) + ", registro " +
              std::to_string(record + 1) + ": «" + FromWindows1252(text) + "» no es un número");
}

}  // namespace

long long DbfTable::Integer(size_t record, size_t field) const {
  const std::string_view text = TrimBlanks(Text(record, field));
  if (text.empty()) return 0;
  long long whole = 0;
  if (ParseWhole(text, &whole)) return whole;
  double d = 0;
  // Beyond ±2^63 llround has no answer.
  if (!ParseDouble(text, &d) || std::fabs(d) >= 9.2e18) NotANumber(*this, record, field, text);
  return std::llround(d);
}

double DbfTable::Number(size_t record, size_t field) const {
  const std::string_view text = TrimBlanks(Text(record, field));
  if (text.empty()) return 0;
  double d = 0;
  if (!ParseDouble(text, &d)) NotANumber(*this, record, field, text);
  return d;
}

bool DbfTable::Logical(size_t record, size_t field) const {
  const char c = *FieldBytes(record, field);
  return c == 'T' || c == 't' || c == 'Y' || c == 'y';
}

// --- Encoding ---------------------------------------------------------------------

std::string EncodeDbf(const DbfTable& table) {
  const DbfFileParts parts = EncodeDbfParts(table);
  std::string out;
  out.reserve(parts.header.size() + parts.records.size() + parts.end.size());
  out += parts.header;
  out += parts.records;
  out += parts.end;
  return out;
}

DbfFileParts EncodeDbfParts(const DbfTable& table) {
  static constexpr char kEnd[] = {static_cast<char>(dbf::kEndOfFile)};
  const auto& fields = table.fields();
  const size_t header_length = dbf::kHeaderSize + fields.size() * dbf::kDescriptorSize + 1;
  const size_t count = table.RecordCount();
  if (fields.empty()) throw Error("La tabla " + table.name() + " no tiene ningún campo");
  if (header_length > dbf::kMaxHeaderLength || table.RecordLength() > dbf::kMaxRecordLength)
    throw Error("La tabla " + table.name() + " tiene demasiados campos para un archivo dBase");
  if (count > std::numeric_limits<uint32_t>::max())
    throw Error("La tabla " + table.name() + " tiene demasiados registros para un archivo dBase");

  std::string out(header_length, '\0');
  out[dbf::kVersionOffset] = static_cast<char>(dbf::kVersionDbase3);
  const std::time_t now = std::time(nullptr);
  std::tm local{};
  localtime_r(&now, &local);
  out[dbf::kDateOffset] = static_cast<char>(local.tm_year);  // years since 1900
  out[dbf::kDateOffset + 1] = static_cast<char>(local.tm_mon + 1);
  out[dbf::kDateOffset + 2] = static_cast<char>(local.tm_mday);
  PutU32(out, dbf::kRecordCountOffset, count);
  PutU16(out, dbf::kHeaderLengthOffset, header_length);
  PutU16(out, dbf::kRecordLengthOffset, table.RecordLength());
  out[dbf::kLanguageDriverOffset] = static_cast<char>(dbf::kLanguageDriverWindows1252);

  size_t pos = dbf::kHeaderSize;
  for (const DbfField& f : fields) {
    if (f.name.empty() || f.name.size() > dbf::kMaxFieldNameLength)
      throw Error("El campo «" + FromWindows1252(f.name) + "» de la tabla " + table.name() +
                  " necesita un nombre de 1 a 10 caracteres");
    if (f.width == 0 || f.width > dbf::kMaxFieldWidth)
      throw Error("El campo " + FromWindows1252(f.name) + " de la tabla " + table.name() +
                  " necesita una anchura de 1 a 254");
    std::memcpy(out.data() + pos, f.name.data(), f.name.size());
    out[pos + dbf::kFieldTypeOffset] = static_cast<char>(f.type);
    out[pos + dbf::kFieldWidthOffset] = static_cast<char>(f.width);
    out[pos + dbf::kFieldDecimalsOffset] = static_cast<char>(f.decimals);
    pos += dbf::kDescriptorSize;
  }
  out[pos] = static_cast<char>(dbf::kHeaderTerminator);
  return {std::move(out), table.RecordBytes(), std::string_view(kEnd, 1)};
}

namespace {

// ParseDbf; `owned`, when given, holds `bytes` and may be taken over.
DbfTable ParseBytes(std::string_view bytes, const std::string& name, std::string* owned) {
  const bool dbase7 = bytes.size() > dbf::kVersionOffset &&
                      (static_cast<uint8_t>(bytes[dbf::kVersionOffset]) & dbf::kVersionLevelMask) == dbf::kLevelDbase7;
  if (!dbase7) return Parser(bytes, name, owned).Parse(kClassicLayout);
  // Some writers mark level 4 but keep the classic 32-byte descriptors: when
  // the dBase 7 layout does not fit, try that one before giving up. A failed
  // parse leaves the buffer as it was.
  try {
    return Parser(bytes, name, owned).Parse(kDbase7Layout);
  } catch (const Error& first) {
    try {
      return Parser(bytes, name, owned).Parse(kClassicLayout);
    } catch (const Error&) {
      throw first;
    }
  }
}

}  // namespace

DbfTable ParseDbf(std::string_view bytes, const std::string& name) { return ParseBytes(bytes, name, nullptr); }

// --- Open tables ---------------------------------------------------------------------

OpenDbf OpenDbf::Open(const std::string& path, OpenMode mode, const std::string& name) {
  const bool exclusive = mode == OpenMode::kExclusive;
  // An exclusive (write) lock needs a descriptor open for writing; a shared
  // one only for reading, which also works on a read-only file.
  OpenDbf open_table;
  open_table.fd_ = open(path.c_str(), (exclusive ? O_RDWR : O_RDONLY) | O_CLOEXEC);
  if (open_table.fd_ < 0) {
    if (errno == ENOENT) throw Error("No existe la tabla " + name + " (" + path + ")");
    throw Error("No se puede abrir la tabla " + name + (exclusive ? " para uso exclusivo" : "") + " (" + path +
                "): " + OsErrorText(errno));
  }

  struct flock lock {};
  lock.l_type = exclusive ? F_WRLCK : F_RDLCK;
  lock.l_whence = SEEK_SET;
  lock.l_start = 0;
  lock.l_len = 0;  // the whole file, however long it grows
  if (fcntl(open_table.fd_, F_OFD_SETLK, &lock) != 0) {
    if (errno == EAGAIN || errno == EACCES)
      throw Error("La tabla " + name + " está en uso por otro programa (" + path + ")");
    throw Error("No se puede bloquear la tabla " + name + " (" + path + "): " + OsErrorText(errno));
  }

  std::string bytes;
  if (!ReadToEnd(open_table.fd_, &bytes))
    throw Error("No se puede leer la tabla " + name + " (" + path + "): " + OsErrorText(errno));
  open_table.table_ = ParseBytes(bytes, name, &bytes);
  return open_table;
}

OpenDbf::~OpenDbf() { Close(); }

OpenDbf::OpenDbf(OpenDbf&& other) noexcept
    : fd_(std::exchange(other.fd_, -1)), table_(std::move(other.table_)) {}

OpenDbf& OpenDbf::operator=(OpenDbf&& other) noexcept {
  if (this != &other) {
    Close();
    fd_ = std::exchange(other.fd_, -1);
    table_ = std::move(other.table_);
  }
  return *this;
}

void OpenDbf::Close() {
  if (fd_ >= 0) {
    close(fd_);  // releases the lock: it belongs to this open file description
    fd_ = -1;
  }
}

}  // namespace tvs
