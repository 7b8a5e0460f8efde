// File helpers of the engine: existence, look-up without regard to letter case
// (Tavoleno runs under Wine, where C:\VTEMP\ASIGNOMT.DBF may be asignomt.dbf
// on disk), writes that either happen whole or not at all, and whole-file
// locks.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

namespace tvs {

bool FileExists(const std::string& path);      // a regular file (or a link to one)
bool FolderExists(const std::string& path);

// The path of the entry of `folder` whose name equals `name` ignoring the
// letter case of a-z; the exact name wins when both exist. "" when none.
std::string FindIgnoringCase(const std::string& folder, std::string_view name);

// folder + '/' + name, with no doubled separator.
std::string JoinPath(const std::string& folder, std::string_view name);

// Writes `bytes` to `path`, flushed to disk (fsync) before returning. Throws
// Error naming the path and the system's reason. Not atomic on its own.
void WriteFileDurably(const std::string& path, std::string_view bytes);

// Writes every file as WriteFileDurably does, then flushes them all at once:
// the flushes run side by side, so that the disk commits them together rather
// than one after the other. A file's bytes are its pieces one after another.
// Throws Error naming the first path that failed; the files already written
// are left for the caller to remove.
struct FileBytes {
  std::string path;
  std::vector<std::string_view> pieces;
};
void WriteFilesDurably(const std::vector<FileBytes>& files);

// Writes to a temporary file beside `path`, flushes it and renames it into
// place, then flushes the folder. On failure the temporary is removed and any
// earlier file at `path` is untouched.
void WriteFileAtomically(const std::string& path, std::string_view bytes);

// WriteFileAtomically for bytes that come in pieces, so that they need not be
// held in memory together. The constructor opens the temporary file; Write()
// adds bytes; Commit() flushes the file, renames it into place and flushes the
// folder. Destroyed without a completed Commit(), it removes the temporary and
// leaves `path` as it was. Each step throws Error naming `path` and the
// system's reason.
class AtomicFileWriter {
 public:
  explicit AtomicFileWriter(std::string path);
  ~AtomicFileWriter();
  AtomicFileWriter(const AtomicFileWriter&) = delete;
  AtomicFileWriter& operator=(const AtomicFileWriter&) = delete;

  void Write(std::string_view bytes);
  void Commit();

 private:
  void Drain();
  void Put(std::string_view bytes);
  [[noreturn]] void Fail(int err);

  std::string path_;
  std::string folder_;
  std::string temp_;
  int fd_ = -1;
  std::string pending_;  // bytes not yet handed to the system
  uint64_t written_ = 0;  // bytes handed to the system
  uint64_t started_ = 0;  // of those, the bytes whose writing to disk was started
  bool committed_ = false;
};

// Renames, throwing Error naming both paths and the reason.
void RenameFile(const std::string& from, const std::string& to);
// Flushes a folder's entries (after renames). Failures are ignored.
void SyncFolder(const std::string& folder);
// Removes a file; a missing file is not an error, other failures are ignored.
void RemoveFileQuietly(const std::string& path);

// Reads a whole file. Throws Error naming the path and the reason.
std::string ReadFile(const std::string& path);

// Test seam: when set, every durable or atomic write first asks it; a false
// answer makes the write fail as a full disk would ("No queda espacio...").
// Not for production use.
void SetWriteFaultForTesting(std::function<bool(const std::string& path)> allow);

}  // namespace tvs
