#include "platform/chm_reader.h"

#include <chm_lib.h>

#include <algorithm>
#include <cctype>
#include <filesystem>
#include <system_error>
#include <utility>

#include "platform/error.h"

namespace tvs {
namespace {

// /#SYSTEM: a u32 version, then records of (u16 code, u16 length, data).
// The codes used here; their data is a NUL-terminated text.
constexpr uint16_t kSystemContentsFile = 0;
constexpr uint16_t kSystemIndexFile = 1;
constexpr uint16_t kSystemDefaultTopic = 2;
constexpr uint16_t kSystemTitle = 3;
constexpr size_t kSystemHeaderSize = 4;

uint32_t ReadU32(std::string_view bytes, size_t at) {
  return static_cast<uint32_t>(static_cast<unsigned char>(bytes[at])) |
         static_cast<uint32_t>(static_cast<unsigned char>(bytes[at + 1])) << 8 |
         static_cast<uint32_t>(static_cast<unsigned char>(bytes[at + 2])) << 16 |
         static_cast<uint32_t>(static_cast<unsigned char>(bytes[at + 3])) << 24;
}

uint16_t ReadU16(std::string_view bytes, size_t at) {
  return static_cast<uint16_t>(static_cast<unsigned char>(bytes[at]) |
                               static_cast<unsigned char>(bytes[at + 1]) << 8);
}

// The text up to the first NUL (or the end).
std::string UpToNul(std::string_view bytes) {
  return std::string(bytes.substr(0, std::min(bytes.find('\0'), bytes.size())));
}

std::string Lower(std::string_view s) {
  std::string out(s);
  for (char& c : out) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return out;
}

bool EndsWithIgnoringCase(std::string_view s, std::string_view suffix) {
  return s.size() >= suffix.size() && Lower(s.substr(s.size() - suffix.size())) == Lower(suffix);
}

void AppendUtf8(std::string& out, uint32_t cp) {
  if (cp == 0 || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) cp = 0xFFFD;
  if (cp < 0x80) {
    out += static_cast<char>(cp);
  } else if (cp < 0x800) {
    out += static_cast<char>(0xC0 | (cp >> 6));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  } else if (cp < 0x10000) {
    out += static_cast<char>(0xE0 | (cp >> 12));
    out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  } else {
    out += static_cast<char>(0xF0 | (cp >> 18));
    out += static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
    out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  }
}

bool IsValidUtf8(std::string_view s) {
  size_t i = 0;
  while (i < s.size()) {
    const auto c = static_cast<unsigned char>(s[i]);
    size_t len = c < 0x80 ? 1 : (c >> 5) == 0x6 ? 2 : (c >> 4) == 0xE ? 3 : (c >> 3) == 0x1E ? 4 : 0;
    if (len == 0 || (len == 2 && c < 0xC2) || i + len > s.size()) return false;
    for (size_t k = 1; k < len; ++k)
      if ((static_cast<unsigned char>(s[i + k]) & 0xC0) != 0x80) return false;
    i += len;
  }
  return true;
}

// Windows-1252 bytes 0x80-0x9F; the rest of the upper half is ISO-8859-1.
constexpr uint16_t kCp1252High[32] = {
    0x20AC, 0xFFFD, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160,
    0x2039, 0x0152, 0xFFFD, 0x017D, 0xFFFD, 0xFFFD, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
    0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0xFFFD, 0x017E, 0x0178};

std::string Utf8FromWindows1252(std::string_view s) {
  std::string out;
  out.reserve(s.size() + s.size() / 8);
  for (char ch : s) {
    const auto c = static_cast<unsigned char>(ch);
    if (c < 0x80) out += ch;
    else if (c < 0xA0) AppendUtf8(out, kCp1252High[c - 0x80]);
    else AppendUtf8(out, c);
  }
  return out;
}

// The named references a help page in Spanish is likely to use.
constexpr std::pair<std::string_view, uint32_t> kNamedEntities[] = {
    {"amp", '&'},      {"lt", '<'},       {"gt", '>'},       {"quot", '"'},
    {"apos", '\''},    {"nbsp", 0xA0},    {"iexcl", 0xA1},   {"copy", 0xA9},
    {"ordf", 0xAA},    {"laquo", 0xAB},   {"reg", 0xAE},     {"deg", 0xB0},
    {"ordm", 0xBA},    {"raquo", 0xBB},   {"iquest", 0xBF},  {"Aacute", 0xC1},
    {"Eacute", 0xC9},  {"Iacute", 0xCD},  {"Ntilde", 0xD1},  {"Oacute", 0xD3},
    {"Uacute", 0xDA},  {"Uuml", 0xDC},    {"aacute", 0xE1},  {"eacute", 0xE9},
    {"iacute", 0xED},  {"ntilde", 0xF1},  {"oacute", 0xF3},  {"uacute", 0xFA},
    {"uuml", 0xFC},    {"agrave", 0xE0},  {"egrave", 0xE8},  {"ccedil", 0xE7},
    {"ndash", 0x2013}, {"mdash", 0x2014}, {"hellip", 0x2026}, {"euro", 0x20AC},
};

std::string DecodeEntities(std::string_view s) {
  std::string out;
  out.reserve(s.size());
  size_t i = 0;
  while (i < s.size()) {
    if (s[i] != '&') {
      out += s[i++];
      continue;
    }
    const size_t semi = s.find(';', i + 1);
    if (semi == std::string_view::npos || semi - i > 12) {
      out += s[i++];
      continue;
    }
    const std::string_view name = s.substr(i + 1, semi - i - 1);
    bool decoded = false;
    if (name.size() > 1 && name[0] == '#') {
      const bool hex = name[1] == 'x' || name[1] == 'X';
      const std::string_view digits = name.substr(hex ? 2 : 1);
      uint32_t cp = 0;
      bool ok = !digits.empty();
      for (char d : digits) {
        const int v = std::isdigit(static_cast<unsigned char>(d)) ? d - '0'
                      : hex && std::isxdigit(static_cast<unsigned char>(d))
                          ? std::tolower(static_cast<unsigned char>(d)) - 'a' + 10
                          : -1;
        if (v < 0 || cp > 0x10FFFF) {
          ok = false;
          break;
        }
        cp = cp * (hex ? 16 : 10) + static_cast<uint32_t>(v);
      }
      if (ok) {
        AppendUtf8(out, cp);
        decoded = true;
      }
    } else {
      for (const auto& [entity, cp] : kNamedEntities) {
        if (entity == name) {
          AppendUtf8(out, cp);
          decoded = true;
          break;
        }
      }
    }
    if (decoded) {
      i = semi + 1;
    } else {
      out += s[i++];
    }
  }
  return out;
}

// One tag of the sitemap: its lower-cased name ("ul", "/ul", "param"...) and
// its attributes with lower-cased names and raw values.
struct Tag {
  std::string name;
  std::vector<std::pair<std::string, std::string>> attributes;

