#include "export/short_codes.h"

#include <gtest/gtest.h>

#include <string>
#include <unordered_set>
#include <vector>

#include "platform/codepage.h"

namespace tvs {
namespace {

struct Variant {
  const char* name;
  ShortCodeOptions options;
};
const Variant kPlain{"plain", {}};
const Variant kRooms{"rooms", {.trim_cut = true}};
const Variant kGroups{"groups", {.trim_cut = true, .add_before_shortening = true}};

std::vector<std::string> Repeat(const std::string& text, size_t n) {
  return std::vector<std::string>(n, text);
}

std::vector<std::string> Concat(std::vector<std::string> a, const std::vector<std::string>& b) {
  a.insert(a.end(), b.begin(), b.end());
  return a;
}

std::vector<std::string> Numbered(const std::string& base, int from, int to) {
  std::vector<std::string> out;
  for (int k = from; k <= to; ++k) out.push_back(base + std::to_string(k));
  return out;
}

// Codes issued, one after the other, against one fresh list.
std::vector<std::string> Issue(const std::vector<std::string>& candidates,
                               const ShortCodeOptions& options) {
  CodeList list;
  std::vector<std::string> out;
  for (const auto& c : candidates) out.push_back(ShortCode(c, list, options));
  return out;
}

struct Case {
  const char* what;
  Variant variant;
  std::vector<std::string> candidates;  // Windows-1252
  std::vector<std::string> codes;
};

const std::vector<std::string> kEleven = Concat({"ABCDEFGHIJ"}, Concat(Numbered("ABCDEFGHI", 1, 9), {"ABCDEFGH10"}));

TEST(ShortCode, IssuesTheExpectedCodes) {
  const std::vector<Case> cases = {
      {"first code as it is", kPlain, {"ING"}, {"ING"}},
      {"repeats numbered, case ignored", kPlain, {"ING", "ING", "ING", "ing"}, {"ING", "ING1", "ING2", "ing3"}},
      {"cut to ten, tenth dropped before numbering", kPlain, {"MATEMATICAS", "MATEMATICAS II"},
       {"MATEMATICA", "MATEMATIC1"}},
      {"eleven alike", kPlain, Repeat("ABCDEFGHIJ", 11), kEleven},
      {"empty candidates", kPlain, {"", "", ""}, {"", "1", "2"}},
      {"teachers JPG", kPlain, {"JPG", "JPG", "JPG", "jpg"}, {"JPG", "JPG1", "JPG2", "jpg3"}},
      {"teachers cut alike", kPlain, {"ABCDEFGHIJKL", "ABCDEFGHIJXY"}, {"ABCDEFGHIJ", "ABCDEFGHI1"}},
      {"rooms LAB", kRooms, {"LAB", "LAB", "LAB", "lab"}, {"LAB", "LAB1", "LAB2", "lab3"}},
      {"rooms: blank at the end of the cut trimmed", kRooms, {"SALA USOS MULTIPLES", "SALA USOS"},
       {"SALA USOS", "SALA USOS1"}},
      {"two blanks at the end of the cut, plain", kPlain, {"ABCDEFGH  XY", "ABCDEFGH  XY"},
       {"ABCDEFGH  ", "ABCDEFGH 1"}},
      {"two blanks at the end of the cut, rooms", kRooms, {"ABCDEFGH  XY", "ABCDEFGH  XY"},
       {"ABCDEFGH", "ABCDEFGH1"}},
      {"groups 1A and 1a", kGroups, {"1A", "1a"}, {"1A", "1a1"}},
      {"groups: blank tenth character trimmed", kGroups, {"ABCDEFGHI JK"}, {"ABCDEFGHI"}},
      {"accented letters compare without case", kPlain, {"\xD1U", "\xF1u"}, {"\xD1U", "\xF1u" "1"}},
      // The twelfth of a kind skips ABCDEFGH10, already issued to the eleventh.
      {"twelve alike, plain", kPlain, Repeat("ABCDEFGHIJ", 12), Concat(kEleven, {"ABCDEFGH11"})},
      {"twelve alike, rooms", kRooms, Repeat("ABCDEFGHIJ", 12), Concat(kEleven, {"ABCDEFGH11"})},
      {"twelve alike, groups", kGroups, Repeat("ABCDEFGHIJ", 12), Concat(kEleven, {"ABCDEFGH11"})},
      // A code equal to a shortened one issued before is numbered, whichever
      // comes first.
      {"ABCDEFGH10 after the eleventh, groups", kGroups, Concat(Repeat("ABCDEFGHIJ", 11), {"ABCDEFGH10"}),
       Concat(kEleven, {"ABCDEFGH11"})},
      {"ABCDEFGH10 after the eleventh, plain", kPlain, Concat(Repeat("ABCDEFGHIJ", 11), {"ABCDEFGH10"}),
       Concat(kEleven, {"ABCDEFGH11"})},
      {"ABCDEFGH10 before the eleventh, groups", kGroups, Concat({"ABCDEFGH10"}, Repeat("ABCDEFGHIJ", 11)),
       Concat({"ABCDEFGH10", "ABCDEFGHIJ"}, Concat(Numbered("ABCDEFGHI", 1, 9), {"ABCDEFGH11"}))},
      // A blank tenth character, kept by the plain rule, reads in the table
      // as the code without it: the two must not both be issued.
      {"trailing blank kept, then without", kPlain, {"ABCDEFGHI XY", "ABCDEFGHI"}, {"ABCDEFGHI ", "ABCDEFGHI1"}},
      {"without, then trailing blank kept", kPlain, {"ABCDEFGHI", "ABCDEFGHI XY"}, {"ABCDEFGHI", "ABCDEFGHI1"}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(std::string(c.what) + " (" + c.variant.name + ")");
    EXPECT_EQ(Issue(c.candidates, c.variant.options), c.codes);
  }
}

TEST(ShortCode, EightCharacterBaseIsShortenedFromOneHundredOn) {
  // ABCDEFGH, ABCDEFGH1 ... ABCDEFGH99 (issued unchanged), then the
  // hundred-and-first ABCDEFGH gets ABCDEFGH100 shortened to ABCDEFGH00.
  for (const Variant& v : {kPlain, kGroups}) {
    SCOPED_TRACE(v.name);
    const auto codes = Issue(Repeat("ABCDEFGH", 101), v.options);
    EXPECT_EQ(codes[1], "ABCDEFGH1");
    EXPECT_EQ(codes[99], "ABCDEFGH99");
    EXPECT_EQ(codes[100], "ABCDEFGH00");
  }
}

TEST(ShortCode, ANineCharacterBaseOutOfShortenedFormsCutsTheBase) {
  // ABCDEFGHIJ, ABCDEFGHI1-9, ABCDEFGH10-99, ABCDEFGH00-09: 110 codes, then
  // every shortened form is taken and the base makes room for the number.
  for (const Variant& v : {kPlain, kGroups}) {
    SCOPED_TRACE(v.name);
    const auto codes = Issue(Repeat("ABCDEFGHIJ", 112), v.options);
    EXPECT_EQ(codes[10], "ABCDEFGH10");
    EXPECT_EQ(codes[99], "ABCDEFGH99");
    EXPECT_EQ(codes[100], "ABCDEFGH00");
    EXPECT_EQ(codes[109], "ABCDEFGH09");
    EXPECT_EQ(codes[110], "ABCDEFG100");
    EXPECT_EQ(codes[111], "ABCDEFG101");
  }
}

TEST(ShortCode, EveryCodeIssuedIsUniqueAndAtMostTenCharacters) {
  // Candidates chosen to collide: a shared ten-character stem, codes equal to
  // its shortened numbered forms, a blank tenth character, letter case.
  const std::vector<std::string> stems = {"ABCDEFGHIJ", "ABCDEFGH10", "ABCDEFGH1",  "abcdefghi1",
                                          "ABCDEFGHI ", "ABCDEFGHI",  "ABCDEFGH00", "ABCDEFGH"};
  for (const Variant& v : {kPlain, kRooms, kGroups}) {
    SCOPED_TRACE(v.name);
    CodeList list;
    std::unordered_set<std::string> seen;  // as a blank-padded field compares
    for (int round = 0; round < 120; ++round) {
      for (const auto& stem : stems) {
        const std::string code = ShortCode(stem + "XYZ", list, v.options);
        EXPECT_LE(code.size(), 10u);
        std::string key = FoldWindows1252(code);
        while (!key.empty() && key.back() == ' ') key.pop_back();
        EXPECT_TRUE(seen.insert(key).second) << "issued twice: " << code;
      }
    }
  }
}

TEST(CodeList, IgnoresLetterCaseAndTrailingBlanks) {
  CodeList list;
  list.Add("Lengua");
  EXPECT_TRUE(list.Contains("LENGUA"));
  EXPECT_TRUE(list.Contains("lengua  "));
  EXPECT_FALSE(list.Contains("LENGUA2"));
  EXPECT_FALSE(list.Contains(" LENGUA"));
}

}  // namespace
}  // namespace tvs
