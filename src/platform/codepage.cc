#include "platform/codepage.h"

#include <cstdint>

namespace tvs {
namespace {

// Unicode code points of the bytes 0x80 to 0x9F in Windows-1252.
constexpr char32_t kHighControls[32] = {
    0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021,
    0x02C6, 0x2030, 0x0160, 0x2039, 0x0152, 0x008D, 0x017D, 0x008F,
    0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014,
    0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178};

int EncodeCodePoint(char32_t cp) {
  if (cp < 0x80 || (cp >= 0xA0 && cp <= 0xFF)) return static_cast<int>(cp);
  for (int i = 0; i < 32; ++i)
    if (kHighControls[i] == cp) return 0x80 + i;
  return -1;
}

void AppendUtf8(std::string& out, char32_t cp) {
  if (cp < 0x80) {
    out.push_back(static_cast<char>(cp));
  } else if (cp < 0x800) {
    out.push_back(static_cast<char>(0xC0 | (cp >> 6)));
    out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
  } else {
    out.push_back(static_cast<char>(0xE0 | (cp >> 12)));
    out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
  }
}

}  // namespace

std::string ToWindows1252(std::string_view in) {
  // ASCII stays as it is; most values (codes, keys, numbers) are ASCII only.
  size_t i = 0;
  while (i < in.size() && static_cast<uint8_t>(in[i]) < 0x80) ++i;
  std::string out(in.substr(0, i));
  if (i == in.size()) return out;
  out.reserve(in.size());
  while (i < in.size()) {
    const auto b = static_cast<uint8_t>(in[i]);
    if (b < 0x80) {
      out.push_back(static_cast<char>(b));
      ++i;
      continue;
    }
    int len = 0;
    char32_t cp = 0;
    char32_t min = 0;
    if ((b & 0xE0) == 0xC0) { len = 2; cp = b & 0x1F; min = 0x80; }
    else if ((b & 0xF0) == 0xE0) { len = 3; cp = b & 0x0F; min = 0x800; }
    else if ((b & 0xF8) == 0xF0) { len = 4; cp = b & 0x07; min = 0x10000; }
    bool ok = len > 0 && i + len <= in.size();
    for (int k = 1; ok && k < len; ++k) {
      const auto c = static_cast<uint8_t>(in[i + k]);
      if ((c & 0xC0) != 0x80) ok = false;
      cp = (cp << 6) | (c & 0x3F);
    }
    if (!ok || cp < min || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) {
      out.push_back('?');  // a stray continuation byte then gives its own '?'
      ++i;
      continue;
    }
    const int byte = EncodeCodePoint(cp);
    out.push_back(byte < 0 ? '?' : static_cast<char>(byte));
    i += len;
  }
  return out;
}

std::string FromWindows1252(std::string_view in) {
  std::string out;
  out.reserve(in.size() + in.size() / 8);
  for (char ch : in) {
    const auto b = static_cast<uint8_t>(ch);
    if (b < 0x80) out.push_back(ch);
    else if (b < 0xA0) AppendUtf8(out, kHighControls[b - 0x80]);
    else AppendUtf8(out, b);
  }
  return out;
}

char UpperWindows1252(char ch) {
  const auto b = static_cast<uint8_t>(ch);
  if (b >= 'a' && b <= 'z') return static_cast<char>(b - 32);
  if (b >= 0xE0 && b <= 0xFE && b != 0xF7) return static_cast<char>(b - 32);
  switch (b) {
    case 0x9A: return static_cast<char>(0x8A);  // š Š
    case 0x9C: return static_cast<char>(0x8C);  // œ Œ
    case 0x9E: return static_cast<char>(0x8E);  // ž Ž
    case 0xFF: return static_cast<char>(0x9F);  // ÿ Ÿ
    default: return ch;
  }
}

std::string FoldWindows1252(std::string_view bytes) {
  std::string out(bytes);
  for (char& c : out) c = UpperWindows1252(c);
  return out;
}

bool EqualsIgnoreCaseWindows1252(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i)
    if (UpperWindows1252(a[i]) != UpperWindows1252(b[i])) return false;
  return true;
}

std::string UpperAsciiOnly(std::string_view bytes) {
  std::string out(bytes);
  for (char& c : out)
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 32);
  return out;
}

}  // namespace tvs
