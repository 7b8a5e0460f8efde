#include "platform/files.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstring>
#include <system_error>
#include <thread>
#include <utility>

#include "platform/error.h"
#include "platform/posix_io.h"

namespace tvs {
namespace {

std::function<bool(const std::string&)>& WriteFault() {
  static std::function<bool(const std::string&)> allow;
  return allow;
}

[[noreturn]] void ThrowWriteError(const std::string& path, int err) {
  if (err == ENOSPC || err == EDQUOT)
    throw Error("No queda espacio en el disco para escribir el archivo " + path);
  throw Error("No se puede escribir el archivo " + path + ": " + OsErrorText(err));
}

// Asks the test seam, if any, and fails as a full disk would.
void CheckWriteAllowed(const std::string& path) {
  const auto& allow = WriteFault();
  if (allow && !allow(path)) ThrowWriteError(path, ENOSPC);
}

char FoldAscii(char c) { return c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c; }

bool EqualsIgnoringAsciiCase(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i)
    if (FoldAscii(a[i]) != FoldAscii(b[i])) return false;
  return true;
}

std::string FolderOf(const std::string& path) {
  const auto slash = path.rfind('/');
  if (slash == std::string::npos) return ".";
  if (slash == 0) return "/";
  return path.substr(0, slash);
}

std::string BaseNameOf(const std::string& path) {
  const auto slash = path.rfind('/');
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

void CloseQuietly(int fd) {
  const int saved = errno;
  close(fd);
  errno = saved;
}

// Writes everything to an open file. On failure errno tells why.
bool WriteAll(int fd, std::string_view bytes) {
  const char* p = bytes.data();
  size_t left = bytes.size();
  while (left > 0) {
    const ssize_t n = write(fd, p, left);
    if (n < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    p += n;
    left -= static_cast<size_t>(n);
  }
  return true;
}

// 0, or the errno of a failed flush.
int FlushToDisk(int fd) { return fsync(fd) == 0 ? 0 : errno; }

// Writes everything to an open file, flushes it and closes it. On failure the
// file is closed and errno kept for the caller.
bool WriteAllAndClose(int fd, std::string_view bytes) {
  if (!WriteAll(fd, bytes) || FlushToDisk(fd) != 0) {
    CloseQuietly(fd);
    return false;
  }
  return close(fd) == 0;
}

std::string TemporaryBeside(const std::string& path) {
  static std::atomic<unsigned> counter{0};
  std::string name = ".";
  name += BaseNameOf(path);
  name += ".tmp-";
  name += std::to_string(getpid());
  name += '-';
  name += std::to_string(counter++);
  return JoinPath(FolderOf(path), name);
}

// Pieces at least this long go to the system as they come; shorter ones are
// gathered first.
constexpr size_t kWriteChunk = 1 << 16;

}  // namespace

std::string OsErrorText(int error_number) {
  switch (error_number) {
    case ENOENT: return "no existe el archivo o la carpeta";
    case EACCES:
    case EPERM: return "permiso denegado";
    case ENOSPC:
    case EDQUOT: return "no queda espacio en el disco";
    case EROFS: return "el disco es de solo lectura";
    case EISDIR: return "es una carpeta, no un archivo";
    case ENOTDIR: return "una parte de la ruta no es una carpeta";
    case ENAMETOOLONG: return "el nombre es demasiado largo";
    case EIO: return "error de lectura o escritura en el disco";
    case EBUSY: return "el archivo está ocupado";
    case EEXIST: return "ya existe";
    case EMFILE:
    case ENFILE: return "hay demasiados archivos abiertos";
    default: return std::string(std::strerror(error_number)) + " (errno " + std::to_string(error_number) + ")";
  }
}

bool FileExists(const std::string& path) {
  struct stat st {};
  return stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

bool FolderExists(const std::string& path) {
  struct stat st {};
  return stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

std::string FindIgnoringCase(const std::string& folder, std::string_view name) {
  if (name.empty()) return "";
  const std::string exact = JoinPath(folder, name);
  struct stat st {};
  if (lstat(exact.c_str(), &st) == 0) return exact;

  DIR* dir = opendir(folder.empty() ? "." : folder.c_str());
  if (!dir) return "";
  // readdir's order is arbitrary: when several spellings match, take the
  // smallest in byte order so that the answer does not depend on it.
  std::string best;
  bool found = false;
  while (const dirent* e = readdir(dir)) {
    const std::string_view entry(e->d_name);
    if (!EqualsIgnoringAsciiCase(entry, name)) continue;
    if (!found || entry < best) best = std::string(entry);
    found = true;
  }
  closedir(dir);
  return found ? JoinPath(folder, best) : "";
}

std::string JoinPath(const std::string& folder, std::string_view name) {
  // An empty folder means the current one: the name stands alone.
  if (folder.empty()) return std::string(name);
  while (!name.empty() && name.front() == '/') name.remove_prefix(1);
  std::string path = folder;
  if (path.back() != '/') path += '/';
  path += name;
  return path;
}

void WriteFileDurably(const std::string& path, std::string_view bytes) {
  CheckWriteAllowed(path);
  const int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
  if (fd < 0 || !WriteAllAndClose(fd, bytes)) ThrowWriteError(path, errno);
}

void WriteFilesDurably(const std::vector<FileBytes>& files) {
  std::vector<int> fds;
  auto close_all = [&fds] {
    for (int fd : fds) CloseQuietly(fd);
  };
  for (const FileBytes& file : files) {
    try {
      CheckWriteAllowed(file.path);
    } catch (...) {
      close_all();
      throw;
    }
    const int fd = open(file.path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
    bool written = fd >= 0;
    for (size_t k = 0; written && k < file.pieces.size(); ++k) written = WriteAll(fd, file.pieces[k]);
    if (!written) {
      const int err = errno;
      if (fd >= 0) CloseQuietly(fd);
      close_all();
      ThrowWriteError(file.path, err);
    }
    fds.push_back(fd);
  }

  // One flush waits for the disk to commit; flushes waiting at the same time
  // are committed together.
  std::vector<int> errors(fds.size(), 0);
  {
    std::vector<std::thread> flushers;
    for (size_t i = 1; i < fds.size(); ++i) {
      try {
        flushers.emplace_back([&errors, &fds, i] { errors[i] = FlushToDisk(fds[i]); });
      } catch (const std::system_error&) {
        errors[i] = FlushToDisk(fds[i]);  // no thread to spare: flush here
      }
    }
    if (!fds.empty()) errors[0] = FlushToDisk(fds[0]);
    for (std::thread& t : flushers) t.join();
  }
  for (size_t i = 0; i < fds.size(); ++i) {
    if (close(fds[i]) != 0 && errors[i] == 0) errors[i] = errno;
  }
  for (size_t i = 0; i < fds.size(); ++i)
    if (errors[i] != 0) ThrowWriteError(files[i].path, errors[i]);
}

void WriteFileAtomically(const std::string& path, std::string_view bytes) {
  AtomicFileWriter writer(path);
  writer.Write(bytes);
  writer.Commit();
}

AtomicFileWriter::AtomicFileWriter(std::string path)
    : path_(std::move(path)), folder_(FolderOf(path_)), temp_(TemporaryBeside(path_)) {
  CheckWriteAllowed(path_);
  fd_ = open(temp_.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
  if (fd_ < 0) ThrowWriteError(path_, errno);
  // A replaced file keeps its permissions.
  struct stat st {};
  if (stat(path_.c_str(), &st) == 0) fchmod(fd_, st.st_mode & 07777);
}

AtomicFileWriter::~AtomicFileWriter() {
  if (committed_) return;
  if (fd_ >= 0) close(fd_);
  RemoveFileQuietly(temp_);
}

void AtomicFileWriter::Fail(int err) {
  if (fd_ >= 0) CloseQuietly(fd_);
  fd_ = -1;
  RemoveFileQuietly(temp_);
  ThrowWriteError(path_, err);
}

// Hands bytes to the system. Every few megabytes the writing of what came
// so far to the disk is started, without waiting for it, so that the flush
// at Commit() does not have to write a large file all at once.
void AtomicFileWriter::Put(std::string_view bytes) {
  if (fd_ < 0) Fail(EBADF);  // an earlier step failed
  if (!WriteAll(fd_, bytes)) Fail(errno);
  written_ += bytes.size();
  constexpr uint64_t kStartEvery = 8 << 20;
  if (written_ - started_ >= kStartEvery) {
    sync_file_range(fd_, static_cast<off_t>(started_), static_cast<off_t>(written_ - started_),
                    SYNC_FILE_RANGE_WRITE);  // advice only: a failure shows at the flush
    started_ = written_;
  }
}

void AtomicFileWriter::Drain() {
  Put(pending_);
  pending_.clear();
}

void AtomicFileWriter::Write(std::string_view bytes) {
  if (pending_.size() + bytes.size() < kWriteChunk) {
    pending_.append(bytes);
    return;
  }
  Drain();
  if (bytes.size() < kWriteChunk) pending_.append(bytes);
  else Put(bytes);
}

void AtomicFileWriter::Commit() {
  Drain();
  const int flushed = FlushToDisk(fd_);
  if (flushed != 0) Fail(flushed);
  const int fd = std::exchange(fd_, -1);
  if (close(fd) != 0) Fail(errno);
  if (rename(temp_.c_str(), path_.c_str()) != 0) Fail(errno);
  committed_ = true;
  SyncFolder(folder_);
}

void RenameFile(const std::string& from, const std::string& to) {
  if (rename(from.c_str(), to.c_str()) != 0)
    throw Error("No se puede cambiar el nombre de " + from + " a " + to + ": " + OsErrorText(errno));
}

void SyncFolder(const std::string& folder) {
  const int fd = open(folder.empty() ? "." : folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) return;
  fsync(fd);
  close(fd);
}

void RemoveFileQuietly(const std::string& path) { unlink(path.c_str()); }

bool ReadToEnd(int fd, std::string* bytes) {
  struct stat st {};
  if (fstat(fd, &st) == 0 && st.st_size > 0) bytes->reserve(bytes->size() + static_cast<size_t>(st.st_size));
  char buffer[1 << 16];
  for (;;) {
    const ssize_t n = read(fd, buffer, sizeof buffer);
    if (n == 0) return true;
    if (n < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    bytes->append(buffer, static_cast<size_t>(n));
  }
}

std::string ReadFile(const std::string& path) {
  const int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) throw Error("No se puede leer el archivo " + path + ": " + OsErrorText(errno));
  std::string bytes;
  if (!ReadToEnd(fd, &bytes)) {
    const int err = errno;
    close(fd);
    throw Error("No se puede leer el archivo " + path + ": " + OsErrorText(err));
  }
  close(fd);
  return bytes;
}

void SetWriteFaultForTesting(std::function<bool(const std::string& path)> allow) {
  WriteFault() = std::move(allow);
}

}  // namespace tvs
