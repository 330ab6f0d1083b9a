// Helpers shared by the round-trip emitter tests.
#pragma once

#include <gtest/gtest.h>

#include <string>
#include <string_view>
#include <vector>

#include "decode/decoder.hpp"
#include "decode/value.hpp"
#include "roundtrip/compose/composer.hpp"
#include "roundtrip/emit/emitter.hpp"
#include "util/stack_guard.hpp"

namespace kestrine::testing {

inline std::vector<YamlNode> compose_roots(std::string_view text) {
  auto r = parse_roundtrip(text);
  if (!r) {
    ADD_FAILURE() << "compose failed: " << r.error().message << " at line "
                  << r.error().span.line + 1 << "\n" << text;
    return {};
  }
  return std::move(*r);
}

inline void mark_modified(YamlNode& n) {
  n.comments.modified = true;
  stack_guarded([&] {
    for (YamlNode& item : n.items()) mark_modified(item);
    for (NodePair& p : n.pairs()) {
      mark_modified(p.key);
      mark_modified(p.value);
    }
  });
}

// The text re-rendered with every node marked edited (nothing is copied from
// the source text, not even block scalars).
inline std::string rerender(std::string_view text, NullStyle null_style = NullStyle::Default) {
  std::vector<YamlNode> roots = compose_roots(text);
  for (YamlNode& r : roots) mark_modified(r);
  return render_document(roots, text, false, null_style);
}

// Every document of a decoded stream, one debug rendering per line: the text
// the writer tests compare values by.
inline std::string documents_text(const DecodedStream& stream) {
  std::string out;
  for (const YamlValue& v : stream.documents) out += debug_render_value(v) + "\n";
  return out;
}

// The values the plain decoder reads from `text`, rendered for comparison.
inline std::string decoded(std::string_view text) {
  auto r = decode_stream(text, DecodeOptions{});
  if (!r) return "error: " + r.error().message + " at line " + std::to_string(r.error().span.line + 1);
  return documents_text(*r);
}

// Writes one root with an emitter configured by `setup`.
template <class Setup>
std::string emit_with(const YamlNode& root, Setup setup) {
  Emitter e;
  setup(e);
  emit_document(e, root);
  apply_final_break(e.out, e.final_break);
  return e.out;
}

inline std::string emit(const YamlNode& root) { return emit_to_string(root, NullStyle::Default); }

inline YamlNode scalar(std::string text, ScalarStyle style = ScalarStyle::Plain) {
  return YamlNode::scalar(std::move(text), style);
}

inline YamlNode map_of(std::vector<NodePair> pairs, CollectionStyle style = CollectionStyle::Block) {
  return YamlNode::mapping(std::move(pairs), style);
}

inline NodePair pair(YamlNode k, YamlNode v) { return NodePair{std::move(k), std::move(v)}; }

inline YamlNode seq_of(std::vector<YamlNode> items, CollectionStyle style = CollectionStyle::Block) {
  return YamlNode::sequence(std::move(items), style);
}

}  // namespace kestrine::testing
