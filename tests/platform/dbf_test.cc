#include "platform/dbf.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <bit>
#include <clocale>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <functional>
#include <string>
#include <vector>

#include "platform/codepage.h"
#include "platform/dbf_format.h"
#include "platform/error.h"

namespace tvs {
namespace {

namespace fs = std::filesystem;

// --- Helpers -------------------------------------------------------------------

class TempDir {
 public:
  TempDir() {
    std::string pattern = (fs::temp_directory_path() / "tvs-dbf-XXXXXX").string();
    path_ = mkdtemp(pattern.data());
  }
  ~TempDir() { fs::remove_all(path_); }
  std::string File(const std::string& name) const { return (fs::path(path_) / name).string(); }

 private:
  std::string path_;
};

void WriteBytes(const std::string& path, const std::string& bytes) {
  std::ofstream(path, std::ios::binary) << bytes;
}

std::string ReadBytes(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

struct RunResult {
  int status = -1;
  std::string output;  // stdout and stderr together
};

RunResult RunCommand(const std::string& command) {
  RunResult r;
  FILE* p = popen((command + " 2>&1").c_str(), "r");
  if (!p) return r;
  char buffer[4096];
  size_t n;
  while ((n = fread(buffer, 1, sizeof buffer, p)) > 0) r.output.append(buffer, n);
  const int status = pclose(p);
  r.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  return r;
}

constexpr const char* kPython = "/usr/bin/python3";

bool PythonHas(const std::string& module) {
  return RunCommand(std::string(kPython) + " -c 'import " + module + "'").status == 0;
}

// Runs a Python script (saved in `dir`) with the given arguments.
RunResult RunPython(const TempDir& dir, const std::string& script, const std::string& args) {
  const std::string file = dir.File("peer.py");
  WriteBytes(file, script);
  return RunCommand("PYTHONIOENCODING=utf-8 " + std::string(kPython) + " " + file + " " + args);
}

void PutU16(std::string& b, size_t at, unsigned v) {
  b[at] = static_cast<char>(v & 0xFF);
  b[at + 1] = static_cast<char>(v >> 8 & 0xFF);
}

void PutU32(std::string& b, size_t at, unsigned v) {
  for (int i = 0; i < 4; ++i) b[at + i] = static_cast<char>(v >> (8 * i) & 0xFF);
}

unsigned GetU16(const std::string& b, size_t at) {
  return static_cast<uint8_t>(b[at]) | static_cast<uint8_t>(b[at + 1]) << 8;
}

unsigned GetU32(const std::string& b, size_t at) {
  unsigned v = 0;
  for (int i = 0; i < 4; ++i) v |= static_cast<unsigned>(static_cast<uint8_t>(b[at + i])) << (8 * i);
  return v;
}

// Four fields, one of each type the working tables use; two records.
DbfTable Sample() {
  DbfTable t("MUESTRA", {CharField("NOMBRE", 8), LogicalField("ACTIVO"), IntegerField("CANTIDAD"),
                         FloatField("HORAS")});
  t.Append();
  t.SetText("NOMBRE", "Ana");
  t.SetLogical("ACTIVO", true);
  t.SetInteger("CANTIDAD", 42);
  t.SetNumber("HORAS", 2.5);
  t.Append();
  t.SetText("NOMBRE", "Bernardo Ruiz");
  return t;
}

// Byte offsets in the sample's file.
constexpr size_t kSampleHeaderLength = 32 + 4 * 32 + 1;  // 161
constexpr size_t kSampleRecordLength = 1 + 8 + 1 + 11 + 19;  // 40

std::vector<std::vector<std::string>> Dump(const DbfTable& t) {
  std::vector<std::vector<std::string>> rows;
  for (size_t r = 0; r < t.RecordCount(); ++r) {
    rows.emplace_back();
    for (size_t f = 0; f < t.fields().size(); ++f) rows.back().emplace_back(t.Text(r, f));
  }
  return rows;
}

// A one-field character table holding `text` in its one record.
DbfTable OneValue(const std::string& text, DbfField field = CharField("VALOR", 12)) {
  DbfTable t("T", {field});
  t.Append();
  t.SetText(field.name, text);
  return t;
}

// --- Writing -----------------------------------------------------------------------

TEST(DbfEncodeTest, WritesDbase3HeaderDescriptorsRecordsAndEndMark) {
  const std::string b = EncodeDbf(Sample());
  ASSERT_EQ(b.size(), kSampleHeaderLength + 2 * kSampleRecordLength + 1);
  EXPECT_EQ(static_cast<uint8_t>(b[0]), 0x03);
  EXPECT_EQ(GetU32(b, 4), 2u);
  EXPECT_EQ(GetU16(b, 8), kSampleHeaderLength);
  EXPECT_EQ(GetU16(b, 10), kSampleRecordLength);
  EXPECT_EQ(static_cast<uint8_t>(b[29]), 0x03) << "language driver: Windows-1252";
  for (size_t i : {12, 13, 20, 28, 30, 31}) EXPECT_EQ(b[i], '\0') << "header byte " << i;

  struct Descriptor {
    std::string name;  // 11 bytes, NUL-padded
    char type;
    int width, decimals;
  };
  const Descriptor want[] = {{std::string("NOMBRE\0\0\0\0\0", 11), 'C', 8, 0},
                             {std::string("ACTIVO\0\0\0\0\0", 11), 'L', 1, 0},
                             {std::string("CANTIDAD\0\0\0", 11), 'N', 11, 0},
                             {std::string("HORAS\0\0\0\0\0\0", 11), 'F', 19, 4}};
  for (size_t i = 0; i < 4; ++i) {
    SCOPED_TRACE(i);
    const std::string d = b.substr(32 + 32 * i, 32);
    EXPECT_EQ(d.substr(0, 11), want[i].name);
    EXPECT_EQ(d[11], want[i].type);
    EXPECT_EQ(d.substr(12, 4), std::string(4, '\0'));
    EXPECT_EQ(static_cast<uint8_t>(d[16]), want[i].width);
    EXPECT_EQ(static_cast<uint8_t>(d[17]), want[i].decimals);
    EXPECT_EQ(d.substr(18), std::string(14, '\0'));
  }
  EXPECT_EQ(b[kSampleHeaderLength - 1], '\x0D');
  EXPECT_EQ(b.substr(kSampleHeaderLength, kSampleRecordLength),
            std::string(" ") + "Ana     " + "T" + "         42" + "             2.5000");
  EXPECT_EQ(b.substr(kSampleHeaderLength + kSampleRecordLength, kSampleRecordLength),
            std::string(" ") + "Bernardo" + std::string(1 + 11 + 19, ' '))
      << "text cut to the width, fields never set stay blank";
  EXPECT_EQ(b.back(), '\x1A');
}

TEST(DbfEncodeTest, HeaderCarriesTodaysDate) {
  const std::time_t now = std::time(nullptr);
  std::tm today{};
  localtime_r(&now, &today);
  const std::string b = EncodeDbf(Sample());
  EXPECT_EQ(static_cast<uint8_t>(b[1]), today.tm_year);
  EXPECT_EQ(static_cast<uint8_t>(b[2]), today.tm_mon + 1);
  EXPECT_EQ(static_cast<uint8_t>(b[3]), today.tm_mday);
}

TEST(DbfEncodeTest, EmptyTableHasHeaderAndEndMarkOnly) {
  const std::string b = EncodeDbf(DbfTable("VACIA", {CharField("COD", 10)}));
  EXPECT_EQ(b.size(), 32u + 32 + 1 + 1);
  EXPECT_EQ(GetU32(b, 4), 0u);
  EXPECT_EQ(b.back(), '\x1A');
  EXPECT_EQ(ParseDbf(b, "VACIA").RecordCount(), 0u);
}

TEST(DbfEncodeTest, RefusesWhatNoDbaseFileCanHold) {
  const DbfTable cases[] = {DbfTable("T", {}), DbfTable("T", {CharField("NOMBREMUYLARGO", 5)}),
                            DbfTable("T", {CharField("", 5)}), DbfTable("T", {CharField("COD", 0)})};
  for (const DbfTable& t : cases) EXPECT_THROW(EncodeDbf(t), Error);
}

TEST(DbfTableTest, SettersFollowTheFieldWidthRuleAndAlignNumbers) {
  struct Case {
    DbfField field;
    std::function<void(DbfTable&)> set;
    std::string stored;  // the field's bytes
  };
  const Case cases[] = {
      {CharField("C", 5), [](DbfTable& t) { t.SetText("C", "abc"); }, "abc  "},
      {CharField("C", 5), [](DbfTable& t) { t.SetText("C", "abcdefgh"); }, "abcde"},
      {CharField("C", 5), [](DbfTable& t) { t.SetText("C", "  ab"); }, "  ab "},
      {CharField("C", 3), [](DbfTable& t) { t.SetText("C", ""); }, "   "},
      {CharField("C", 3), [](DbfTable& t) { t.SetInteger("C", 7); }, "7  "},
      {LogicalField("L"), [](DbfTable& t) { t.SetLogical("L", true); }, "T"},
      {LogicalField("L"), [](DbfTable& t) { t.SetLogical("L", false); }, "F"},
      {IntegerField("N"), [](DbfTable& t) { t.SetInteger("N", 42); }, "         42"},
      {IntegerField("N"), [](DbfTable& t) { t.SetInteger("N", -2147483648LL); }, "-2147483648"},
      {IntegerField("N"), [](DbfTable& t) { t.SetText("N", "17"); }, "         17"},
      {IntegerField("N"), [](DbfTable& t) { t.SetNumber("N", 3.0); }, "          3"},
      {FloatField("F"), [](DbfTable& t) { t.SetNumber("F", 2.5); }, "             2.5000"},
      {FloatField("F"), [](DbfTable& t) { t.SetNumber("F", -1234.56789); }, "         -1234.5679"},
      {FloatField("F"), [](DbfTable& t) { t.SetNumber("F", -0.00001); }, "             0.0000"},
      {FloatField("F"), [](DbfTable& t) { t.SetNumber("F", 12345678901234.0); }, "12345678901234.0000"},
      {FloatField("F"), [](DbfTable& t) { t.SetInteger("F", 3); }, "                  3"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.stored);
    DbfTable t("T", {c.field});
    t.Append();
    c.set(t);
    EXPECT_EQ(t.RecordBytes(), " " + c.stored);
  }
}

TEST(DbfTableTest, SetNumberIsNotSwayedByTheProcessLocale) {
  // The window program sets the user's locale, where the decimal mark may be a comma.
  const char* old = std::setlocale(LC_NUMERIC, nullptr);
  const std::string saved = old ? old : "C";
  TempDir dir;
  if (!std::setlocale(LC_NUMERIC, "es_ES.UTF-8")) {
    // Not installed: compile it from the locale sources into a folder of our own.
    RunCommand("localedef -i es_ES -f UTF-8 " + dir.File("es_ES.UTF-8"));
    setenv("LOCPATH", dir.File("").c_str(), 1);
    const bool ok = std::setlocale(LC_NUMERIC, "es_ES.UTF-8") != nullptr;
    unsetenv("LOCPATH");
    if (!ok) GTEST_SKIP() << "no locale with a decimal comma available";
  }
  char probe[16];
  std::snprintf(probe, sizeof probe, "%.1f", 0.5);
  ASSERT_STREQ(probe, "0,5") << "the locale writes a decimal comma";
  DbfTable t = OneValue("", FloatField("F"));
  t.SetNumber("F", 2.25);
  const std::string text(t.Text(0, 0));
  const double back = t.Number(0, 0);
  std::setlocale(LC_NUMERIC, saved.c_str());
  EXPECT_EQ(text, "             2.2500");
  EXPECT_EQ(back, 2.25);
}

TEST(DbfTableTest, NumbersThatDoNotFitAreRefusedNotCut) {
  DbfTable t("T", {IntegerField("N"), FloatField("F"), CharField("C", 2)});
  t.Append();
  EXPECT_THROW(t.SetInteger("N", 123456789012LL), Error);
  EXPECT_THROW(t.SetNumber("F", 1e15), Error);
  EXPECT_THROW(t.SetNumber("F", std::nan("")), Error);
  EXPECT_THROW(t.SetNumber("F", INFINITY), Error);
  EXPECT_THROW(t.SetInteger("C", 100), Error);
  EXPECT_EQ(t.RecordBytes(), std::string(1 + 11 + 19 + 2, ' ')) << "nothing written";
}

TEST(DbfTableTest, FieldsAreFoundByNameIgnoringCase) {
  const DbfTable t = Sample();
  EXPECT_EQ(t.FindField("NOMBRE"), 0);
  EXPECT_EQ(t.FindField("cantidad"), 2);
  EXPECT_EQ(t.FindField("Horas"), 3);
  EXPECT_EQ(t.FindField("HORA"), -1);
  EXPECT_EQ(t.FieldIndex("activo"), 1u);
  try {
    t.FieldIndex("DNI");
    FAIL() << "no error";
  } catch (const Error& e) {
    EXPECT_STREQ(e.what(), "La tabla MUESTRA no tiene el campo DNI");
  }
}

TEST(DbfTableTest, SettersNeedAnAppendedRecordAndAKnownField) {
  DbfTable t("T", {CharField("C", 3)});
  EXPECT_THROW(t.SetText("C", "x"), Error);
  t.Append();
  EXPECT_THROW(t.SetText("D", "x"), Error);
  EXPECT_THROW(t.SetInteger("D", 1), Error);
  t.SetText("c", "x");
  EXPECT_EQ(t.Text(0, 0), "x");
}

TEST(DbfTableTest, SetTextByPositionEditsAnyRecord) {
  DbfTable t = Sample();
  t.SetText(0, 0, "Zoe");
  t.SetText(1, 2, "5");
  EXPECT_EQ(t.Text(0, 0), "Zoe");
  EXPECT_EQ(t.Integer(1, 2), 5);
  EXPECT_EQ(t.Text(1, 0), "Bernardo");
}

TEST(DbfTableTest, TextDropsTrailingBlanksAndNulsKeepsLeadingOnes) {
  const std::pair<std::string, std::string> cases[] = {
      {"abc", "abc"}, {"  abc", "  abc"}, {std::string("ab\0\0", 4), "ab"},
      {std::string("a b \0 ", 6), "a b"}, {"", ""}, {"\xD1" "and\xFA", "\xD1" "and\xFA"}};
  for (const auto& [stored, want] : cases) {
    SCOPED_TRACE(stored);
    EXPECT_EQ(OneValue(stored).Text(0, 0), want);
  }
}

TEST(DbfTableTest, IntegerRoundsToNearestAndReadsBlankAsZero) {
  const std::pair<std::string, long long> cases[] = {
      {"3", 3},           {"   3", 3},     {"-17", -17},   {"+4", 4},      {"2.5", 3},
      {"-2.5", -3},       {"2.4999", 2},   {"0.5", 1},     {"3.0000", 3},  {"1e2", 100},
      {"", 0},            {"    ", 0},     {"-0", 0},      {".5", 1},
      {"9223372036854775807", 9223372036854775807LL},
  };
  for (const auto& [stored, want] : cases) {
    SCOPED_TRACE(stored);
    EXPECT_EQ(OneValue(stored, CharField("VALOR", 20)).Integer(0, 0), want);
  }
}

TEST(DbfTableTest, NumberReadsDecimalsAndBlankAsZero) {
  const std::pair<std::string, double> cases[] = {
      {"2.5000", 2.5}, {"  -1234.5678", -1234.5678}, {"7", 7}, {"", 0}, {"1.5E3", 1500}, {"-.25", -0.25}};
  for (const auto& [stored, want] : cases) {
    SCOPED_TRACE(stored);
    EXPECT_DOUBLE_EQ(OneValue(stored).Number(0, 0), want);
  }
}

TEST(DbfTableTest, GarbageInANumberNamesTableFieldRecordAndText) {
  const std::string cases[] = {"abc", "1,5", "12a", "*****", "nan", "inf", "-", ".", "1e", "1 2", "\xC1" "1"};
  for (const std::string& stored : cases) {
    SCOPED_TRACE(stored);
    DbfTable t("SOLUC", {CharField("PROF", 4), CharField("DIA", 6)});
    t.Append();
    t.Append();
    t.SetText("DIA", stored);
    const std::string want = "La tabla SOLUC, campo DIA, registro 2: «" + FromWindows1252(stored) + "» no es un número";
    for (const auto& read : std::vector<std::function<void()>>{[&] { t.Integer(1, 1); }, [&] { t.Number(1, 1); }}) {
      try {
        read();
        ADD_FAILURE() << "no error";
      } catch (const Error& e) {
        EXPECT_EQ(e.what(), want);
      }
    }
  }
  EXPECT_THROW(OneValue("99999999999999999999", CharField("VALOR", 20)).Integer(0, 0), Error) << "beyond 64 bits";
}

TEST(DbfTableTest, LogicalReadsTrueMarks) {
  const std::pair<std::string, bool> cases[] = {{"T", true}, {"t", true}, {"Y", true}, {"y", true},
                                                {"F", false}, {"N", false}, {"?", false}, {"", false}};
  for (const auto& [stored, want] : cases) {
    SCOPED_TRACE(stored);
    EXPECT_EQ(OneValue(stored, LogicalField("L")).Logical(0, 0), want);
  }
}

// --- Reading ---------------------------------------------------------------------------

TEST(DbfParseTest, RoundTripIsByteForByte) {
  const std::string first = EncodeDbf(Sample());
  const DbfTable parsed = ParseDbf(first, "MUESTRA");
  EXPECT_EQ(parsed.name(), "MUESTRA");
  ASSERT_EQ(parsed.fields().size(), 4u);
  EXPECT_EQ(parsed.fields()[3].name, "HORAS");
  EXPECT_EQ(parsed.fields()[3].type, DbfType::kFloat);
  EXPECT_EQ(parsed.fields()[3].width, 19);
  EXPECT_EQ(parsed.fields()[3].decimals, 4);
  EXPECT_EQ(EncodeDbf(parsed), first);
  EXPECT_EQ(parsed.Integer(0, 2), 42);
  EXPECT_EQ(parsed.Number(0, 3), 2.5);
  EXPECT_TRUE(parsed.Logical(0, 1));
  EXPECT_EQ(parsed.Integer(1, 2), 0);
}

TEST(DbfParseTest, SkipsDeletedRecords) {
  DbfTable t = Sample();
  t.Append();
  t.SetText("NOMBRE", "Carla");
  std::string b = EncodeDbf(t);
  b[kSampleHeaderLength + kSampleRecordLength] = '*';  // the second record
  const DbfTable parsed = ParseDbf(b, "MUESTRA");
  ASSERT_EQ(parsed.RecordCount(), 2u);
  EXPECT_EQ(parsed.Text(0, 0), "Ana");
  EXPECT_EQ(parsed.Text(1, 0), "Carla");
  b[kSampleHeaderLength] = '*';
  b[kSampleHeaderLength + 2 * kSampleRecordLength] = '*';
  EXPECT_EQ(ParseDbf(b, "MUESTRA").RecordCount(), 0u);
}

// What other writers do differently, and what the parser takes as it comes.
TEST(DbfParseTest, ToleratesOtherWritersVariations) {
  const auto want = Dump(Sample());
  struct Case {
    const char* what;
    std::function<void(std::string&)> change;
  };
  const Case cases[] = {
      {"no end-of-file byte", [](std::string& b) { b.pop_back(); }},
      {"line feed ends the descriptors", [](std::string& b) { b[kSampleHeaderLength - 1] = '\x0A'; }},
      {"garbage after the NUL of a name", [](std::string& b) { b.replace(32 + 7, 4, "XY\x01Z"); }},
      {"padding after the descriptors (FoxPro backlink)",
       [](std::string& b) {
         b.insert(kSampleHeaderLength, 263, '\0');
         PutU16(b, 8, kSampleHeaderLength + 263);
       }},
      {"records longer than their fields",
       [](std::string& b) {
         for (int r = 1; r >= 0; --r) b.insert(kSampleHeaderLength + (r + 1) * kSampleRecordLength, "pad");
         PutU16(b, 10, kSampleRecordLength + 3);
       }},
      {"a live flag other than a blank", [](std::string& b) { b[kSampleHeaderLength] = '\0'; }},
      {"records after the counted ones",
       [](std::string& b) { b.insert(b.size() - 1, b.substr(kSampleHeaderLength, kSampleRecordLength)); }},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    std::string b = EncodeDbf(Sample());
    c.change(b);
    const DbfTable parsed = ParseDbf(b, "MUESTRA");
    EXPECT_EQ(Dump(parsed), want);
    EXPECT_EQ(parsed.fields()[0].name, "NOMBRE");
    EXPECT_EQ(EncodeDbf(parsed).substr(kSampleHeaderLength), EncodeDbf(Sample()).substr(kSampleHeaderLength))
        << "records come out clean";
  }

  std::string fewer = EncodeDbf(Sample());
  PutU32(fewer, 4, 1);
  EXPECT_EQ(ParseDbf(fewer, "MUESTRA").RecordCount(), 1u) << "a header counting fewer records is believed";
}

TEST(DbfParseTest, AcceptsDbase3And4AndFoxProVersionBytes) {
  const auto want = Dump(Sample());
  for (const int version : {0x02, 0x03, 0x04, 0x30, 0x31, 0x32, 0x43, 0x63, 0x83, 0x8B, 0x8E, 0xCB, 0xF5, 0xFB}) {
    SCOPED_TRACE(version);
    std::string b = EncodeDbf(Sample());
    b[0] = static_cast<char>(version);
    EXPECT_EQ(Dump(ParseDbf(b, "MUESTRA")), want);
  }
}

// Each damaged file names the table and its fault, and nothing is read beyond the bytes.
TEST(DbfParseTest, DamagedFilesNameTheTableAndTheFault) {
  const std::string good = EncodeDbf(Sample());
  struct Case {
    const char* what;
    std::function<void(std::string&)> damage;
    std::string message;
  };
  const Case cases[] = {
      {"empty file", [](std::string& b) { b.clear(); },
       "la cabecera está incompleta: el archivo solo tiene 0 bytes y la cabecera mide 32"},
      {"truncated header", [](std::string& b) { b.resize(20); },
       "la cabecera está incompleta: el archivo solo tiene 20 bytes"},
      {"truncated descriptors", [](std::string& b) { b.resize(32 + 32 + 10); },
       "los descriptores de campo están incompletos: el descriptor 2 queda cortado"},
      {"no terminator before the end", [](std::string& b) { b.resize(32 + 64); },
       "los descriptores de campo están incompletos: el archivo termina en el byte 96"},
      {"header length beyond the file", [](std::string& b) { PutU16(b, 8, 5000); },
       "la longitud de cabecera 5000 excede el tamaño del archivo (242 bytes)"},
      {"header length inside the descriptors", [](std::string& b) { PutU16(b, 8, 64); },
       "la longitud de cabecera 64 no alcanza al final de los descriptores de campo, en el byte 161"},
      {"record count lie", [](std::string& b) { PutU32(b, 4, 3); },
       "la cabecera dice 3 registros pero el archivo solo contiene 2"},
      {"huge record count", [](std::string& b) { PutU32(b, 4, 0xFFFFFFFF); },
       "la cabecera dice 4294967295 registros pero el archivo solo contiene 2"},
      {"record length lie", [](std::string& b) { PutU16(b, 10, 30); },
       "la longitud de registro 30 no coincide con los campos, que ocupan 40 bytes con la marca de borrado"},
      {"record length zero", [](std::string& b) { PutU16(b, 10, 0); },
       "la longitud de registro 0 no coincide con los campos"},
      {"record length too long for the records", [](std::string& b) { PutU16(b, 10, 50); },
       "la cabecera dice 2 registros pero el archivo solo contiene 1"},
      {"last record cut short", [](std::string& b) { b.resize(b.size() - 5); },
       "la cabecera dice 2 registros pero el archivo solo contiene 1"},
      {"zero fields", [](std::string& b) { b[32] = '\x0D'; }, "no tiene ningún campo"},
      {"field of width 0", [](std::string& b) { b[32 + 16] = '\0'; }, "el campo NOMBRE tiene anchura 0"},
      {"field without a name", [](std::string& b) { b[64] = '\0'; }, "el descriptor de campo 2 no tiene nombre"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    std::string b = good;
    c.damage(b);
    try {
      ParseDbf(b, "MUESTRA");
      ADD_FAILURE() << "no error";
    } catch (const Error& e) {
      EXPECT_EQ(std::string(e.what()).find("La tabla MUESTRA está dañada: " + c.message), 0u) << e.what();
    }
  }
}

TEST(DbfParseTest, EveryCutOfAFileIsAFaultNotACrash) {
  const std::string good = EncodeDbf(Sample());
  for (size_t n = 0; n + 1 < good.size(); ++n) {
    SCOPED_TRACE(n);
    // A copy of exactly n bytes, so that a read past the end is a read past the buffer.
    const std::string cut = good.substr(0, n);
    EXPECT_THROW(ParseDbf(cut, "MUESTRA"), Error);
  }
  EXPECT_EQ(ParseDbf(good.substr(0, good.size() - 1), "MUESTRA").RecordCount(), 2u);
}

TEST(DbfParseTest, DamagedHeaderBytesGiveAFaultOrAConsistentTable) {
  const std::string good = EncodeDbf(Sample());
  for (size_t at = 0; at < kSampleHeaderLength; ++at) {
    for (const char value : {'\0', '\x0D', ' ', '\x7F', '\xFF'}) {
      std::string b = good;
      b[at] = value;
      try {
        const DbfTable t = ParseDbf(b, "MUESTRA");
        ASSERT_EQ(t.RecordBytes().size(), t.RecordCount() * t.RecordLength()) << at;
        for (size_t f = 0; f < t.fields().size(); ++f)
          ASSERT_LE(t.FieldOffsets()[f] + t.fields()[f].width, t.RecordLength()) << at;
        ASSERT_LE(t.RecordBytes().size(), b.size()) << at;
      } catch (const Error&) {
      }
    }
  }
}

// A dBase 7 table (version 0x04): a 68-byte header, 48-byte descriptors and
// binary numbers, built here byte by byte.
TEST(DbfParseTest, ReadsDbase7LayoutAndBinaryNumbers) {
  auto big_endian = [](uint64_t v, int n) {
    std::string s;
    for (int i = n - 1; i >= 0; --i) s += static_cast<char>(v >> (8 * i) & 0xFF);
    return s;
  };
  auto sortable_double = [&](double d) {
    const uint64_t bits = std::bit_cast<uint64_t>(d);
    return big_endian(d >= 0 ? bits ^ 0x8000000000000000ull : ~bits, 8);
  };
  auto long_value = [&](int32_t v) { return big_endian(static_cast<uint32_t>(v) ^ 0x80000000u, 4); };
  struct Field {
    std::string name;
    char type;
    int width;
  };
  const Field fields[] = {{"PROFESOR_TITULAR", 'C', 4}, {"DIA", 'I', 4}, {"HORA", 'O', 8}};
  std::string b(68, '\0');
  b[0] = '\x04';
  PutU32(b, 4, 3);
  PutU16(b, 8, 68 + 3 * 48 + 1);
  PutU16(b, 10, 1 + 4 + 4 + 8);
  b[29] = '\x03';
  for (const Field& f : fields) {
    std::string d(48, '\0');
    d.replace(0, f.name.size(), f.name);
    d[32] = f.type;
    d[33] = static_cast<char>(f.width);
    b += d;
  }
  b += '\x0D';
  b += " P1  " + long_value(3) + sortable_double(2.0);
  b += "*P2  " + long_value(9) + sortable_double(9.0);
  b += " P3  " + long_value(-1) + sortable_double(-2.5);
  b += '\x1A';

  const DbfTable t = ParseDbf(b, "SOLUC");
  ASSERT_EQ(t.RecordCount(), 2u);
  EXPECT_EQ(t.FieldIndex("profesor_titular"), 0u);
  const size_t dia = t.FieldIndex("DIA"), hora = t.FieldIndex("HORA");
  EXPECT_EQ(t.Text(0, 0), "P1");
  EXPECT_EQ(t.Integer(0, dia), 3);
  EXPECT_EQ(t.Integer(0, hora), 2);
  EXPECT_EQ(t.Number(0, hora), 2.0);
  EXPECT_EQ(t.Integer(1, dia), -1);
  EXPECT_EQ(t.Number(1, hora), -2.5);
  EXPECT_EQ(t.Integer(1, hora), -3);
}

TEST(DbfParseTest, ParsesAMillionRecordsSkippingTheDeletedOne) {
  DbfTable t("SOLUC", {CharField("ASIG", 4), CharField("PROF", 4), CharField("CODGRUPO", 4),
                       CharField("AULA", 4), CharField("TAREA", 4), FloatField("DIA"), FloatField("HORA"),
                       CharField("MARCO", 1)});
  t.Append();
  t.SetText("ASIG", "MAT");
  t.SetText("PROF", "P01");
  t.SetNumber("DIA", 3);
  t.SetNumber("HORA", 4);
  const std::string record = t.RecordBytes();
  std::string& all = t.MutableRecordBytes();
  constexpr size_t kCount = 1'000'000;
  all.clear();
  all.reserve(kCount * record.size());
  for (size_t i = 0; i < kCount; ++i) all += record;
  std::string b = EncodeDbf(t);
  b[GetU16(b, 8) + 5 * t.RecordLength()] = '*';  // one deleted record

  const DbfTable parsed = ParseDbf(b, "SOLUC");
  ASSERT_EQ(parsed.RecordCount(), kCount - 1);
  EXPECT_EQ(parsed.Integer(kCount - 2, parsed.FieldIndex("DIA")), 3);
  EXPECT_EQ(parsed.Text(kCount - 2, 1), "P01");
}

// --- Independent peers -----------------------------------------------------------------

// dbfread reads what we write, guessing the code page from the header alone.
TEST(DbfPeerTest, DbfreadReadsOurTable) {
  if (!PythonHas("dbfread")) GTEST_SKIP() << kPython << " lacks dbfread";
  TempDir dir;
  DbfTable t("PEER", {CharField("NOMBRE", 12), LogicalField("ACTIVO"), IntegerField("CANTIDAD"),
                      FloatField("HORAS")});
  t.Append();
  t.SetText("NOMBRE", ToWindows1252("Ñandú €"));
  t.SetLogical("ACTIVO", true);
  t.SetInteger("CANTIDAD", 42);
  t.SetNumber("HORAS", 2.5);
  t.Append();
  t.SetText("NOMBRE", ToWindows1252("  Öl über alles"));
  t.SetLogical("ACTIVO", false);
  t.SetInteger("CANTIDAD", -2147483648LL);
  t.SetNumber("HORAS", -1234.5678);
  t.Append();  // all blank
  WriteBytes(dir.File("PEER.DBF"), EncodeDbf(t));

  const RunResult r = RunPython(dir, R"(import dbfread, json, sys
t = dbfread.DBF(sys.argv[1])
print(json.dumps({"encoding": t.encoding,
                  "fields": [[f.name, f.type, f.length, f.decimal_count] for f in t.fields],
                  "records": [list(r.values()) for r in t]}, ensure_ascii=False))
)", dir.File("PEER.DBF"));
  ASSERT_EQ(r.status, 0) << r.output;
  EXPECT_EQ(r.output,
            "{\"encoding\": \"cp1252\", "
            "\"fields\": [[\"NOMBRE\", \"C\", 12, 0], [\"ACTIVO\", \"L\", 1, 0], [\"CANTIDAD\", \"N\", 11, 0], "
            "[\"HORAS\", \"F\", 19, 4]], "
            "\"records\": [[\"Ñandú €\", true, 42, 2.5], [\"  Öl über al\", false, -2147483648, -1234.5678], "
            "[\"\", null, null, null]]}\n");
}

// python-dbf writes a table the way another program would: a deleted record,
// numbers with decimals, a blank number, a field named in lower case.
TEST(DbfPeerTest, ReadsATableWrittenByPythonDbf) {
  if (!PythonHas("dbf")) GTEST_SKIP() << kPython << " lacks dbf";
  TempDir dir;
  const std::string path = dir.File("otro.dbf");
  const RunResult r = RunPython(dir, R"(import dbf, sys
path = sys.argv[1]
t = dbf.Table(path, 'nombre C(12); cantidad N(6,0); precio N(9,2); activo L', codepage='cp1252', dbf_type='db3')
t.open(dbf.READ_WRITE)
for row in [('Ñandú', 12, 3.25, True), ('borrado', 1, 0, False), ('Último', -7, None, False)]:
    t.append(row)
dbf.delete(t[1])
t.close()
# python-dbf upper-cases names; other programs keep what they were given.
b = bytearray(open(path, 'rb').read())
i = b.index(b'CANTIDAD')
b[i:i + 8] = b'cantidad'
open(path, 'wb').write(bytes(b))
)", path);
  ASSERT_EQ(r.status, 0) << r.output;
  ASSERT_EQ(static_cast<uint8_t>(ReadBytes(path)[29]), 0x03) << "the fixture is marked Windows-1252";

  const DbfTable t = ParseDbf(ReadBytes(path), "OTRO");
  ASSERT_EQ(t.RecordCount(), 2u);
  EXPECT_EQ(t.fields()[1].name, "cantidad");
  const size_t nombre = t.FieldIndex("NOMBRE"), cantidad = t.FieldIndex("CANTIDAD"),
               precio = t.FieldIndex("Precio"), activo = t.FieldIndex("ACTIVO");
  EXPECT_EQ(FromWindows1252(t.Text(0, nombre)), "Ñandú");
  EXPECT_EQ(t.Integer(0, cantidad), 12);
  EXPECT_DOUBLE_EQ(t.Number(0, precio), 3.25);
  EXPECT_EQ(t.Integer(0, precio), 3);
  EXPECT_TRUE(t.Logical(0, activo));
  EXPECT_EQ(FromWindows1252(t.Text(1, nombre)), "Último");
  EXPECT_EQ(t.Integer(1, cantidad), -7);
  EXPECT_EQ(t.Text(1, precio), "");
  EXPECT_EQ(t.Number(1, precio), 0);
  EXPECT_FALSE(t.Logical(1, activo));
}

// Visual FoxPro keeps integers, doubles and currency as binary numbers.
TEST(DbfPeerTest, ReadsFoxProBinaryNumbersWrittenByPythonDbf) {
  if (!PythonHas("dbf")) GTEST_SKIP() << kPython << " lacks dbf";
  TempDir dir;
  const std::string path = dir.File("vfp.dbf");
  const RunResult r = RunPython(dir, R"(import dbf, sys
t = dbf.Table(sys.argv[1], 'nombre C(10); entero I; doble B; dinero Y', codepage='cp1252', dbf_type='vfp')
t.open(dbf.READ_WRITE)
t.append(('uno', -42, 2.5, 12.5))
t.append(('dos', 2000000000, -0.125, -7.0625))
t.close()
)", path);
  ASSERT_EQ(r.status, 0) << r.output;
  const DbfTable t = ParseDbf(ReadBytes(path), "VFP");
  ASSERT_EQ(t.RecordCount(), 2u);
  const size_t entero = t.FieldIndex("ENTERO"), doble = t.FieldIndex("DOBLE"), dinero = t.FieldIndex("DINERO");
  EXPECT_EQ(t.Text(0, 0), "uno");
  EXPECT_EQ(t.Integer(0, entero), -42);
  EXPECT_EQ(t.Number(0, doble), 2.5);
  EXPECT_EQ(t.Number(0, dinero), 12.5);
  EXPECT_EQ(t.Text(0, dinero), std::string(24 - 7, ' ') + "12.5000");
  EXPECT_EQ(t.Integer(1, entero), 2000000000);
  EXPECT_EQ(t.Number(1, doble), -0.125);
  EXPECT_EQ(t.Number(1, dinero), -7.0625);
}

// --- Open tables and their locks --------------------------------------------------------

class OpenDbfTest : public ::testing::Test {
 protected:
  void SetUp() override { WriteBytes(path_, EncodeDbf(Sample())); }

  // The message of the error that opening throws; "" when it opens.
  std::string OpenError(OpenMode mode) {
    try {
      OpenDbf::Open(path_, mode, "MUESTRA");
      return "";
    } catch (const Error& e) {
      return e.what();
    }
  }

  TempDir dir_;
  std::string path_ = dir_.File("MUESTRA.DBF");
};

TEST_F(OpenDbfTest, ReadsTheWholeTable) {
  for (const OpenMode mode : {OpenMode::kShared, OpenMode::kExclusive}) {
    const OpenDbf t = OpenDbf::Open(path_, mode, "MUESTRA");
    EXPECT_EQ(t.table().name(), "MUESTRA");
    EXPECT_EQ(Dump(t.table()), Dump(Sample()));
  }
}

TEST_F(OpenDbfTest, LocksFollowTheirModes) {
  const std::string in_use = "La tabla MUESTRA está en uso por otro programa (" + path_ + ")";
  {
    OpenDbf exclusive = OpenDbf::Open(path_, OpenMode::kExclusive, "MUESTRA");
    EXPECT_EQ(OpenError(OpenMode::kExclusive), in_use);
    EXPECT_EQ(OpenError(OpenMode::kShared), in_use);
    exclusive.Close();
    EXPECT_EQ(OpenError(OpenMode::kExclusive), "") << "Close releases the lock";
  }
  {
    OpenDbf shared1 = OpenDbf::Open(path_, OpenMode::kShared, "MUESTRA");
    OpenDbf shared2 = OpenDbf::Open(path_, OpenMode::kShared, "MUESTRA");
    EXPECT_EQ(OpenError(OpenMode::kExclusive), in_use);
    shared1.Close();
    EXPECT_EQ(OpenError(OpenMode::kExclusive), in_use) << "one shared holder is left";
  }
  EXPECT_EQ(OpenError(OpenMode::kExclusive), "") << "destruction releases the lock";
}

TEST_F(OpenDbfTest, MovingKeepsTheLock) {
  OpenDbf held;
  held = OpenDbf::Open(path_, OpenMode::kExclusive, "MUESTRA");
  OpenDbf moved(std::move(held));
  EXPECT_NE(OpenError(OpenMode::kShared), "");
  EXPECT_EQ(moved.table().RecordCount(), 2u);
  moved = OpenDbf();
  EXPECT_EQ(OpenError(OpenMode::kExclusive), "");
}

// Another process holding a POSIX record lock is seen too.
TEST_F(OpenDbfTest, LockOfAnotherProcessIsSeen) {
  if (!PythonHas("fcntl")) GTEST_SKIP() << kPython << " missing";
  const std::string marker = dir_.File("holding");
  WriteBytes(marker, "");
  const std::string script = dir_.File("hold.py");
  WriteBytes(script, R"(import fcntl, os, sys, time
f = open(sys.argv[1], 'r+b')
fcntl.lockf(f, fcntl.LOCK_EX | fcntl.LOCK_NB)
print('locked', flush=True)
while os.path.exists(sys.argv[2]):
    time.sleep(0.01)
)");
  FILE* holder = popen((std::string(kPython) + " " + script + " " + path_ + " " + marker).c_str(), "r");
  ASSERT_NE(holder, nullptr);
  char line[16] = {};
  ASSERT_NE(fgets(line, sizeof line, holder), nullptr);
  EXPECT_STREQ(line, "locked\n");
  EXPECT_EQ(OpenError(OpenMode::kShared), "La tabla MUESTRA está en uso por otro programa (" + path_ + ")");
  fs::remove(marker);
  EXPECT_EQ(pclose(holder), 0);
  EXPECT_EQ(OpenError(OpenMode::kExclusive), "");
}

TEST_F(OpenDbfTest, MissingDamagedOrUnreadableFilesNameTheTable) {
  EXPECT_EQ([&] {
    try {
      OpenDbf::Open(dir_.File("NADA.DBF"), OpenMode::kShared, "NADA");
    } catch (const Error& e) {
      return std::string(e.what());
    }
    return std::string();
  }(), "No existe la tabla NADA (" + dir_.File("NADA.DBF") + ")");

  WriteBytes(path_, EncodeDbf(Sample()).substr(0, 100));
  EXPECT_EQ(OpenError(OpenMode::kShared).rfind("La tabla MUESTRA está dañada: ", 0), 0u);
  EXPECT_EQ(OpenError(OpenMode::kExclusive), OpenError(OpenMode::kShared)) << "and the failed open left no lock";

  fs::remove(path_);
  fs::create_directory(path_);
  EXPECT_NE(OpenError(OpenMode::kShared).find("MUESTRA"), std::string::npos);
  EXPECT_NE(OpenError(OpenMode::kExclusive).find("MUESTRA"), std::string::npos);
}

TEST_F(OpenDbfTest, ReadOnlyFileOpensShared) {
  chmod(path_.c_str(), 0444);
  EXPECT_EQ(OpenError(OpenMode::kShared), "");
  if (geteuid() != 0) {  // root may write anyway
    EXPECT_EQ(OpenError(OpenMode::kExclusive),
              "No se puede abrir la tabla MUESTRA para uso exclusivo (" + path_ + "): permiso denegado");
  }
}

}  // namespace
}  // namespace tvs
