#include "platform/working_folder.h"

#include <cstdlib>

namespace tvs {

std::string DefaultWorkingFolder() {
  if (const char* v = std::getenv("TRANSVELMAR_VTEMP"); v && *v) return v;
  std::string prefix;
  if (const char* w = std::getenv("WINEPREFIX"); w && *w) {
    prefix = w;
  } else {
    const char* home = std::getenv("HOME");
    prefix = std::string(home && *home ? home : ".") + "/.wine";
  }
  return prefix + "/drive_c/VTEMP";
}

}  // namespace tvs
