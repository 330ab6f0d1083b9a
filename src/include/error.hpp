// The include loader's error record.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "scanner/span.hpp"

namespace kestrine {

enum class IncludeErrorKind : std::uint8_t {
  IncludeNotFound = 0,     // an included file or directory cannot be read
  CircularInclude = 1,     // a file already on the include chain
  IncludeDepth = 2,        // the chain depth or file-count limit
  IncludeConfinement = 3,  // a path outside the include root
  SecretNotFound = 4,
  EnvVar = 5,
  Parse = 6,               // a syntax error in the top-level text or an included file
  Include = 7,             // any other include failure
  DuplicateKey = 8,        // two files of a directory tag would be one key
};

// One entry of the include chain: a file being expanded and the 0-based line,
// in the including file, of the directive that included it.
struct IncludeFrame {
  std::string file;  // path bytes as the file system gave them
  std::uint32_t line = 0;
};

struct LoadError {
  std::optional<Span> span;  // where the error lies (always present for Parse)
  std::string message;
  std::string file;          // the file the error is attributed to (path bytes)
  std::vector<IncludeFrame> include_chain;
  IncludeErrorKind kind = IncludeErrorKind::Include;
};

// "{message} in {file}" followed by one "\n  included from {file}, line {n}"
// per chain frame (n 1-based).  The texts are used as they are; the Python
// side decodes invalid UTF-8 with replacement characters.
std::string format_load_error(const LoadError& error);

}  // namespace kestrine
