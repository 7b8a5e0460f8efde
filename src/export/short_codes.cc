#include "export/short_codes.h"

#include "export/sauce_lists.h"
#include "platform/codepage.h"

namespace tvs {
namespace {

std::string Key(std::string_view code) {
  size_t e = code.size();
  while (e > 0 && code[e - 1] == ' ') --e;
  return FoldWindows1252(code.substr(0, e));
}

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
    for (unsigned long k = 1;; ++k) {
      std::string numbered = code + std::to_string(k);
      if (!list.Contains(numbered) && !list.Contains(Shortened(numbered))) {
        code = std::move(numbered);
        break;
      }
    }
  }
  if (options.add_before_shortening) list.Add(code);
  code = Shortened(code);
  list.Add(code);
  return code;
}

}  // namespace tvs
