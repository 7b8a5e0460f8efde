// Writing one integer into an ini file, the way Tavoleno reads its settings
// (a Windows program: section and key names compare without regard to letter
// case, "[Section]" headers, "Key=Value" lines, ';' comments).
//
// Everything of the file that the write does not concern is kept byte for
// byte: other sections and keys, comments, blank lines, the spelling of the
// names, the spaces around '=' and each line's own ending (CRLF stays CRLF,
// LF stays LF). The file is replaced atomically, so a reader never sees half
// of it and a failed write leaves the earlier file as it was.
#pragma once

#include <string>
#include <string_view>

namespace tvs {

// Sets key `key` of section `section` of the ini file at `path` to `value`,
// written in decimal ("-1" for minus one).
//
// - A missing file is created holding just the section and the key.
// - The first section whose name matches (letters A-Z ignoring case, blanks
//   around the name ignored) is the one changed; in it, the first line whose
//   key matches has its value replaced in place, after the '=' and the blanks
//   that follow it.
// - A key that the section lacks is added after the section's last key line
//   (after its header when it has none), so blank lines and comments before
//   the next section stay before it; a missing section is added at the end of
//   the file.
// - Added lines end as the file's first line does (CRLF for a new file or a
//   file of a single unterminated line, as Windows writes ini files). Added
//   lines always end; an unterminated line before them gets an end first.
//
// Throws Error, naming the path and the reason, when the file cannot be read
// or written; the file is then unchanged.
void WriteIniInteger(const std::string& path, std::string_view section, std::string_view key,
                     long value);

// The new content of an ini file whose content was `content` after the write
// above: the whole transformation, without touching any file.
std::string SetIniValue(std::string_view content, std::string_view section, std::string_view key,
                        std::string_view value);

}  // namespace tvs
