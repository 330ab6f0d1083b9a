#include "roundtrip/compose/checked_compose.hpp"

#include <utility>

#include "scanner/scanner.hpp"

namespace kestrine {
namespace {

CheckedCompose from_composed(std::expected<ComposedStream, ComposeError> composed) {
  CheckedCompose load;
  if (composed) {
    load.composed = std::move(*composed);
  } else {
    load.compose_error = std::move(composed.error());
  }
  return load;
}

}  // namespace

CheckedCompose checked_compose(std::string_view text, const std::optional<DecodeOptions>& check,
                               bool empty_document_as_null) {
  if (!check) return from_composed(compose_text(text, 0, empty_document_as_null));
  Scanner scanner = new_scanner(text);
  scanner.keep_comments = true;
  auto scanned = scan_events(scanner);
  if (!scanned) {
    CheckedCompose load;
    load.check_error = DecoderError{std::move(scanned.error().message), scanned.error().span, DecoderErrorKind::Parse};
    return load;
  }
  if (auto error = check_events(*scanned, text.size(), *check)) {
    CheckedCompose load;
    load.check_error = std::move(error);
    return load;
  }
  return from_composed(compose_scanned(text, *scanned, scanner.comments, scanner.leading_bom, empty_document_as_null));
}

std::optional<SourceCheckError> check_source_texts(std::span<const std::optional<std::string>> texts,
                                                   const DecodeOptions& options) {
  for (std::size_t i = 0; i < texts.size(); ++i) {
    if (!texts[i]) continue;
    if (auto error = check_stream(*texts[i], options)) return SourceCheckError{i, std::move(*error)};
  }
  return std::nullopt;
}

}  // namespace kestrine
