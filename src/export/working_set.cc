#include "export/working_set.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <sstream>
#include <utility>
#include <vector>

#include "platform/error.h"
#include "platform/files.h"

namespace tvs {
namespace {

// The journal: one "staging<TAB>target" line per table, then "END", so that a
// journal cut short by a crash is recognised and ignored (its staging files
// are then simply removed: the old set stays).
constexpr const char* kJournalEnd = "END";

struct Move {
  std::string staging;  // file name inside the folder
  std::string target;
};

bool EndsWith(const std::string& s, const std::string& suffix) {
  return s.size() >= suffix.size() && s.compare(s.size() - suffix.size(), suffix.size(), suffix) == 0;
}

std::vector<std::string> FolderEntries(const std::string& folder) {
  std::vector<std::string> names;
  DIR* dir = opendir(folder.c_str());
  if (!dir) return names;
  while (dirent* e = readdir(dir)) names.emplace_back(e->d_name);
  closedir(dir);
  return names;
}

bool SameIgnoringCase(const std::string& a, const std::string& b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    char x = a[i], y = b[i];
    if (x >= 'a' && x <= 'z') x = static_cast<char>(x - 32);
    if (y >= 'a' && y <= 'z') y = static_cast<char>(y - 32);
    if (x != y) return false;
  }
  return true;
}

std::vector<Move> ParseJournal(const std::string& text, bool* complete) {
  std::vector<Move> moves;
  *complete = false;
  std::istringstream in(text);
  std::string line;
  while (std::getline(in, line)) {
    if (line == kJournalEnd) {
      *complete = true;
      break;
    }
    const auto tab = line.find('\t');
    if (tab == std::string::npos) break;
    moves.push_back({line.substr(0, tab), line.substr(tab + 1)});
  }
  return moves;
}

// After a table is in place: remove its stale index file and any copy of it
// under another letter case, which a case-insensitive reader could pick up.
void RemoveStaleCopies(const std::string& folder, const std::string& target,
                       const std::vector<std::string>& entries) {
  const std::string stem = target.substr(0, target.rfind('.'));
  for (const std::string& name : entries) {
    if (name == target) continue;
    if (SameIgnoringCase(name, target) || SameIgnoringCase(name, stem + ".MDX"))
      RemoveFileQuietly(JoinPath(folder, name));
  }
}

void ApplyMoves(const std::string& folder, const std::vector<Move>& moves) {
  for (const Move& m : moves) {
    const std::string from = JoinPath(folder, m.staging);
    if (FileExists(from)) RenameFile(from, JoinPath(folder, m.target));
  }
  const auto entries = FolderEntries(folder);
  for (const Move& m : moves) RemoveStaleCopies(folder, m.target, entries);
  SyncFolder(folder);
}

void RemoveLeftovers(const std::string& folder) {
  for (const std::string& name : FolderEntries(folder))
    if (EndsWith(name, kStagingSuffix) || name.rfind("." + std::string(kJournalName) + ".tmp-", 0) == 0)
      RemoveFileQuietly(JoinPath(folder, name));
}

// Holds exclusive locks on the tables being replaced, so that one held open by
// another program is found before anything changes.
class TargetLocks {
 public:
  ~TargetLocks() {
    for (int fd : fds_) close(fd);
  }
  void Lock(const std::string& path, const std::string& table) {
    const int fd = open(path.c_str(), O_RDWR | O_CLOEXEC);
    if (fd < 0) {
      if (errno == ENOENT) return;
      throw Error("No se puede reemplazar la tabla " + table + " (" + path + "): " +
                  std::strerror(errno));
    }
    struct flock fl {};
    fl.l_type = F_WRLCK;
    fl.l_whence = SEEK_SET;
    if (fcntl(fd, F_OFD_SETLK, &fl) != 0) {
      close(fd);
      throw Error("La tabla " + table + " (" + path +
                  ") está en uso por otro programa; ciérrelo y repita la exportación");
    }
    fds_.push_back(fd);
  }

 private:
  std::vector<int> fds_;
};

void EnsureFolder(const std::string& folder) {
  if (FolderExists(folder)) return;
  // Create the folder and any missing parents.
  std::string path;
  std::istringstream parts(folder);
  std::string part;
  if (!folder.empty() && folder[0] == '/') path = "/";
  while (std::getline(parts, part, '/')) {
    if (part.empty()) continue;
    path += part;
    if (mkdir(path.c_str(), 0777) != 0 && errno != EEXIST)
      throw Error("No se puede crear la carpeta de trabajo " + folder + ": " + std::strerror(errno));
    path += "/";
  }
}

}  // namespace

void RecoverWorkingSet(const std::string& folder) {
  const std::string journal = JoinPath(folder, kJournalName);
  if (FileExists(journal)) {
    bool complete = false;
    const auto moves = ParseJournal(ReadFile(journal), &complete);
    if (complete) ApplyMoves(folder, moves);
    RemoveFileQuietly(journal);
    SyncFolder(folder);
  }
  RemoveLeftovers(folder);
}

void CommitWorkingSet(const std::string& folder, const std::vector<const DbfTable*>& tables) {
  EnsureFolder(folder);
  RecoverWorkingSet(folder);

  std::vector<Move> moves;
  TargetLocks locks;
  for (const DbfTable* t : tables) {
    const std::string target = t->name() + ".DBF";
    std::string existing = FindIgnoringCase(folder, target);
    if (!existing.empty()) locks.Lock(existing, t->name());
    moves.push_back({"." + target + kStagingSuffix, target});
  }

  // The tables and the journal are written to files that no reader takes for
  // the set and flushed together; only then does the journal get its name,
  // so a journal found on disk always names staging files that are complete.
  const std::string journal_path = JoinPath(folder, kJournalName);
  const std::string journal_temp =
      JoinPath(folder, "." + std::string(kJournalName) + ".tmp-" + std::to_string(getpid()));
  try {
    // The records go to the files from the tables themselves, uncopied.
    std::vector<DbfFileParts> encoded;
    encoded.reserve(tables.size());
    for (const DbfTable* t : tables) encoded.push_back(EncodeDbfParts(*t));
    std::string journal;
    for (const Move& m : moves) journal += m.staging + "\t" + m.target + "\n";
    journal += std::string(kJournalEnd) + "\n";

    std::vector<FileBytes> files;
    for (size_t i = 0; i < tables.size(); ++i) {
      const DbfFileParts& parts = encoded[i];
      files.push_back({JoinPath(folder, moves[i].staging), {parts.header, parts.records, parts.end}});
    }
    files.push_back({journal_temp, {journal}});
    WriteFilesDurably(files);
    RenameFile(journal_temp, journal_path);
    SyncFolder(folder);
  } catch (...) {
    for (const Move& m : moves) RemoveFileQuietly(JoinPath(folder, m.staging));
    RemoveFileQuietly(journal_temp);
    throw;
  }
  // From here on the new set is decided: a crash is completed by the next run.
  ApplyMoves(folder, moves);
  // The renames are on disk (ApplyMoves flushed the folder). The removal of
  // the journal need not be: a journal that comes back after a crash names
  // staging files that no longer exist, so the next run renames nothing and
  // removes it.
  RemoveFileQuietly(journal_path);
}

}  // namespace tvs
