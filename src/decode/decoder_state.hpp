// The plain decoder's state and the signatures of its steps: the class
// behind decode_stream and check_stream.  Its members are defined in
// decoder.cpp, the one file that includes this header.
#pragma once

#include <cstdint>
#include <limits>
#include <string>
#include <string_view>
#include <vector>

#include "decode/decoder.hpp"
#include "decode/directives.hpp"
#include "decode/duplicate_keys.hpp"
#include "util/hash_map.hpp"
#include "util/large_block.hpp"
#include "util/node_outcome.hpp"

namespace kestrine::decoder_detail {

constexpr std::string_view kMsgDirectivePlace =
    "a directive must be at the start of the stream or follow a document-end marker (...)";
constexpr std::string_view kMsgTrailing = "trailing content after document";
constexpr std::string_view kMsgTwoAnchors = "a node cannot have two anchors";
constexpr std::string_view kMsgTwoTags = "a node cannot have two tags";
constexpr std::string_view kMsgAliasProps = "an alias node cannot have an anchor or tag";
constexpr std::string_view kMsgAliasBomb = "document expands to too many nodes (possible alias bomb)";
constexpr std::string_view kMsgBlockKey = "a block collection cannot be a mapping key";
constexpr std::string_view kMsgExpectedColon = "expected ':' after mapping key";

inline std::string depth_message() {
  return "maximum nesting depth (" + std::to_string(kMaxNestingDepth) + ") exceeded";
}

inline std::uint64_t sat_add(std::uint64_t a, std::uint64_t b) noexcept {
  std::uint64_t r;
  return __builtin_add_overflow(a, b, &r) ? std::numeric_limits<std::uint64_t>::max() : r;
}

inline std::string position_text(const Span& s) {
  return "line " + std::to_string(std::uint64_t{s.line} + 1) + ", column " +
         std::to_string(std::uint64_t{s.column} + 1);
}

// What a node decode reports.  On `Node` the node itself sits on top of the
// decoder's value stack; `count` is its node count with aliases counted as if
// copied.  Small enough to travel in registers.
struct Decoded {
  std::uint64_t count = 0;
  NodeOutcome outcome = NodeOutcome::None;

  bool failed() const noexcept { return outcome == NodeOutcome::Failed; }
  bool present() const noexcept { return outcome == NodeOutcome::Node; }
};
constexpr Decoded kFailed{0, NodeOutcome::Failed};
constexpr Decoded kNone{0, NodeOutcome::None};
constexpr Decoded decoded_node(std::uint64_t count) noexcept { return Decoded{count, NodeOutcome::Node}; }

struct AnchorEntry {
  YamlValue value;      // the finished node (shared by every alias to it)
  std::uint64_t count;  // its node count as if copied
};

// A String or BigInt handle referring to `t` (built in registers).
inline YamlValue text_value(ValueArena& arena, ValueKind kind, std::string_view t) {
  if (t.size() < YamlValue::kLongLength) [[likely]] {
    YamlValue v;
    v.kind = kind;
    v.len_ = static_cast<std::uint32_t>(t.size());
    v.text_ = t.data();
    return v;
  }
  return kind == ValueKind::String ? arena.make_string_ref(t) : arena.make_bigint_ref(t);
}

inline bool is_closing(EventKind k) noexcept {
  return k == EventKind::MappingEnd || k == EventKind::SequenceEnd || k == EventKind::BlockEnd;
}
inline bool is_document_boundary(EventKind k) noexcept {
  return k == EventKind::StreamEnd || k == EventKind::DocumentStart || k == EventKind::DocumentEnd;
}

// kVerdictOnly: the documents are not wanted, only whether decoding succeeds
// (see check_events).  Values stand in for nodes only as far as the verdict
// reads them: a collection's kind (complex keys), a merge key's node count
// (the alias budget).  Nothing is built in the arena and merge keys are not
// folded.  A parameter of the type, so that the decoding pass pays nothing
// for it.
template <bool kVerdictOnly>
class Decoder {
 public:
  Decoder(const ScanResult& scan, ValueArena& arena, const DecodeOptions& opts, DecodedStream& out)
      : ev_(scan.events.data()),
        n_(scan.events.size()),
        file_id_(scan.file_id),
        arena_(arena),
        opts_(opts),
        dup_check_(opts.duplicate_keys != DuplicateKeyPolicy::Silent),
        out_(out),
        seen_keys_(opts.key_tags) {
    // Room for the children of a few open collections; a small text gets a
    // block small enough for the allocator's per-thread cache.  A large one
    // gets room for one child per two events, what a flat collection of
    // scalars needs: the stack then does not regrow (each doubling a copy of
    // megabytes), and the pages it does not reach are never touched.
    vals_.reserve(n_ < 128 ? 64 : n_ / 2);
  }

