// The table parser on arbitrary bytes: it either refuses the file with a
// message or gives a table whose every field can be read as text, integer,
// number and logical. A table it accepts and the encoder can write must come
// back from its own bytes unchanged.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "fuzz_support.h"
#include "platform/dbf.h"
#include "platform/error.h"

using tvs::fuzz::Broken;

namespace {

// Number fields of every record, and every field of the first few records
// as a number too: a text field read as a number throws, and an exception per
// field of a thousand records would slow the fuzzer tenfold for nothing new.
constexpr size_t kRecordsReadWhole = 8;

bool IsNumberField(const tvs::DbfField& f) {
  return f.type == tvs::DbfType::kNumeric || f.type == tvs::DbfType::kFloat;
}

void ReadEveryField(const tvs::DbfTable& table) {
  for (size_t r = 0; r < table.RecordCount(); ++r) {
    for (size_t f = 0; f < table.fields().size(); ++f) {
      const std::string_view text = table.Text(r, f);
      if (text.size() > table.fields()[f].width) Broken("a field text longer than its field");
      (void)table.Logical(r, f);
      if (r >= kRecordsReadWhole && !IsNumberField(table.fields()[f])) continue;
      try {
        (void)table.Integer(r, f);
      } catch (const tvs::Error& e) {
        tvs::fuzz::CheckMessage(e.what());
      }
      try {
        (void)table.Number(r, f);
      } catch (const tvs::Error& e) {
        tvs::fuzz::CheckMessage(e.what());
      }
    }
  }
}

void CheckRoundTrip(const tvs::DbfTable& table) {
  std::string encoded;
  try {
    encoded = tvs::EncodeDbf(table);
  } catch (const tvs::Error& e) {
    tvs::fuzz::CheckMessage(e.what());  // a field the engine does not write
    return;
  }
  tvs::DbfTable again("", {});
  try {
    again = tvs::ParseDbf(encoded, table.name());
  } catch (const tvs::Error& e) {
    Broken(std::string("the parser refuses what the encoder wrote: ") + e.what());
  }
  if (again.fields().size() != table.fields().size()) Broken("round trip changed the field count");
  for (size_t f = 0; f < table.fields().size(); ++f) {
    const tvs::DbfField& a = table.fields()[f];
    const tvs::DbfField& b = again.fields()[f];
    if (a.name != b.name || a.type != b.type || a.width != b.width || a.decimals != b.decimals)
      Broken("round trip changed field " + a.name);
  }
  if (again.RecordBytes() != table.RecordBytes()) Broken("round trip changed the records");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string_view bytes(reinterpret_cast<const char*>(data), size);
  try {
    const tvs::DbfTable table = tvs::ParseDbf(bytes, "FUZZ");
    if (table.RecordBytes().size() != table.RecordCount() * table.RecordLength())
      Broken("record bytes that are not whole records");
    ReadEveryField(table);
    CheckRoundTrip(table);
  } catch (const tvs::Error& e) {
    tvs::fuzz::CheckMessage(e.what());
  }
  return 0;
}
