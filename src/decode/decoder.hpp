// The plain decoder: a YAML stream to one `YamlValue` per document.
//
// Usage (the plain road of `loads` / `loads_all`):
//   kestrine::DecodeOptions opts;
//   opts.version_mode = kestrine::VersionMode::Yaml12;
//   opts.duplicate_keys = kestrine::DuplicateKeyPolicy::Warn;
//   auto res = kestrine::decode_stream(text, opts);   // no Python inside
//   if (!res) { /* res.error(): message, span, kind */ }
//   for (const std::string& w : res->warnings) log(w);
//   if (!res->documents.empty()) convert(res->documents[0]);
//
// The scan, directives, anchors and aliases, tags, scalar resolution,
// duplicate- and complex-key policies, YAML 1.1 difference warnings, the
// nesting limit and the alias budget all happen here; merge keys are folded in
// once the whole stream is decoded.
//
// Ownership and lifetimes.  `DecodedStream` owns the arena that holds every
// document and the scanner's storage for scalar texts that differ from the
// source (escapes, folding).  Strings that appear verbatim in the source are
// NOT copied: they are views into the text passed to `decode_stream`, which
// must therefore outlive the result (`decode_stream_owned` moves the text into
// the result instead).  The result is movable and self-contained otherwise, so
// a caller may decode with the interpreter lock released and convert later.
//
// Aliases.  An alias shares the anchored subtree instead of copying it: a
// document is a DAG whose shared parts are read-only.  Every walk sees the
// shared parts as if they were copied, and the alias budget is charged with
// the anchored node count exactly as a copy would cost, so walks over the
// result are bounded by the budget.  The anchored node and the aliases to it
// carry YamlValue::kSharedTexts, so the conversion to Python makes one str
// (or int) per text of such a subtree: what an alias expansion builds is then
// bounded by its node count, never by the bytes of its texts.  Do not edit decoded trees in place;
// replace handles or build new arrays (merge-key folding is idempotent and
// therefore safe on shared parts).
#pragma once

#include <cstddef>
#include <cstdint>
#include <expected>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "decode/directives.hpp"  // is_custom_tag, split_directive_words for readers of tags
#include "decode/error.hpp"
#include "decode/value.hpp"
#include "resolver/kind.hpp"
#include "scanner/scanner.hpp"

namespace kestrine {

// What happens when a mapping holds two keys that are equal as Python values.
enum class DuplicateKeyPolicy : std::uint8_t {
  Silent = 0,  // keys are not compared; both pairs stay (the conversion keeps the last)
  Warn = 1,    // both pairs stay and a warning names the later key
  Error = 2,   // the later key fails the decode (DecoderErrorKind::DuplicateKey)
};

// From the option bits of a load: duplicate_keys is Error when
// OPT_DUPLICATE_KEYS_ERROR is set (whatever OPT_DUPLICATE_KEYS_WARN says), Warn
// when only OPT_DUPLICATE_KEYS_WARN is; reject_complex_keys is
// OPT_REJECT_COMPLEX_KEYS; timestamps is OPT_TIMESTAMPS, always on under
// OPT_PYYAML_COMPAT; yaml11_warnings is OPT_YAML_1_1_WARN when the YAML 1.1
// reading was chosen.
struct DecodeOptions {
  VersionMode version_mode = VersionMode::Yaml12;
  DuplicateKeyPolicy duplicate_keys = DuplicateKeyPolicy::Silent;
  bool reject_complex_keys = false;  // sequence or mapping keys fail (ComplexKey)
  bool timestamps = false;           // plain untagged timestamp texts become Timestamp
  bool yaml11_warnings = false;      // warn where the mode's reading differs from YAML 1.2
  std::uint32_t file_id = 0;         // carried in every Span (included files)
  // The custom tags the conversion keeps on keys (null: none, as without tag
  // handlers): duplicate keys, and the keys merge keys fold, are compared as
  // they will stand in Python.  Borrowed; must outlive the decode.
  const KeyTags* key_tags = nullptr;
};

// The limits of one decode.
inline constexpr std::uint32_t kMaxNestingDepth = 1000;
inline constexpr std::uint64_t kAliasBudget = 10'000'000;

struct DecodedStream {
  DecodedStream() = default;
  DecodedStream(DecodedStream&&) noexcept = default;
  DecodedStream& operator=(DecodedStream&&) noexcept = default;

  ValueArena arena;                    // every document's nodes
  TextArena scalar_texts;              // scanner storage that string values may refer to
  std::unique_ptr<std::string> owned_text;  // set by decode_stream_owned
  std::vector<YamlValue> documents;    // one root per document, in stream order
  std::vector<std::string> warnings;   // in the order produced; positions in the wording
  bool ascii_texts = false;            // every String and BigInt text is ASCII (ScanResult::ascii_texts)
};

// Decodes every document of `text` (UTF-8).  Fails with the first error; no
// partial result.  Throws std::bad_alloc when memory runs out.
std::expected<DecodedStream, DecoderError> decode_stream(std::string_view text,
                                                         const DecodeOptions& options);

// The same, the result taking ownership of `text` (no lifetime rule for the
// caller).
std::expected<DecodedStream, DecoderError> decode_stream_owned(std::string text,
                                                               const DecodeOptions& options);

// Decodes an event vector that `scan` produced from `text` (texts of `scan`
// must stay alive as for decode_stream).  `scan.arena` is moved into the
// result; `scan.events` is left intact.
std::expected<DecodedStream, DecoderError> decode_events(ScanResult& scan,
                                                         std::size_t text_size_hint,
                                                         const DecodeOptions& options);

// decode_events' verdict alone: its error, or nothing when it would succeed.
// Leaves `scan` untouched.  Unless a duplicate-key policy needs the keys'
// values, no document is built: the pass costs a fraction of a decode.
std::optional<DecoderError> check_events(const ScanResult& scan, std::size_t text_size_hint,
                                         const DecodeOptions& options);

// decode_stream's verdict alone, as check_events gives it.
std::optional<DecoderError> check_stream(std::string_view text, const DecodeOptions& options);

}  // namespace kestrine
