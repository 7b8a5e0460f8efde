// Text in the working tables is Windows-1252 (the 8-bit code page Tavoleno
// reads); text in XML documents and in messages is UTF-8. These helpers convert
// between the two without depending on the process locale.
#pragma once

#include <string>
#include <string_view>

namespace tvs {

// UTF-8 to Windows-1252. A character outside the code page, and every byte of
// an invalid UTF-8 sequence, becomes '?'.
std::string ToWindows1252(std::string_view utf8);

// Windows-1252 to UTF-8. The five bytes the code page leaves undefined (0x81,
// 0x8D, 0x8F, 0x90, 0x9D) map to the C1 controls of the same number.
std::string FromWindows1252(std::string_view bytes);

// Upper case of one Windows-1252 byte: a-z and the accented letters (ñ, á, š,
// œ, ÿ ...); everything else unchanged.
char UpperWindows1252(char c);

// The text upper-cased byte by byte: the key under which code lists compare
// without regard to letter case.
std::string FoldWindows1252(std::string_view bytes);

bool EqualsIgnoreCaseWindows1252(std::string_view a, std::string_view b);

// Upper case of the letters a to z only; every other byte unchanged.
std::string UpperAsciiOnly(std::string_view bytes);

}  // namespace tvs
