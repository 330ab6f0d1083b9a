// The in-file schema reference: the editor convention of naming a file's
// JSON Schema in a comment at its top,
//
//   # yaml-language-server: $schema=./service.schema.json
//
// found without parsing the YAML.  Only the block of blank and comment lines
// that opens the text is read; the first directive, document marker or
// content line ends the search.  `schema_ref(data)` returns the reference and
// `loads(..., schema="auto", schema_resolver=...)` hands it to the resolver.
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace kestrine {

// The reference of the first matching comment line of `text` (UTF-8, a
// leading byte-order mark left in place, which then hides the first line),
// trimmed of white space at both ends; nothing when there is none.  Never
// fails.
std::optional<std::string> find_schema_modeline(std::string_view text);

}  // namespace kestrine
