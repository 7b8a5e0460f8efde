// The working folder: where Tavoleno keeps its tables (C:\VTEMP on Windows).
#pragma once

#include <string>

namespace tvs {

// TRANSVELMAR_VTEMP when set and not empty; otherwise
// ${WINEPREFIX:-$HOME/.wine}/drive_c/VTEMP, where a Windows program running
// under Wine sees C:\VTEMP.
std::string DefaultWorkingFolder();

}  // namespace tvs
