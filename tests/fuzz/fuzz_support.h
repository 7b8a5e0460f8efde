// Small helpers the fuzz targets share: a scratch folder on a memory file
// system when there is one (the runs flush every file they write, which costs
// nothing there), folder snapshots to check that a failed run changed
// nothing, and the check that a message is text a user can read.
#pragma once

#include <dirent.h>
#include <libxml/xmlstring.h>
#include <signal.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <string_view>
#include <vector>

namespace tvs::fuzz {

// Ends the process the way a sanitizer report does, so that libFuzzer keeps
// the input: a broken promise of the engine is a finding like a crash.
[[noreturn]] inline void Broken(const std::string& what) {
  std::fprintf(stderr, "FUZZ FINDING: %s\n", what.c_str());
  std::fflush(stderr);
  std::abort();
}

inline void RemoveFolder(const std::string& folder);

// libFuzzer often ends a process without running exit handlers (a finding,
// -minimize_crash, -fork): a scratch folder carries its process id, and the
// folders of processes that no longer exist are removed by the next one.
inline void RemoveScratchOfDeadProcesses(const std::string& base) {
  DIR* dir = opendir(base.c_str());
  if (dir == nullptr) return;
  std::vector<std::string> dead;
  while (const dirent* e = readdir(dir)) {
    const std::string name = e->d_name;
    if (name.rfind("tvs-fuzz-", 0) != 0) continue;
    const size_t dash = name.rfind('-');
    const size_t before = dash == std::string::npos || dash == 0 ? std::string::npos : name.rfind('-', dash - 1);
    if (before == std::string::npos) continue;
    const long pid = std::strtol(name.c_str() + before + 1, nullptr, 10);
    if (pid > 0 && kill(static_cast<pid_t>(pid), 0) != 0 && errno == ESRCH) dead.push_back(base + "/" + name);
  }
  closedir(dir);
  for (const std::string& folder : dead) RemoveFolder(folder);
}

inline std::string NewScratchFolder(const char* tag) {
  const char* tmp = std::getenv("TMPDIR");
  const std::string base = access("/dev/shm", W_OK) == 0 ? "/dev/shm" : (tmp != nullptr ? tmp : "/tmp");
  RemoveScratchOfDeadProcesses(base);
  std::string pattern = base + "/tvs-fuzz-" + tag + "-" + std::to_string(getpid()) + "-XXXXXX";
  if (mkdtemp(pattern.data()) == nullptr) Broken("cannot create a scratch folder under " + base);
  return pattern;
}

inline std::string ReadAll(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream out;
  out << in.rdbuf();
  return out.str();
}

inline void WriteAll(const std::string& path, std::string_view bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
  if (!out) Broken("cannot write " + path);
}

// Every entry of `folder` (no sub-folders are expected) with its bytes.
inline std::map<std::string, std::string> Snapshot(const std::string& folder) {
  std::map<std::string, std::string> files;
  if (DIR* dir = opendir(folder.c_str())) {
    while (const dirent* e = readdir(dir)) {
      const std::string name = e->d_name;
      if (name == "." || name == "..") continue;
      files[name] = ReadAll(folder + "/" + name);
    }
    closedir(dir);
  }
  return files;
}

inline void RemoveAll(const std::string& folder) {
  for (const auto& [name, bytes] : Snapshot(folder)) unlink((folder + "/" + name).c_str());
}

inline void RemoveFolder(const std::string& folder) {
  RemoveAll(folder);
  rmdir(folder.c_str());
}

// A message for the user: not empty, UTF-8 (it is shown as it stands).
inline void CheckMessage(const char* message) {
  if (message == nullptr || *message == '\0') Broken("an error without a message");
  if (xmlCheckUTF8(reinterpret_cast<const xmlChar*>(message)) == 0)
    Broken(std::string("an error message that is not UTF-8: ") + message);
}

}  // namespace tvs::fuzz
