#include "export/short_codes.h"

#include <algorithm>

#include "export/sauce_lists.h"
#include "platform/codepage.h"

namespace tvs {
namespace {

std::string Key(std::string_view code) {
  size_t e = code.size();
  while (e > 0 && code[e - 1] == ' ') --e;
  return FoldWindows1252(code.substr(0, e));
}

// Numbers tried with the 8 + 2 shortening before giving it up. The rule's
// codes for one base are few: a nine-character base has ABCDEFGHI1 to
// ABCDEFGHI9 and ABCDEFGH00 to ABCDEFGH99, all met by k = 199, and once they
// are taken no later number frees one, so numbering on would never end. For
// shorter bases the numbers from 200 on are tried, in the same order, by the
// fallback below, whose forms equal the rule's up to 10 characters; past that
// every form of the rule is a shorter number's code, already taken. So the
// fallback only ever gives a code where the rule would give none.
constexpr unsigned long kNumberingTries = 200;

std::string Shortened(const std::string& code) {
  if (code.size() <= 10) return code;
  return code.substr(0, 8) + code.substr(code.size() - 2);
}

}  // namespace

bool CodeList::Contains(std::string_view code) const { return keys_.count(Key(code)) > 0; }

void CodeList::Add(std::string_view code) { keys_.insert(Key(code)); }

std::string ShortCode(std::string_view candidate, CodeList& list,
                      const ShortCodeOptions& options) {
  std::string code(candidate.substr(0, 10));
  if (options.trim_cut) code = std::string(TrimControls(code));
  if (list.Contains(code)) {
    if (code.size() == 10) code.pop_back();
    std::string found;  // never empty once found: it ends in digits
    for (unsigned long k = 1; k <= kNumberingTries && found.empty(); ++k) {
      std::string numbered = code + std::to_string(k);
      if (!list.Contains(numbered) && !list.Contains(Shortened(numbered))) found = std::move(numbered);
    }
    // The base gives up characters to the number instead (ABCDEFG100): these
    // forms do not repeat, so this ends.
    for (unsigned long k = 1; found.empty(); ++k) {
      const std::string digits = std::to_string(k);
      std::string fitted = code.substr(0, 10 - std::min<size_t>(digits.size(), 10)) + digits;
      if (!list.Contains(fitted)) found = std::move(fitted);
    }
    code = std::move(found);
  }
  if (options.add_before_shortening) list.Add(code);
  code = Shortened(code);
  list.Add(code);
  return code;
}

}  // namespace tvs
