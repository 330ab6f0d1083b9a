// The round-trip composer: turns the events of one text into one YamlNode
// tree per document, keeping styles, anchors and aliases (unresolved), tags,
// directives, document markers, positions and comments.  Directives and tag
// handles are checked as the plain decoder checks them, so both refuse the
// same streams; a tag keeps its written form and, where a %TAG handle of its
// document applies, its expansion (YamlNode::expanded_tag).
#pragma once

#include <cstddef>
#include <cstdint>
#include <expected>
#include <span>
#include <string_view>
#include <vector>

#include "roundtrip/tree/ast.hpp"
#include "roundtrip/tree/compose_error.hpp"
#include "scanner/scanner.hpp"

namespace kestrine {

// The nesting limit of composition.
inline constexpr std::uint32_t kMaxComposeDepth = 1000;

// Roots of a stream, and where each root's document begins in the text (0 for
// the first root; for later ones the offset of the first directive, else the
// "---" marker, else the first event of the document).
struct ComposedStream {
  std::vector<YamlNode> roots;
  std::vector<std::size_t> document_starts;
  bool aliases = false;  // some root holds an alias node (else no alias needs binding)
  bool tags = false;     // some node holds a tag (else no walk for tags finds any)
  // The nodes of the roots, as counted before composing (exact for text that
  // composes as it reads; only for budgets).
  std::uint64_t nodes = 0;
};

// The document roots of `text` (file number 0), in order.  A document opened
// by "---" without content produces no root.  Scanner errors come back in the
// same shape as composition errors.
std::expected<std::vector<YamlNode>, ComposeError> parse_roundtrip(std::string_view text);

// As parse_roundtrip, except that a document opened by "---" without content
// produces a Null root; also gives the document start offsets (for cutting
// the text into per-document texts).
std::expected<ComposedStream, ComposeError> parse_roundtrip_multi(std::string_view text);

// As parse_roundtrip, with every Span carrying `file_id`.  Keeps no state
// between calls; reads no file.
std::expected<std::vector<YamlNode>, ComposeError> parse_roundtrip_file(std::string_view text,
                                                                        std::uint32_t file_id);

// The general entry behind the three above.  The child lists go to `arena`
// when given (the texts of one load share its chunks), else to the call's
// own; either way the trees keep the chunks they use alive.
std::expected<ComposedStream, ComposeError> compose_text(std::string_view text,
                                                         std::uint32_t file_id,
                                                         bool empty_document_as_null,
                                                         ListArena* arena = nullptr);

// Composes the events of a scan of `text` made with keep_comments (as
// compose_text does after scanning), for a caller that reads the same events
// in another way too; `comments` and `leading_bom` come from that scanner.
// The scan and its texts must outlive the call; the trees own their texts.
std::expected<ComposedStream, ComposeError> compose_scanned(std::string_view text, const ScanResult& scanned,
                                                            std::span<const SourceComment> comments,
                                                            bool leading_bom, bool empty_document_as_null,
                                                            ListArena* arena = nullptr);

}  // namespace kestrine
