#include "util/os_error.hpp"

#include <cstring>

namespace kestrine {

std::string os_error_text(int error) {
  char buffer[256];
  return std::string(::strerror_r(error, buffer, sizeof buffer));
}

}  // namespace kestrine