  std::string Attribute(std::string_view key) const {
    for (const auto& [k, v] : attributes)
      if (k == key) return v;
    return {};
  }
};

// Parses the tag starting at html[start] == '<' up to its '>'; returns the
// position after it.
size_t ParseTag(std::string_view html, size_t start, Tag& tag) {
  size_t i = start + 1;
  auto skip_space = [&] {
    while (i < html.size() && std::isspace(static_cast<unsigned char>(html[i]))) ++i;
  };
  auto is_name_char = [&](char c) {
    return !std::isspace(static_cast<unsigned char>(c)) && c != '>' && c != '=' && c != '/';
  };
  tag = Tag{};
  skip_space();
  if (i < html.size() && html[i] == '/') tag.name += html[i++];
  while (i < html.size() && is_name_char(html[i])) tag.name += html[i++];
  tag.name = Lower(tag.name);
  while (i < html.size() && html[i] != '>') {
    skip_space();
    if (i < html.size() && html[i] == '/') {
      ++i;
      continue;
    }
    std::string key;
    while (i < html.size() && is_name_char(html[i])) key += html[i++];
    skip_space();
    std::string value;
    if (i < html.size() && html[i] == '=') {
      ++i;
      skip_space();
      if (i < html.size() && (html[i] == '"' || html[i] == '\'')) {
        const char quote = html[i++];
        const size_t end = html.find(quote, i);
        const size_t stop = end == std::string_view::npos ? html.size() : end;
        value = std::string(html.substr(i, stop - i));
        i = stop == html.size() ? stop : stop + 1;
      } else {
        while (i < html.size() && !std::isspace(static_cast<unsigned char>(html[i])) &&
               html[i] != '>')
          value += html[i++];
      }
    }
    if (!key.empty()) tag.attributes.emplace_back(Lower(key), std::move(value));
    else if (i < html.size() && html[i] != '>') ++i;  // a stray character
  }
  return i < html.size() ? i + 1 : i;
}

}  // namespace

std::vector<TocEntry> ParseSitemap(std::string_view raw) {
  const std::string text = IsValidUtf8(raw) ? std::string(raw) : Utf8FromWindows1252(raw);
  const std::string_view html = text;
  std::vector<TocEntry> entries;
  int open_lists = 0;
  bool in_object = false;
  bool have_name = false;
  bool have_local = false;
  TocEntry current;
  size_t i = 0;
  while ((i = html.find('<', i)) != std::string_view::npos) {
    if (html.substr(i, 4) == "<!--") {
      const size_t end = html.find("-->", i + 4);
      i = end == std::string_view::npos ? html.size() : end + 3;
      continue;
    }
    Tag tag;
    i = ParseTag(html, i, tag);
    if (tag.name == "ul") {
      ++open_lists;
    } else if (tag.name == "/ul") {
      open_lists = std::max(0, open_lists - 1);
    } else if (tag.name == "object") {
      in_object = Lower(tag.Attribute("type")) == "text/sitemap";
      have_name = have_local = false;
      current = TocEntry{};
      current.depth = std::max(0, open_lists - 1);
    } else if (tag.name == "param" && in_object) {
      const std::string name = Lower(tag.Attribute("name"));
      if (name == "name" && !have_name) {
        current.title = DecodeEntities(tag.Attribute("value"));
        have_name = true;
      } else if (name == "local" && !have_local) {
        current.local = DecodeEntities(tag.Attribute("value"));
        have_local = true;
      }
    } else if (tag.name == "/object") {
      if (in_object && (have_name || have_local)) entries.push_back(current);
      in_object = false;
    }
  }
  return entries;
}

std::string NormalizeChmPath(std::string_view path) {
  if (const size_t sep = path.find("::"); sep != std::string_view::npos) path = path.substr(sep + 2);
  if (const size_t hash = path.find('#'); hash != std::string_view::npos) path = path.substr(0, hash);
  std::vector<std::string> parts;
  std::string part;
  auto flush = [&] {
    if (part == "..") {
      if (!parts.empty()) parts.pop_back();
    } else if (!part.empty() && part != ".") {
      parts.push_back(part);
    }
    part.clear();
  };
  for (char c : path) {
    if (c == '/' || c == '\\') flush();
    else part += c;
  }
  flush();
  std::string out;
  for (const std::string& p : parts) out += "/" + p;
  if (out.empty()) out = "/";
  return out;
}

ChmFile::ChmFile(chmFile* handle, std::string path) : handle_(handle), path_(std::move(path)) {}

ChmFile ChmFile::Open(const std::string& path) {
  std::error_code ec;
  if (!std::filesystem::is_regular_file(path, ec))
    throw Error("No se encuentra el archivo de ayuda «" + path + "»");
  chmFile* handle = chm_open(path.c_str());
  if (handle == nullptr)
    throw Error("El archivo «" + path +
                "» no es un archivo de ayuda compilado (.chm) que se pueda leer");
  return ChmFile(handle, path);
}

ChmFile::~ChmFile() {
  if (handle_ != nullptr) chm_close(handle_);
}

ChmFile::ChmFile(ChmFile&& other) noexcept
    : handle_(std::exchange(other.handle_, nullptr)), path_(std::move(other.path_)) {}

ChmFile& ChmFile::operator=(ChmFile&& other) noexcept {
  if (this != &other) {
    if (handle_ != nullptr) chm_close(handle_);
    handle_ = std::exchange(other.handle_, nullptr);
    path_ = std::move(other.path_);
  }
  return *this;
}

std::vector<std::string> ChmFile::ListFiles() const {
  std::vector<std::string> files;
  auto collect = [](struct chmFile*, struct chmUnitInfo* ui, void* context) -> int {
    static_cast<std::vector<std::string>*>(context)->emplace_back(ui->path);
    return CHM_ENUMERATOR_CONTINUE;
  };
  chm_enumerate(handle_, CHM_ENUMERATE_NORMAL | CHM_ENUMERATE_FILES, collect, &files);
  // chmlib marks a few of its compiler's own notes as normal files too.
  std::erase_if(files, [](const std::string& f) {
    return f.empty() || f.back() == '/' || f.find("/#") == 0 || f.find("/$") == 0 ||
           f.find("::") == 0 || f == "/_#_README_#_";
  });
  return files;
}

std::optional<std::string> ChmFile::Read(std::string_view internal_path) const {
  // System files ("/#IVB") keep their exact name: normalising would not
  // change them, but a '#' would be read as a fragment.
  const std::string path = internal_path.substr(0, 2) == "/#" || internal_path.substr(0, 2) == "/$"
                               ? std::string(internal_path)
                               : NormalizeChmPath(internal_path);
  chmUnitInfo ui{};
  if (chm_resolve_object(handle_, path.c_str(), &ui) != CHM_RESOLVE_SUCCESS) return std::nullopt;
  if (path.back() == '/' || (ui.flags & CHM_ENUMERATE_DIRS) != 0) return std::nullopt;
  std::string bytes(static_cast<size_t>(ui.length), '\0');
  LONGUINT64 done = 0;
  while (done < ui.length) {
    const LONGINT64 got =
        chm_retrieve_object(handle_, &ui, reinterpret_cast<unsigned char*>(bytes.data()) + done,
                            done, static_cast<LONGINT64>(ui.length - done));
    if (got <= 0) return std::nullopt;
    done += static_cast<LONGUINT64>(got);
  }
  return bytes;
}

bool ChmFile::Contains(std::string_view internal_path) const {
  const std::string path = NormalizeChmPath(internal_path);
  chmUnitInfo ui{};
  return path != "/" && chm_resolve_object(handle_, path.c_str(), &ui) == CHM_RESOLVE_SUCCESS &&
         (ui.flags & CHM_ENUMERATE_DIRS) == 0;
}

std::string ChmFile::SystemString(uint16_t code) const {
  const std::optional<std::string> system = Read("/#SYSTEM");
  if (!system) return {};
  const std::string_view bytes = *system;
  size_t at = kSystemHeaderSize;
  while (at + 4 <= bytes.size()) {
    const uint16_t record = ReadU16(bytes, at);
    const uint16_t length = ReadU16(bytes, at + 2);
    at += 4;
    if (at + length > bytes.size()) break;
    if (record == code) return UpToNul(bytes.substr(at, length));
    at += length;
  }
  return {};
}

std::string ChmFile::FirstFileEnding(std::string_view extension) const {
  for (const std::string& f : ListFiles())
    if (EndsWithIgnoringCase(f, extension)) return f;
  return {};
}

std::string ChmFile::ContentsFile() const {
  if (std::string named = SystemString(kSystemContentsFile); !named.empty() && Contains(named))
    return NormalizeChmPath(named);
  return FirstFileEnding(".hhc");
}

std::string ChmFile::IndexFile() const {
  if (std::string named = SystemString(kSystemIndexFile); !named.empty() && Contains(named))
    return NormalizeChmPath(named);
  return FirstFileEnding(".hhk");
}

std::string ChmFile::DefaultTopic() const { return SystemString(kSystemDefaultTopic); }

std::string ChmFile::Title() const { return SystemString(kSystemTitle); }

std::vector<TocEntry> ChmFile::TableOfContents() const {
  const std::string file = ContentsFile();
  if (file.empty()) return {};
  const std::optional<std::string> html = Read(file);
  return html ? ParseSitemap(*html) : std::vector<TocEntry>{};
}

std::vector<TocEntry> ChmFile::Index() const {
  const std::string file = IndexFile();
  if (file.empty()) return {};
  const std::optional<std::string> html = Read(file);
  return html ? ParseSitemap(*html) : std::vector<TocEntry>{};
}

std::vector<std::pair<uint32_t, std::string>> ChmFile::ContextMap() const {
  std::vector<std::pair<uint32_t, std::string>> map;
  const std::optional<std::string> ivb = Read("/#IVB");
  if (!ivb || ivb->size() < 4) return map;
  const std::string strings = Read("/#STRINGS").value_or(std::string());
  const std::string_view bytes = *ivb;
  const size_t end = std::min<size_t>(bytes.size(), 4 + size_t{ReadU32(bytes, 0)});
  for (size_t at = 4; at + 8 <= end; at += 8) {
    const uint32_t id = ReadU32(bytes, at);
    const uint32_t offset = ReadU32(bytes, at + 4);
    map.emplace_back(id, offset < strings.size()
                             ? UpToNul(std::string_view(strings).substr(offset))
                             : std::string());
  }
  return map;
}

std::optional<std::string> ChmFile::ResolveStoredPath(std::string_view stored_path) const {
  std::string path = NormalizeChmPath(stored_path);
  // A Windows path keeps its drive letter as the first folder ("/C:/...");
  // removing folders one by one takes it away like any other.
  while (path != "/") {
    if (Contains(path)) return path;
    const size_t next = path.find('/', 1);
    if (next == std::string::npos) break;
    path = path.substr(next);
  }
  return std::nullopt;
}

std::optional<std::string> ChmFile::TopicForContext(uint32_t id) const {
  for (const auto& [context, topic] : ContextMap())
    if (context == id) return topic.empty() ? std::nullopt : ResolveStoredPath(topic);
  return std::nullopt;
}

}  // namespace tvs
