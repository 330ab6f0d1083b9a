// The representer's node descriptors: what a `represent` callable returned
// (KestrineScalar, KestrineSequence, KestrineMapping) as a node.
#include <string>

#include "emit_util/scalar_text.hpp"
#include "ffi/convert/node_bridge.hpp"
#include "ffi/represent_impl.hpp"
#include "ffi/types/mapping.hpp"
#include "ffi/types/scalar.hpp"
#include "ffi/types/sequence.hpp"
#include "resolver/kind.hpp"
#include "resolver/resolve.hpp"
#include "roundtrip/comments/built_comments.hpp"
#include "roundtrip/emit/scalar_style_check.hpp"
#include "util/try.hpp"

namespace kestrine {
namespace {

constexpr const char* kNotADescriptorMessage =
    "a represent callback must return a kestrine.KestrineScalar, kestrine.KestrineSequence, "
    "kestrine.KestrineMapping, or None";
constexpr const char* kPairNotTupleMessage = "a KestrineMapping pair must be a (key, value) tuple";
constexpr const char* kPairSizeMessage = "a KestrineMapping pair must be a (key, value) tuple of exactly two items";

FlowChoice flow_choice(std::optional<bool> flow) noexcept {
  if (!flow) return FlowChoice::Auto;
  return *flow ? FlowChoice::Flow : FlowChoice::Block;
}

std::optional<std::string_view> view(const std::optional<std::string>& text) noexcept {
  if (!text) return std::nullopt;
  return std::string_view(*text);
}

ScalarStyle quoted_style(std::string_view text) noexcept {
  return is_printable_single_line(text) ? ScalarStyle::SingleQuoted : ScalarStyle::DoubleQuoted;
}

// A text with an explicit tag and the automatic style: plain without the tag
// when the text reads as the core type the tag names, else quoted with the
// tag kept (a "!!str" tag is never needed on a quoted text).
ScalarStyle tagged_scalar_style(std::string_view text, std::string_view tag, bool prefer_double, VersionMode mode,
                                bool in_flow, bool& keep_tag) noexcept {
  const std::string_view core = core_tag_name(tag);
  keep_tag = false;
  if (!core.empty()) {
    const ScalarType type = resolve_scalar_kind(mode, text, false, std::nullopt).type;
    if (core == "str") return type == ScalarType::Str ? choose_quote_style(text, prefer_double, mode, in_flow)
                                   : quoted_style(text);
    if ((core == "null" && type == ScalarType::Null) || (core == "bool" && type == ScalarType::Bool) ||
        (core == "int" && (type == ScalarType::Int || type == ScalarType::BigInt)) ||
        (core == "float" && type == ScalarType::Float)) {
      return ScalarStyle::Plain;
    }
  }
  keep_tag = true;
  return quoted_style(text);
}

PyStatus scalar_descriptor_node(const ScalarFields& f, Place place, bool prefer_double, VersionMode mode,
                                YamlNode& out) {
  KESTRINE_ASSIGN_OR_RETURN(std::optional<std::string> tag, shorten_core_tag(f.text.tag));
  ScalarStyle style;
  if (f.style) {
    style = *f.style;
    if ((style == ScalarStyle::Literal || style == ScalarStyle::Folded) && place.flow_or_key())
      style = ScalarStyle::DoubleQuoted;
    if (const std::optional<std::string_view> reason = check_scalar_style(f.value, style, place.flow_or_key())) {
      return fail(PyErr::value_error("a " + std::string(scalar_style_name(style)) +
                                     " scalar cannot represent this value without changing it on reload (" +
                                     std::string(*reason) + "); use \"double\" or the default style"));
    }
    // A plain untagged "<<" key reads back as a merge key, and its pair
    // would vanish into the mapping; quoted, it stays the key it names.
    if (style == ScalarStyle::Plain && place.is_key && !tag &&
        resolve_scalar_kind(mode, f.value, false, std::nullopt).type == ScalarType::Merge) {
      style = quoted_string_style(f.value, prefer_double);
    }
  } else {
    bool keep_tag = false;
    style = tag ? tagged_scalar_style(f.value, *tag, prefer_double, mode, place.in_flow, keep_tag)
                : choose_quote_style(f.value, prefer_double, mode, place.in_flow);
    if (!keep_tag) tag.reset();
    if (style == ScalarStyle::Literal && place.flow_or_key()) style = ScalarStyle::DoubleQuoted;
  }
  set_built_scalar(out, f.value, style);
  if (tag) out.set_tag(OptText(std::move(*tag)));
  return {};
}

// Pushes a mapping descriptor's pairs, each a (key, value) tuple.
PyStatus push_descriptor_pairs(PendingObjects& pending, PyObject* collection) {
  KESTRINE_ASSIGN_OR_RETURN(OwnedRef iter, checked(PyObject_GetIter(collection)));
  while (OwnedRef item = OwnedRef::steal(PyIter_Next(iter.get()))) {
    if (!PyTuple_Check(item.get())) return fail(PyErr::value_error(kPairNotTupleMessage));
    if (PyTuple_GET_SIZE(item.get()) != 2) return fail(PyErr::value_error(kPairSizeMessage));
    pending.push(PyTuple_GET_ITEM(item.get(), 0));
    pending.push(PyTuple_GET_ITEM(item.get(), 1));
  }
  if (PyErr_Occurred()) return fail_fetch();
  return {};
}

}  // namespace

PyStatus RepresentContext::descriptor_to_node(PyObject* result, std::uint32_t depth, Place place, YamlNode& out) {
  const DescriptorText* text = nullptr;
  if (const ScalarFields* scalar = scalar_fields(result)) {
    KESTRINE_TRY(scalar_descriptor_node(*scalar, place, prefer_double_, mode_, out));
    text = &scalar->text;
  } else {
    const CollectionFields* const sequence = sequence_fields(result);
    const CollectionFields* const fields = sequence != nullptr ? sequence : mapping_fields(result);
    if (fields == nullptr) return fail(PyErr::type_error(kNotADescriptorMessage));
    const PendingRange range(pending_);
    if (PyObject* const collection = fields->collection.get()) {
      KESTRINE_TRY(sequence != nullptr ? push_items(pending_, collection) : push_descriptor_pairs(pending_, collection));
    }
    const FlowChoice flow = flow_choice(fields->flow);
    KESTRINE_TRY(sequence != nullptr ? represent_sequence(range, depth, fields->text.tag, flow, place, out)
                                     : represent_mapping(range, depth, fields->text.tag, flow, place, out));
    text = &fields->text;
  }
  if (const std::optional<std::string_view> why = apply_node_comments(
          out, view(text->comment_before), view(text->comment), view(text->comment_after), depth == 0)) {
    return fail(PyErr::value_error(*why));
  }
  return {};
}

}  // namespace kestrine
