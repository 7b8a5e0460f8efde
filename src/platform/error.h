// The one exception type of the engine. Its message is Spanish, in UTF-8, and
// says what failed and where (file, list, entry, field, value), so that the
// run's boundary can show it to the user as it stands. Nothing between the
// failing call and that boundary catches it.
#pragma once

#include <stdexcept>
#include <string>

namespace tvs {

class Error : public std::runtime_error {
 public:
  explicit Error(const std::string& message) : std::runtime_error(message) {}
};

}  // namespace tvs
