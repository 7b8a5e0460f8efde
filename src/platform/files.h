// File helpers of the engine: existence, look-up without regard to letter case
// (Tavoleno runs under Wine, where C:\VTEMP\ASIGNOMT.DBF may be asignomt.dbf
// on disk), writes that either happen whole or not at all, and whole-file
// locks.
#pragma once

#include <functional>
#include <string>
#include <string_view>

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

// Writes to a temporary file beside `path`, flushes it and renames it into
// place, then flushes the folder. On failure the temporary is removed and any
// earlier file at `path` is untouched.
void WriteFileAtomically(const std::string& path, std::string_view bytes);

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
