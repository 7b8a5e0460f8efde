// Small POSIX helpers shared by the file helpers and the table engine.
// Internal to the platform layer.
#pragma once

#include <string>

namespace tvs {

// A short Spanish text for the common errno values of file work ("permiso
// denegado", "no queda espacio en el disco" ...); the C library's text for
// the others.
std::string OsErrorText(int error_number);

// Reads from `fd` to its end, appending to `bytes`. On failure returns false
// with errno set; `bytes` then holds what was read.
bool ReadToEnd(int fd, std::string* bytes);

}  // namespace tvs
