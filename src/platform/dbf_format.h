// Layout of a dBase table file, as the encoder writes it and the parser reads
// it. The prose description is docs/dbf-format.md. All multi-byte integers of
// the header are little-endian.
//
// A file is: the table header, one field descriptor per field, the header
// terminator, any padding up to the header length, the records, and the
// end-of-file byte.
#pragma once

#include <cstddef>
#include <cstdint>

namespace tvs::dbf {

// --- Table header ----------------------------------------------------------

// The fixed part of the header: 32 bytes in every dBase level.
inline constexpr size_t kHeaderSize = 32;

// Byte 0: the version. Its low three bits give the level (3 for dBase III and
// IV, 4 for dBase 7); the high bits flag a memo file (0x80, 0x08 in dBase IV)
// or an SQL table. FoxPro writes 0x30 to 0x32 and 0xF5. The encoder writes a
// plain dBase III table without memo.
inline constexpr size_t kVersionOffset = 0;
inline constexpr uint8_t kVersionDbase3 = 0x03;
inline constexpr uint8_t kVersionLevelMask = 0x07;
inline constexpr uint8_t kLevelDbase7 = 4;
// FoxPro and Visual FoxPro versions (binary numeric fields are little-endian).
inline constexpr uint8_t kVersionFoxProFirst = 0x30;  // Visual FoxPro
inline constexpr uint8_t kVersionFoxProLast = 0x32;   // Visual FoxPro, autoincrement
inline constexpr uint8_t kVersionFoxProMemo = 0xF5;   // FoxPro 2 with memo

// Bytes 1 to 3: date of the last update as year - 1900, month, day.
inline constexpr size_t kDateOffset = 1;
inline constexpr int kDateBaseYear = 1900;

// Bytes 4 to 7: number of records in the file, deleted ones included (uint32).
inline constexpr size_t kRecordCountOffset = 4;
// Bytes 8 and 9: length of the header, descriptors and terminator included;
// the first record starts here (uint16).
inline constexpr size_t kHeaderLengthOffset = 8;
// Bytes 10 and 11: length of one record, deletion flag included (uint16).
inline constexpr size_t kRecordLengthOffset = 10;
inline constexpr size_t kMaxRecordLength = 0xFFFF;
inline constexpr size_t kMaxHeaderLength = 0xFFFF;

// Byte 29: the language driver, i.e. the code page of the text. 0x03 is
// Windows-1252 ("ANSI"); it is the one mark every reader we checked decodes as
// Windows-1252 (0x57, the other common ANSI mark, is read by some as Latin-1).
inline constexpr size_t kLanguageDriverOffset = 29;
inline constexpr uint8_t kLanguageDriverWindows1252 = 0x03;

// dBase 7 adds the language driver name (32 bytes) and 4 reserved bytes
// after the fixed header, so its descriptors start at byte 68.
inline constexpr size_t kDbase7DescriptorsOffset = 68;

// --- Field descriptors -------------------------------------------------------

// dBase III, IV and FoxPro: 32 bytes per field, starting right after the
// fixed header.
inline constexpr size_t kDescriptorSize = 32;
// Bytes 0 to 10: the field name, ASCII, NUL-terminated when shorter than 11
// bytes (so at most 10 characters, plus a NUL).
inline constexpr size_t kFieldNameSize = 11;
inline constexpr size_t kMaxFieldNameLength = 10;
// Byte 11: the field type letter ('C', 'N', 'F', 'L', 'D', 'M' ...).
inline constexpr size_t kFieldTypeOffset = 11;
// Bytes 12 to 15: field offset or memory address; written as zero, not read.
// Byte 16: the field width in bytes; byte 17: the decimal count.
inline constexpr size_t kFieldWidthOffset = 16;
inline constexpr size_t kFieldDecimalsOffset = 17;
// Bytes 18 to 31: reserved (work area, MDX flag ...); written as zero.

// dBase 7: 48 bytes per field; a name of up to 32 bytes, then type, width and
// decimals.
inline constexpr size_t kDbase7DescriptorSize = 48;
inline constexpr size_t kDbase7FieldNameSize = 32;
inline constexpr size_t kDbase7FieldTypeOffset = 32;
inline constexpr size_t kDbase7FieldWidthOffset = 33;
inline constexpr size_t kDbase7FieldDecimalsOffset = 34;

// The widest field a descriptor's one width byte can give; the table engine
// keeps dBase's own limit of 254 for what it writes.
inline constexpr size_t kMaxFieldWidth = 254;

// Ends the descriptors. A few old writers end them with a line feed instead.
inline constexpr uint8_t kHeaderTerminator = 0x0D;
inline constexpr uint8_t kHeaderTerminatorAlternative = 0x0A;

// --- Records -----------------------------------------------------------------

// Every record starts with its deletion flag, then holds the fields in
// descriptor order, each exactly its width, with no separators.
inline constexpr size_t kDeletionFlagSize = 1;
inline constexpr char kLiveRecord = ' ';
inline constexpr char kDeletedRecord = '*';

// Follows the last record. Optional when reading: some writers leave it out.
inline constexpr uint8_t kEndOfFile = 0x1A;

// --- Field shapes the engine writes -------------------------------------------

// Numeric 'N' field for integers: 11 characters hold any 32-bit value with its
// sign ("-2147483648").
inline constexpr uint8_t kIntegerWidth = 11;
// Floating 'F' field: 19 characters with 4 decimals, within the 19 digits that
// the strictest readers accept for a numeric field (dBase itself allows 20).
inline constexpr uint8_t kFloatWidth = 19;
inline constexpr uint8_t kFloatDecimals = 4;
// Logical 'L' field: one byte, 'T' or 'F'; blank when never set.
inline constexpr uint8_t kLogicalWidth = 1;

// --- Binary numeric fields of other writers -------------------------------------

// dBase 7 'I' (long, 4 bytes) and '+' (autoincrement, 4 bytes) are big-endian
// with the sign bit flipped; 'O' (double, 8 bytes) is a big-endian IEEE double
// with the sign bit flipped for positive values and all bits inverted for
// negative ones, so that the bytes sort as the numbers do. Visual FoxPro 'I'
// (4 bytes) and 'B' (8 bytes) are plain little-endian. The parser turns these
// into text fields of the widths below.
inline constexpr uint8_t kBinaryIntegerSize = 4;
inline constexpr uint8_t kBinaryDoubleSize = 8;
inline constexpr uint8_t kBinaryIntegerTextWidth = 11;  // "-2147483648"
inline constexpr uint8_t kBinaryDoubleTextWidth = 24;   // "-2.2250738585072014e-308"

}  // namespace tvs::dbf