  // False on failure; the error is then in error().
  bool run();
  DecoderError& error() noexcept { return error_; }

 private:
  // ---- errors ----
  Decoded fail(std::string message, const Span& span, DecoderErrorKind kind = DecoderErrorKind::Parse) {
    error_.message = std::move(message);
    error_.span = span;
    error_.kind = kind;
    return kFailed;
  }
  Decoded fail(std::string_view message, const Span& span,
           DecoderErrorKind kind = DecoderErrorKind::Parse) {
    return fail(std::string(message), span, kind);
  }
  Span span_of(const SpannedEvent& e) const noexcept { return e.start(file_id_); }
  Span current_span() const noexcept { return idx_ < n_ ? span_of(ev_[idx_]) : Span{}; }
  bool at(EventKind k) const noexcept { return idx_ < n_ && ev_[idx_].kind == k; }

  // ---- the value stack ----
  void push(YamlValue v) { vals_.push_back(v); }
  YamlValue& top() noexcept { return vals_.back(); }
  YamlValue pop() noexcept {
    const YamlValue v = vals_.back();
    vals_.pop_back();
    return v;
  }
  // No node stands for Null where the grammar needs a node.
  Decoded or_null(Decoded r) {
    if (r.outcome != NodeOutcome::None) return r;
    push(YamlValue::null());
    return decoded_node(1);
  }
  YamlValue finish_sequence(std::size_t mark) {
    if constexpr (kVerdictOnly) {
      vals_.resize(mark);
      return YamlValue::empty_sequence();
    }
    const YamlValue v =
        arena_.make_sequence(std::span<const YamlValue>(vals_.data() + mark, vals_.size() - mark));
    vals_.resize(mark);
    return v;
  }
  YamlValue finish_mapping(std::size_t mark) {
    if constexpr (kVerdictOnly) {
      vals_.resize(mark);
      return YamlValue::empty_mapping();
    }
    const YamlValue v = arena_.make_mapping_flat(
        std::span<const YamlValue>(vals_.data() + mark, vals_.size() - mark));
    vals_.resize(mark);
    return v;
  }

  // ---- stream level ----
  bool directive_run();
  void end_document();

  // ---- nodes ----
  Decoded decode_node(bool indentless);
  Decoded node_body(bool indentless);
  Decoded empty_node(const std::string_view* tag, bool has_anchor);
  bool bare_scalar(const SpannedEvent& e);
  bool bare_item(bool flow);
  Decoded scalar(const SpannedEvent& e, const std::string_view* tag);
  Decoded decode_mapping(bool flow);
  Decoded decode_sequence(bool flow);
  Decoded sequence_entry(bool flow);
  Decoded decode_indentless();
  Decoded single_pair(std::size_t mark, std::uint64_t count, const SpannedEvent& place);
  bool check_complex(const YamlValue& key, const SpannedEvent& place);
  bool report_duplicate(const YamlValue& key, const SpannedEvent& place);
  bool resolve_tag(const SpannedEvent& e, std::string_view& out);

  const SpannedEvent* ev_;
  std::size_t n_;
  std::uint32_t file_id_;
  std::size_t idx_ = 0;
  std::uint32_t depth_ = 0;
  std::uint64_t alias_nodes_ = 0;
  bool has_merge_ = false;

  ValueArena& arena_;
  const DecodeOptions& opts_;
  const bool dup_check_;
  DecodedStream& out_;
  DecoderError error_;

  // Children of the open collections, innermost last.
  std::vector<YamlValue, BlockAllocator<YamlValue>> vals_;  // large ones mapped on their own
  SeededHashMap<std::string_view, AnchorEntry> anchors_;
  TagHandles tag_handles_;
  DuplicateKeyIndex seen_keys_;
};

}  // namespace kestrine::decoder_detail
