#include "platform/ini_file.h"

#include <optional>
#include <vector>

#include "platform/files.h"

namespace tvs {
namespace {

constexpr std::string_view kUtf8Bom = "\xEF\xBB\xBF";
constexpr std::string_view kWindowsLineEnd = "\r\n";

struct Line {
  std::string_view text;  // without its line end
  std::string_view end;   // "\r\n", "\n", or "" for a last line without one
};

std::vector<Line> SplitLines(std::string_view content) {
  std::vector<Line> lines;
  size_t start = 0;
  while (start < content.size()) {
    const size_t nl = content.find('\n', start);
    if (nl == std::string_view::npos) {
      lines.push_back({content.substr(start), {}});
      break;
    }
    size_t text_end = nl;
    if (text_end > start && content[text_end - 1] == '\r') --text_end;
    lines.push_back({content.substr(start, text_end - start),
                     content.substr(text_end, nl + 1 - text_end)});
    start = nl + 1;
  }
  return lines;
}

bool IsBlank(char c) { return c == ' ' || c == '\t'; }

std::string_view Trim(std::string_view s) {
  while (!s.empty() && IsBlank(s.front())) s.remove_prefix(1);
  while (!s.empty() && IsBlank(s.back())) s.remove_suffix(1);
  return s;
}

char AsciiLower(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; }

bool EqualsIgnoringCase(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    if (AsciiLower(a[i]) != AsciiLower(b[i])) return false;
  }
  return true;
}

// The section name of a "[name]" line; nullopt for any other line. A header
// without its ']' names the rest of the line, as the Windows reader takes it.
std::optional<std::string_view> SectionName(std::string_view trimmed) {
  if (trimmed.empty() || trimmed.front() != '[') return std::nullopt;
  trimmed.remove_prefix(1);
  const size_t close = trimmed.find(']');
  return Trim(close == std::string_view::npos ? trimmed : trimmed.substr(0, close));
}

bool IsComment(std::string_view trimmed) {
  return !trimmed.empty() && (trimmed.front() == ';' || trimmed.front() == '#');
}

// The key of a "key=value" line (or of a bare "key" line).
std::string_view KeyName(std::string_view trimmed) {
  const size_t eq = trimmed.find('=');
  return Trim(eq == std::string_view::npos ? trimmed : trimmed.substr(0, eq));
}

// The line with its value replaced: everything up to the '=' and the blanks
// after it is kept.
std::string ReplaceValue(std::string_view text, std::string_view value) {
  const size_t eq = text.find('=');
  if (eq == std::string_view::npos) {
    std::string out(text.substr(0, text.find_last_not_of(" \t") + 1));
    return out + "=" + std::string(value);
  }
  size_t value_start = eq + 1;
  while (value_start < text.size() && IsBlank(text[value_start])) ++value_start;
  return std::string(text.substr(0, value_start)) + std::string(value);
}

}  // namespace

std::string SetIniValue(std::string_view content, std::string_view section, std::string_view key,
                        std::string_view value) {
  const std::vector<Line> lines = SplitLines(content);
  std::string_view line_end = kWindowsLineEnd;
  for (const Line& line : lines) {
    if (!line.end.empty()) {
      line_end = line.end;
      break;
    }
  }

  // Find the first matching section, the key in it, and where a new key
  // would go (after the section's last key line, else after its header).
  std::optional<size_t> header;
  std::optional<size_t> key_line;
  size_t insert_after = 0;
  bool in_section = false;
  for (size_t i = 0; i < lines.size(); ++i) {
    std::string_view text = lines[i].text;
    if (i == 0 && text.starts_with(kUtf8Bom)) text.remove_prefix(kUtf8Bom.size());
    const std::string_view trimmed = Trim(text);
    if (const auto name = SectionName(trimmed)) {
      if (in_section) break;
      if (!header && EqualsIgnoringCase(*name, section)) {
        header = i;
        insert_after = i;
        in_section = true;
      }
      continue;
    }
    if (!in_section || trimmed.empty() || IsComment(trimmed)) continue;
    insert_after = i;
    if (EqualsIgnoringCase(KeyName(trimmed), key)) {
      key_line = i;
      break;
    }
  }

  const std::string new_key_line = std::string(key) + "=" + std::string(value);
  std::string out;
  out.reserve(content.size() + section.size() + new_key_line.size() + 8);
  for (size_t i = 0; i < lines.size(); ++i) {
    const Line& line = lines[i];
    if (key_line && i == *key_line) {
      out += ReplaceValue(line.text, value);
      out += line.end;
      continue;
    }
    out += line.text;
    if (header && !key_line && i == insert_after) {
      out += line.end.empty() ? line_end : line.end;
      out += new_key_line;
      out += line_end;
      continue;
    }
    out += line.end;
  }
  if (!header) {
    if (!lines.empty() && lines.back().end.empty()) out += line_end;
    out += "[";
    out += section;
    out += "]";
    out += line_end;
    out += new_key_line;
    out += line_end;
  }
  return out;
}

void WriteIniInteger(const std::string& path, std::string_view section, std::string_view key,
                     long value) {
  const std::string content = FileExists(path) ? ReadFile(path) : std::string();
  WriteFileAtomically(path, SetIniValue(content, section, key, std::to_string(value)));
}

}  // namespace tvs
