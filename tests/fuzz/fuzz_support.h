// Small helpers the fuzz targets share: a scratch folder on a memory file
// system when there is one (the runs flush every file they write, which costs
// nothing there), folder snapshots to check that a failed run changed
// nothing, and the check that a message is text a user can read.
#pragma once

#include <dirent.h>
#include <libxml/xmlstring.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <string_view>

namespace tvs::fuzz {

// Ends the process the way a sanitizer report does, so that libFuzzer keeps
// the input: a broken promise of the engine is a finding like a crash.
[[noreturn]] inline void Broken(const std::string& what) {
  std::fprintf(stderr, "FUZZ FINDING: %s\n", what.c_str());
  std::fflush(stderr);
  std::abort();
}

inline std::string NewScratchFolder(const char* tag) {
  const char* base = access("/dev/shm", W_OK) == 0 ? "/dev/shm" : (std::getenv("TMPDIR") ? std::getenv("TMPDIR") : "/tmp");
  std::string pattern = std::string(base) + "/tvs-fuzz-" + tag + "-XXXXXX";
  if (mkdtemp(pattern.data()) == nullptr) Broken("cannot create a scratch folder under " + std::string(base));
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

// A message for the user: not empty, UTF-8 (it is shown as it stands).
inline void CheckMessage(const char* message) {
  if (message == nullptr || *message == '\0') Broken("an error without a message");
  if (xmlCheckUTF8(reinterpret_cast<const xmlChar*>(message)) == 0)
    Broken(std::string("an error message that is not UTF-8: ") + message);
}

}  // namespace tvs::fuzz
