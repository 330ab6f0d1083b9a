// The composer's entries that scan a text first.
#include <utility>

#include "roundtrip/compose/composer.hpp"
#include "scanner/scanner.hpp"
#include "util/try.hpp"

namespace kestrine {

std::expected<ComposedStream, ComposeError> compose_text(std::string_view text,
                                                         std::uint32_t file_id,
                                                         bool empty_document_as_null, ListArena* arena) {
  Scanner scanner = new_scanner(text);
  scanner.file_id = file_id;
  scanner.keep_comments = true;
  auto scanned = scan_events(scanner);
  if (!scanned) return std::unexpected(ComposeError{scanned.error().message, scanned.error().span});
  return compose_scanned(text, *scanned, scanner.comments, scanner.leading_bom, empty_document_as_null, arena);
}

std::expected<std::vector<YamlNode>, ComposeError> parse_roundtrip(std::string_view text) {
  KESTRINE_ASSIGN_OR_RETURN(ComposedStream stream, compose_text(text, 0, false));
  return std::move(stream.roots);
}

std::expected<ComposedStream, ComposeError> parse_roundtrip_multi(std::string_view text) {
  return compose_text(text, 0, true);
}

std::expected<std::vector<YamlNode>, ComposeError> parse_roundtrip_file(std::string_view text,
                                                                        std::uint32_t file_id) {
  KESTRINE_ASSIGN_OR_RETURN(ComposedStream stream, compose_text(text, file_id, false));
  return std::move(stream.roots);
}

}  // namespace kestrine
