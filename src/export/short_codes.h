// Short codes: the codes of at most 10 characters by which Tavoleno names
// subjects, tasks, teachers, rooms and groups, made unique against a code list.
#pragma once

#include <string>
#include <string_view>
#include <unordered_set>

namespace tvs {

// Codes issued (or long codes seen) so far. Look-ups ignore letter case
// (Windows-1252 letters, accented ones included) and trailing blanks, since a
// blank-padded dBase field stores "ABC " and "ABC" alike. Constant time.
class CodeList {
 public:
  bool Contains(std::string_view code) const;
  void Add(std::string_view code);
  size_t size() const { return keys_.size(); }

 private:
  std::unordered_set<std::string> keys_;
};

struct ShortCodeOptions {
  // Rooms and groups: the cut to 10 characters loses its leading and trailing
  // characters of code 32 and below before the look-ups and the numbering.
  bool trim_cut = false;
  // Groups: the numbered candidate enters the list before it is shortened to
  // 8 + 2 characters (the list keeps ABCDEFGHI10, the row gets ABCDEFGH10).
  bool add_before_shortening = false;
};

// The short-code rule. Takes the first 10 characters of `candidate`; when the
// list holds them, drops a tenth character and appends 1, 2, 3 ... until the
// list holds neither the numbered candidate nor, when it has more than 10
// characters, its shortened form (first 8 + last 2 characters); once every
// numbered form of the base is taken (110 of them for a nine-character base),
// the number is kept whole and the base cut to make room (ABCDEFG100). The
// code is added to the list and returned, so every code the list issues is
// unique in it.
std::string ShortCode(std::string_view candidate, CodeList& list,
                      const ShortCodeOptions& options = {});

}  // namespace tvs
