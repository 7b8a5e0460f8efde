// The compiled help file (.chm), read with chmlib: its internal files, its
// table of contents and index (the .hhc and .hhk sitemaps), and its context
// map (the numbers the program asks for with F1).
//
// Internal paths are absolute inside the file ("/ventana_principal.htm");
// every function that takes one also accepts it without the leading '/', with
// backslashes, or with "." and ".." segments, and chmlib compares them without
// regard to letter case.
//
// Text from the sitemaps is returned as UTF-8: a sitemap that is not valid
// UTF-8 is read as Windows-1252 (what the classic help compiler writes), and
// HTML character references are decoded.
//
// A ChmFile owns its chmlib handle; it is movable, not copyable, and not
// thread-safe (chmlib keeps caches inside the handle).
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

struct chmFile;

namespace tvs {

// One entry of a sitemap (.hhc or .hhk), in file order.
struct TocEntry {
  std::string title;  // the "Name" parameter
  std::string local;  // the "Local" parameter as written; "" for a heading
  int depth = 0;      // 0 for the outermost list, 1 for a list inside it...

  bool operator==(const TocEntry&) const = default;
};

// Parses sitemap HTML: every <OBJECT type="text/sitemap"> with its first
// "Name" and "Local" parameters, the depth counted from the nested <UL>
// lists. Tolerant: unknown tags, comments and stray text are passed over, and
// unbalanced lists never give a negative depth.
std::vector<TocEntry> ParseSitemap(std::string_view html);

// The internal path a link or sitemap "Local" names: a "ms-its:X.chm::" or
// "mk:@MSITStore:X.chm::" prefix and any "#fragment" removed, backslashes
// turned into '/', a leading '/' added, "." and ".." segments folded.
std::string NormalizeChmPath(std::string_view path);

class ChmFile {
 public:
  // Throws Error naming `path` when the file does not exist or is not a
  // compiled help file chmlib can read.
  static ChmFile Open(const std::string& path);

  ~ChmFile();
  ChmFile(ChmFile&& other) noexcept;
  ChmFile& operator=(ChmFile&& other) noexcept;
  ChmFile(const ChmFile&) = delete;
  ChmFile& operator=(const ChmFile&) = delete;

  const std::string& path() const { return path_; }

  // The ordinary files the help holds (pages, images, sitemaps), in the
  // order chmlib lists them; no folders, no system files ("/#SYSTEM",
  // "::DataSpace/...").
  std::vector<std::string> ListFiles() const;

  // The bytes of an internal file; nullopt when the file holds none of that
  // name (a folder included).
  std::optional<std::string> Read(std::string_view internal_path) const;
  bool Contains(std::string_view internal_path) const;

  // From the /#SYSTEM header when it names them, otherwise the first file
  // ending in .hhc (.hhk for the index); "" when there is none.
  std::string ContentsFile() const;
  std::string IndexFile() const;
  // The default topic and the title the project gave; "" when not recorded.
  std::string DefaultTopic() const;
  std::string Title() const;

  // The parsed contents and index; empty when the file has none.
  std::vector<TocEntry> TableOfContents() const;
  std::vector<TocEntry> Index() const;

  // The internal path of the topic mapped to the context number `id`;
  // nullopt when the file has no context map, the map lacks `id`, or the
  // topic it names is not in the file.
  //
  // The map is /#IVB: a little-endian u32 byte count, then pairs of u32
  // (context number, offset into /#STRINGS); /#STRINGS holds NUL-terminated
  // texts. The text is the topic's path; a compiler may have stored its
  // absolute path on the build machine ("/build/help/topic.htm"), so it is
  // tried as it stands and then with its leading folders removed one by one,
  // until a file of that name is found.
  std::optional<std::string> TopicForContext(uint32_t id) const;

  // Every context number of the map with the topic text stored for it (not
  // resolved), in map order.
  std::vector<std::pair<uint32_t, std::string>> ContextMap() const;

  // The internal file `stored_path` stands for, by the rule above; nullopt
  // when none of its tails names a file.
  std::optional<std::string> ResolveStoredPath(std::string_view stored_path) const;

 private:
  ChmFile(chmFile* handle, std::string path);
  std::string SystemString(uint16_t code) const;
  std::string FirstFileEnding(std::string_view extension) const;

  chmFile* handle_ = nullptr;
  std::string path_;
};

}  // namespace tvs
