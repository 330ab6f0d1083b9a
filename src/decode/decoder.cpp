// The plain decoder: walks the scanner's event vector by index and builds one
// value tree per document in a single arena.
//
// Hot path: a scalar costs one resolver call and one handle pushed onto the
// decoder's value stack; a collection costs one exactly sized arena array.  Texts
// are referred to, not copied.  Nothing here allocates per event except where
// the input asks for it (a %TAG-expanded tag, a normalised big integer, a
// warning, a duplicate-key signature when a duplicate policy is on).
#include "decode/decoder.hpp"

#include <cmath>
#include <cstring>
#include <limits>
#include <optional>
#include <utility>

#include "decode/decoder_state.hpp"
#include "decode/merge.hpp"
#include "resolver/common_plain.hpp"
#include "resolver/resolve.hpp"
#include "resolver/timestamp.hpp"
#include "util/hash_map.hpp"
#include "util/node_outcome.hpp"
#include "util/stack_guard.hpp"
#include "util/try.hpp"

namespace kestrine {

namespace decoder_detail {

// ---------------------------------------------------------------------------
// Stream

template <bool kVerdictOnly>
bool Decoder<kVerdictOnly>::run() {
  bool directives_allowed = true;
  while (idx_ < n_) {
    const SpannedEvent& e = ev_[idx_];
    bool explicit_doc = false;
    switch (e.kind) {
      case EventKind::StreamStart:
      case EventKind::StreamEnd:
        ++idx_;
        continue;
      case EventKind::DocumentEnd:
        ++idx_;
        directives_allowed = true;
        continue;
      case EventKind::Directive:
        if (!directives_allowed) {
          fail(kMsgDirectivePlace, span_of(e));
          return false;
        }
        if (!directive_run()) return false;
        continue;  // the DocumentStart that follows is handled next
      case EventKind::DocumentStart: {
        ++idx_;
        explicit_doc = true;
        const Decoded root = or_null(decode_node(false));
        if (root.failed()) return false;
        break;
      }
      default: {
        const std::size_t start = idx_;
        const Decoded root = decode_node(false);
        if (root.failed()) return false;
        if (idx_ == start) ++idx_;  // a stray event: step over it
        if (!root.present()) continue;
        break;
      }
    }
    out_.documents.push_back(pop());
    if (idx_ < n_) {
      const EventKind k = ev_[idx_].kind;
      if (!is_document_boundary(k) && k != EventKind::Directive) {
        fail(kMsgTrailing, span_of(ev_[idx_]));
        return false;
      }
    }
    end_document();
    directives_allowed = false;
    if (explicit_doc && at(EventKind::DocumentEnd)) {
      ++idx_;
      directives_allowed = true;
    }
  }
  if (has_merge_ && !kVerdictOnly) {
    for (YamlValue& doc : out_.documents) apply_merge_keys(arena_, doc, opts_.key_tags);
  }
  return true;
}

// Anchors and %TAG handles never reach the next document.
template <bool kVerdictOnly>
void Decoder<kVerdictOnly>::end_document() {
  anchors_.clear();
  tag_handles_.clear();
  seen_keys_.end_document();
}

template <bool kVerdictOnly>
bool Decoder<kVerdictOnly>::directive_run() {
  const auto next = read_directive_run(std::span<const SpannedEvent>(ev_, n_), idx_, tag_handles_);
  if (!next) {
    fail(next.error().message, span_of(ev_[next.error().event]));
    return false;
  }
  idx_ = *next;
  return true;
}

// ---------------------------------------------------------------------------
// Tags

template <bool kVerdictOnly>
bool Decoder<kVerdictOnly>::resolve_tag(const SpannedEvent& e, std::string_view& out) {
  const auto resolved = tag_handles_.resolve(e.text(), arena_);
  if (!resolved) {
    fail(undefined_tag_handle_message(resolved.error()), span_of(e));
    return false;
  }
  out = *resolved;
  return true;
}

// ---------------------------------------------------------------------------
// Nodes

template <bool kVerdictOnly>
Decoded Decoder<kVerdictOnly>::decode_node(bool indentless) {
  // Most nodes are scalars without properties: they skip the property loop
  // and the dispatch (a scalar counts as a level too, hence the depth test).
  if (idx_ < n_ && ev_[idx_].kind == EventKind::Scalar && depth_ < kMaxNestingDepth && bare_scalar(ev_[idx_])) {
    ++idx_;
    return decoded_node(1);
  }
  if (++depth_ > kMaxNestingDepth) {
    --depth_;
    return fail(depth_message(), current_span());
  }
  if constexpr (kVerdictOnly) {
    // The most common node, a scalar without properties, needs nothing of
    // node_body for the verdict (a merge key's count aside).
    if (idx_ < n_ && ev_[idx_].kind == EventKind::Scalar && ev_[idx_].text() != "<<") {
      ++idx_;
      --depth_;
      push(YamlValue::null());
      return decoded_node(1);
    }
  }
  const Decoded r = (depth_ % 8 == 1) ? stack_guarded([&] { return node_body(indentless); })
                                  : node_body(indentless);
  --depth_;
  return r;
}

template <bool kVerdictOnly>
Decoded Decoder<kVerdictOnly>::node_body(bool indentless) {
  std::string_view tag, anchor;
  bool has_tag = false, has_anchor = false;
  for (; idx_ < n_; ++idx_) {
    const SpannedEvent& p = ev_[idx_];
    if (p.kind == EventKind::Anchor) {
      if (has_anchor) return fail(kMsgTwoAnchors, span_of(p));
      anchor = p.text();
      has_anchor = true;
    } else if (p.kind == EventKind::Tag) {
      if (has_tag) return fail(kMsgTwoTags, span_of(p));
      if (!resolve_tag(p, tag)) return kFailed;
      has_tag = true;
    } else {
      break;
    }
  }
  if (idx_ >= n_) return kNone;  // the events ended: no node, properties dropped

  const SpannedEvent& e = ev_[idx_];
  const std::string_view* const tag_ptr = has_tag ? &tag : nullptr;
  Decoded r;
  switch (e.kind) {
    case EventKind::Scalar:
      ++idx_;
      r = scalar(e, tag_ptr);
      break;
    case EventKind::MappingStart:
      ++idx_;
      r = decode_mapping(e.flow);
      break;
    case EventKind::SequenceStart:
      ++idx_;
      r = decode_sequence(e.flow);
      break;
    case EventKind::Alias: {
      if (has_tag || has_anchor) return fail(kMsgAliasProps, span_of(e));
      ++idx_;
      const auto it = anchors_.find(e.text());
      if (it == anchors_.end()) {
        return fail(unknown_alias_message(std::span<const SpannedEvent>(ev_, n_), idx_ - 1), span_of(e));
      }
      alias_nodes_ = sat_add(alias_nodes_, it->second.count);
      if (alias_nodes_ > kAliasBudget) return fail(kMsgAliasBomb, span_of(e));
      push(it->second.value);  // flagged kSharedTexts when the anchor was stored
      return decoded_node(it->second.count);
    }
    case EventKind::SequenceEntry:
      r = indentless ? decode_indentless() : empty_node(tag_ptr, has_anchor);
      break;
    case EventKind::StreamStart:
    case EventKind::Directive:
      ++idx_;
      r = decode_node(indentless);
      break;
    default:
      r = empty_node(tag_ptr, has_anchor);
      break;
  }
  if (!r.present()) return r;
  if (has_tag && is_custom_tag(tag)) {
    top() = arena_.make_tagged_ref(tag, top());
    r.count = sat_add(r.count, 1);
  }
  if (has_anchor) {
    // The anchored node and its aliases share their texts' objects once
    // converted, so an alias of a large scalar costs no copy of it.
    top().flags |= YamlValue::kSharedTexts;
    anchors_.insert_or_assign(anchor, AnchorEntry{top(), r.count});
  }
  return r;
}

// A node with properties but no content: the empty text under the tag, or
// Null for an anchor alone; nothing at all without properties.
template <bool kVerdictOnly>
Decoded Decoder<kVerdictOnly>::empty_node(const std::string_view* tag, bool has_anchor) {
  if (tag == nullptr) {
    if (!has_anchor) return kNone;
    push(YamlValue::null());
    return decoded_node(1);
  }
  const ScalarKind k = resolve_scalar_kind(opts_.version_mode, {}, false, *tag);
  switch (k.type) {
    case ScalarType::Null:
      push(YamlValue::null());
      break;
    case ScalarType::Bool:
      push(YamlValue::of_bool(k.boolean));
      break;
    case ScalarType::Int:
      push(YamlValue::of_int(k.integer));
      break;
    case ScalarType::Float:
      push(YamlValue::of_float(k.real));
      break;
    case ScalarType::Merge:
      has_merge_ = true;
      push(merge_key_value(arena_));
      return decoded_node(2);
    case ScalarType::BigInt:
    case ScalarType::Str:
      push(text_value(arena_, ValueKind::String, std::string_view("", 0)));
      break;
  }
  return decoded_node(1);
}

// A scalar without tag or anchor whose value needs none of the rarer steps
// (YAML 1.1 warnings, timestamps, big integers, the merge key): pushed, and
// true.  False leaves everything to `scalar`.
template <bool kVerdictOnly>
[[gnu::always_inline]] inline bool Decoder<kVerdictOnly>::bare_scalar(const SpannedEvent& e) {
  const std::string_view text = e.text();
  // The verdict needs no value: only a merge key can fail later.
  if constexpr (kVerdictOnly) {
    if (text == "<<") return false;
    push(YamlValue::null());
    return true;
  }
  ScalarKind k;
  if (e.style != ScalarStyle::Plain) {
    push(text_value(arena_, ValueKind::String, text));  // untagged: always a string
    return true;
  }
  if (!resolve_common_plain(text, k)) {
    // The common forms read alike in every mode, so only the others can
    // differ from YAML 1.2 and need the warning check.
    if (opts_.yaml11_warnings) return false;
    static constexpr std::optional<std::string_view> kNoTag{};
    k = resolve_scalar_kind(opts_.version_mode, text, false, kNoTag);
  }
  switch (k.type) {
    case ScalarType::Null:
      push(YamlValue::null());
      return true;
    case ScalarType::Bool:
      push(YamlValue::of_bool(k.boolean));
      return true;
    case ScalarType::Int:
      push(YamlValue::of_int(k.integer));
      return true;
    case ScalarType::Float:
      push(YamlValue::of_float(k.real));
      return true;
    case ScalarType::Str:
      if (opts_.timestamps && !text.empty() && text[0] >= '0' && text[0] <= '9') return false;
      push(text_value(arena_, ValueKind::String, text));
      return true;
    default:
      return false;
  }
}

template <bool kVerdictOnly>
Decoded Decoder<kVerdictOnly>::scalar(const SpannedEvent& e, const std::string_view* tag) {
  const std::string_view text = e.text();
  // Resolving a scalar never fails; only a merge key counts otherwise.
  if (kVerdictOnly && tag == nullptr && text != "<<") {
    push(YamlValue::null());
    return decoded_node(1);
  }
  const bool non_plain = e.style != ScalarStyle::Plain;
  const VersionMode mode = opts_.version_mode;
  if (opts_.yaml11_warnings) [[unlikely]] {
    const std::optional<std::string_view> tag_opt =
        tag ? std::optional<std::string_view>(*tag) : std::nullopt;
    if (const auto names = implicit_tag_name(mode, text, non_plain, tag_opt)) {
      std::string w = "YAML 1.1 syntax '";
      w.append(text);
      w.append("' resolves as ");
      w.append(names->first);
      w.append(" in 1.1 but ");
      w.append(names->second);
      w.append(" in 1.2 at ");
      w.append(position_text(span_of(e)));
      out_.warnings.push_back(std::move(w));
    }
  }
  // Untagged scalars pass a constant absent tag: an optional assembled on the
  // stack right before the call costs a store-forwarding stall per scalar.
  static constexpr std::optional<std::string_view> kNoTag{};
  const ScalarKind k =
      tag == nullptr
          ? resolve_scalar_kind(mode, text, non_plain, kNoTag)
          : resolve_scalar_kind(mode, text, non_plain, std::optional<std::string_view>(*tag));
  switch (k.type) {
    case ScalarType::Str:
      if (opts_.timestamps && tag == nullptr && !non_plain && !text.empty() && text[0] >= '0' &&
          text[0] <= '9') {
        if (const std::optional<Timestamp> ts = parse_timestamp(text)) {
          push(arena_.make_timestamp(*ts));
          return decoded_node(1);
        }
      }
      push(text_value(arena_, ValueKind::String, text));
      return decoded_node(1);
    case ScalarType::Null:
      push(YamlValue::null());
      return decoded_node(1);
    case ScalarType::Bool:
      push(YamlValue::of_bool(k.boolean));
      return decoded_node(1);
    case ScalarType::Int:
      push(YamlValue::of_int(k.integer));
      return decoded_node(1);
    case ScalarType::Float:
      push(YamlValue::of_float(k.real));
      return decoded_node(1);
    case ScalarType::BigInt:
      if (const std::optional<std::string> digits = normalize_int_literal(text))
        push(arena_.make_bigint(*digits));
      else
        push(text_value(arena_, ValueKind::BigInt, text));
      return decoded_node(1);
    case ScalarType::Merge:
      has_merge_ = true;
      push(merge_key_value(arena_));
      return decoded_node(2);
  }
  push(text_value(arena_, ValueKind::String, text));  // not reached: every kind is handled
  return decoded_node(1);
}

// ---------------------------------------------------------------------------
// Collections

template <bool kVerdictOnly>
bool Decoder<kVerdictOnly>::check_complex(const YamlValue& key, const SpannedEvent& place) {
  if (!opts_.reject_complex_keys) return true;
  if (key.is_sequence() || key.is_mapping()) {
    fail(std::string("complex mapping key (") + (key.is_sequence() ? "a sequence" : "a mapping") +
             " used as a key)",
         span_of(place), DecoderErrorKind::ComplexKey);
    return false;
  }
  return true;
}

// A repeated key: the error, or the warning (and the decode goes on).
template <bool kVerdictOnly>
bool Decoder<kVerdictOnly>::report_duplicate(const YamlValue& tagged_key, const SpannedEvent& place) {
  const YamlValue& key = key_as_converted(tagged_key, opts_.key_tags);
  const std::string shown = shown_key(key, opts_.key_tags);
  if (opts_.duplicate_keys == DuplicateKeyPolicy::Error) {
    fail(duplicate_key_message(shown), span_of(place), DecoderErrorKind::DuplicateKey);
    return false;
  }
  const bool nan_key = key.kind == ValueKind::Float && std::isnan(key.real);
  out_.warnings.push_back(duplicate_key_warning(shown, span_of(place), nan_key));
  return true;
}

template <bool kVerdictOnly>
Decoded Decoder<kVerdictOnly>::decode_mapping(bool flow) {
  const std::size_t mark = vals_.size();
  std::uint64_t count = 1;
  const std::size_t level = dup_check_ ? seen_keys_.open() : 0;
  while (idx_ < n_) {
    const SpannedEvent& e = ev_[idx_];
    const EventKind k = e.kind;
    if (is_document_boundary(k)) break;
    if (k == EventKind::MappingEnd || k == EventKind::BlockEnd) {
      ++idx_;
      break;
    }
    if (k == EventKind::FlowEntry) {
      ++idx_;
      continue;
    }
    const std::size_t entry_start = idx_;
    const bool explicit_key = k == EventKind::Key;
    if (explicit_key) {
      ++idx_;
    } else if (!flow) {
      std::size_t j = idx_;
      while (j < n_ && (ev_[j].kind == EventKind::Anchor || ev_[j].kind == EventKind::Tag)) ++j;
      if (j < n_) {
        const SpannedEvent& c = ev_[j];
        if (((c.kind == EventKind::MappingStart || c.kind == EventKind::SequenceStart) &&
             !c.flow) ||
            c.kind == EventKind::SequenceEntry)
          return fail(kMsgBlockKey, span_of(c));
      }
      // The scanner puts a Key before every block key whose ':' it found on
      // the key's line; only an empty key (": v") starts at its Value.  Any
      // other node here ("[x]", "!t x", "&a x", a key at an orphan column
      // with its ':' on the next line) has no ':' of its own and must not
      // become a key with a null value.
      if (k != EventKind::Value) return fail(kMsgExpectedColon, span_of(e));
    }
    // After "?" the key may be a sequence whose "- " entries stand at the
    // column of the "?" itself ("?\n- a\n- b\n: x"), like a value's.
    const Decoded key = or_null(decode_node(explicit_key && !flow));
    if (key.failed()) return key;

    // Without a ":" the value is empty: what follows is the next entry's
    // ("? a\n- b" gives no sequence to the key a).
    Decoded value = kNone;
    if (at(EventKind::Value)) {
      ++idx_;
      value = decode_node(true);
    }
    value = or_null(value);
    if (value.failed()) return value;

    const YamlValue& key_value = vals_[vals_.size() - 2];
    if (!check_complex(key_value, e)) return kFailed;
    if (dup_check_ &&
        seen_keys_.repeats(std::span<const YamlValue>(vals_.data() + mark, vals_.size() - mark), level) &&
        !report_duplicate(key_value, e))
      return kFailed;
    count = sat_add(count, sat_add(key.count, value.count));
    if (idx_ == entry_start) break;  // nothing consumed: the mapping cannot go on
  }
  if (dup_check_) seen_keys_.close();
  push(finish_mapping(mark));
  return decoded_node(count);
}

// A sequence item that is a bare scalar (in a flow sequence, not the key of
// a one-pair mapping), pushed and consumed; false leaves the item to
// `sequence_entry`.
template <bool kVerdictOnly>
[[gnu::always_inline]] inline bool Decoder<kVerdictOnly>::bare_item(bool flow) {
  if (idx_ >= n_ || ev_[idx_].kind != EventKind::Scalar || depth_ >= kMaxNestingDepth) return false;
  if (flow && idx_ + 1 < n_ && ev_[idx_ + 1].kind == EventKind::Value) return false;
  if (!bare_scalar(ev_[idx_])) return false;
  ++idx_;
  return true;
}

// The key and value above `mark` become a one-pair mapping.
template <bool kVerdictOnly>
Decoded Decoder<kVerdictOnly>::single_pair(std::size_t mark, std::uint64_t count, const SpannedEvent& place) {
  if (!check_complex(vals_[mark], place)) return kFailed;
  push(finish_mapping(mark));
  return decoded_node(sat_add(count, 1));
}

// One entry of a sequence, read at the current event.
template <bool kVerdictOnly>
Decoded Decoder<kVerdictOnly>::sequence_entry(bool flow) {
  if (!flow) {
    if (idx_ < n_) {
      const EventKind k = ev_[idx_].kind;
      if (is_closing(k) || k == EventKind::SequenceEntry) {
        push(YamlValue::null());
        return decoded_node(1);
      }
    }
    return decode_node(false);
  }
  if (idx_ >= n_) return decode_node(false);
  const SpannedEvent& e = ev_[idx_];
  const std::size_t mark = vals_.size();
  if (e.kind == EventKind::Key) {
    ++idx_;
    const Decoded key = or_null(decode_node(false));
    if (key.failed()) return key;
    if (at(EventKind::Value)) ++idx_;
    const Decoded value = or_null(decode_node(false));
    if (value.failed()) return value;
    return single_pair(mark, sat_add(key.count, value.count), e);
  }
  if (e.kind == EventKind::Value) {
    ++idx_;
    push(YamlValue::null());
    const Decoded value = or_null(decode_node(false));
    if (value.failed()) return value;
    return single_pair(mark, sat_add(1, value.count), e);
  }
  const Decoded node = decode_node(false);
  if (!node.present() || !at(EventKind::Value)) return node;
  ++idx_;
  const Decoded value = or_null(decode_node(false));
  if (value.failed()) return value;
  return single_pair(mark, sat_add(node.count, value.count), e);
}

template <bool kVerdictOnly>
Decoded Decoder<kVerdictOnly>::decode_sequence(bool flow) {
  const std::size_t mark = vals_.size();
  std::uint64_t count = 1;
  while (idx_ < n_) {
    const EventKind k = ev_[idx_].kind;
    if (is_document_boundary(k)) break;
    if (is_closing(k)) {
      ++idx_;
      break;
    }
    if (k == EventKind::SequenceEntry || k == EventKind::FlowEntry) {
      ++idx_;
      if (bare_item(flow)) {
        count = sat_add(count, 1);
        continue;
      }
      const Decoded item = sequence_entry(flow);
      if (item.failed()) return item;
      if (item.present()) count = sat_add(count, item.count);
      continue;
    }
    if (!flow) [[unlikely]] {
      const SpannedEvent& e = ev_[idx_];
      return fail(std::string_view(block_sequence_content_message(e)), span_of(e));
    }
    if (bare_item(flow)) {
      count = sat_add(count, 1);
      continue;
    }
    const std::size_t start = idx_;
    const Decoded item = sequence_entry(flow);
    if (item.failed()) return item;
    if (!item.present()) break;
    count = sat_add(count, item.count);
    if (idx_ == start) break;
  }
  push(finish_sequence(mark));
  return decoded_node(count);
}

// "- " entries standing at the column of their parent mapping's keys.
template <bool kVerdictOnly>
Decoded Decoder<kVerdictOnly>::decode_indentless() {
  const std::size_t mark = vals_.size();
  std::uint64_t count = 1;
  while (at(EventKind::SequenceEntry)) {
    ++idx_;
    if (idx_ < n_) {
      const EventKind k = ev_[idx_].kind;
      if (is_closing(k) || k == EventKind::Key || k == EventKind::SequenceEntry) {
        push(YamlValue::null());
        count = sat_add(count, 1);
        continue;
      }
    }
    const Decoded item = decode_node(false);
    if (item.failed()) return item;
    if (item.present()) count = sat_add(count, item.count);
  }
  if (at(EventKind::MappingEnd)) ++idx_;
  push(finish_sequence(mark));
  return decoded_node(count);
}

}  // namespace decoder_detail

using decoder_detail::Decoder;

// ---------------------------------------------------------------------------
// Public entries

namespace {
std::size_t first_chunk_for(std::size_t text_size) noexcept {
  // About two bytes of tree per byte of text, within [1 KiB, 1 MiB]: the
  // lower bound keeps a small text's chunk in the allocator's per-thread
  // cache.
  const std::size_t guess = text_size * 2;
  return guess < 1024 ? 1024 : guess > (1u << 20) ? (1u << 20) : guess;
}

// The documents of `scan`, whose texts stay with `scan`.
template <bool kVerdictOnly = false>
std::expected<DecodedStream, DecoderError> decode_borrowed(const ScanResult& scan, std::size_t text_size_hint,
                                                           const DecodeOptions& options) {
  DecodedStream out;
  out.arena = ValueArena(first_chunk_for(kVerdictOnly ? 0 : text_size_hint));
  {
    Decoder<kVerdictOnly> decoder(scan, out.arena, options, out);
    if (!decoder.run()) return std::unexpected(std::move(decoder.error()));
  }
  return out;
}
}  // namespace

std::expected<DecodedStream, DecoderError> decode_events(ScanResult& scan,
                                                         std::size_t text_size_hint,
                                                         const DecodeOptions& options) {
  auto out = decode_borrowed(scan, text_size_hint, options);
  if (out) {
    out->scalar_texts = std::move(scan.arena);
    out->ascii_texts = scan.ascii_texts;
  }
  return out;
}

std::optional<DecoderError> check_events(const ScanResult& scan, std::size_t text_size_hint,
                                         const DecodeOptions& options) {
  // A duplicate-key policy compares key values: those need building.
  auto out = options.duplicate_keys == DuplicateKeyPolicy::Silent ? decode_borrowed<true>(scan, text_size_hint, options)
                                                                  : decode_borrowed(scan, text_size_hint, options);
  if (!out) return std::move(out.error());
  return std::nullopt;
}

namespace {
std::expected<ScanResult, DecoderError> scan_for_decoding(std::string_view text, const DecodeOptions& options) {
  Scanner scanner = new_scanner(text);
  scanner.file_id = options.file_id;
  std::expected<ScanResult, ScanError> scanned = scan_events(scanner);
  if (!scanned) {
    return std::unexpected(
        DecoderError{std::move(scanned.error().message), scanned.error().span, DecoderErrorKind::Parse});
  }
  return std::move(*scanned);
}
}  // namespace

std::expected<DecodedStream, DecoderError> decode_stream(std::string_view text,
                                                         const DecodeOptions& options) {
  KESTRINE_ASSIGN_OR_RETURN(ScanResult scanned, scan_for_decoding(text, options));
  return decode_events(scanned, text.size(), options);
}

std::optional<DecoderError> check_stream(std::string_view text, const DecodeOptions& options) {
  auto scanned = scan_for_decoding(text, options);
  if (!scanned) return std::move(scanned.error());
  return check_events(*scanned, text.size(), options);
}

std::expected<DecodedStream, DecoderError> decode_stream_owned(std::string text,
                                                               const DecodeOptions& options) {
  auto owned = std::make_unique<std::string>(std::move(text));
  auto result = decode_stream(*owned, options);
  if (result) result->owned_text = std::move(owned);
  return result;
}

}  // namespace kestrine
