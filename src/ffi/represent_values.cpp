// The representer's scalars: Python scalars and value trees to nodes, the
// automatic quoting style, and core tags.
#include <charconv>
#include <string>

#include "emit_util/float_text.hpp"
#include "emit_util/plain_scalar.hpp"
#include "ffi/convert/node_bridge.hpp"
#include "ffi/represent_impl.hpp"
#include "resolver/timestamp.hpp"
#include "util/stack_guard.hpp"
#include "util/try.hpp"

namespace kestrine {
namespace {

void set_int_scalar(YamlNode& out, std::int64_t value) {
  char buf[24];
  const auto end = std::to_chars(buf, buf + sizeof buf, value).ptr;
  set_built_scalar(out, std::string_view(buf, static_cast<std::size_t>(end - buf)), ScalarStyle::Plain);
}

}  // namespace

ScalarStyle choose_quote_style(std::string_view text, bool prefer_double, VersionMode mode, bool in_flow) noexcept {
  // A text that fits a literal block holds a line feed, so it is never plain.
  if (!needs_quotes(text, mode, in_flow)) return ScalarStyle::Plain;
  if (literal_block_suits(text)) return ScalarStyle::Literal;
  return quoted_string_style(text, prefer_double);
}

PyResult<std::optional<std::string>> shorten_core_tag(const std::optional<std::string>& tag) {
  if (!tag) return std::optional<std::string>();
  if (tag->starts_with(kCoreTagPrefix)) {
    std::string shortened = "!!";
    shortened.append(*tag, kCoreTagPrefix.size());
    KESTRINE_TRY(check_tag(shortened));
    return std::optional<std::string>(std::move(shortened));
  }
  std::string storage;
  KESTRINE_ASSIGN_OR_RETURN(const std::string_view written, written_tag(*tag, storage));
  return std::optional<std::string>(std::string(written));
}

void RepresentContext::string_node(std::string_view text, Place place, YamlNode& out) {
  output_estimate_ += text.size();
  ScalarStyle style = choose_quote_style(text, prefer_double_, mode_, place.in_flow);
  // A block scalar cannot stand in a flow collection or a key.
  if (style == ScalarStyle::Literal && place.flow_or_key()) style = ScalarStyle::DoubleQuoted;
  set_built_scalar(out, text, style);
}

bool RepresentContext::exact_scalar_node(PyObject* obj, Place place, YamlNode& out) {
  PyTypeObject* const type = Py_TYPE(obj);
  if (type == &PyUnicode_Type) {
    const std::optional<std::string_view> text = compact_ascii_view(obj);
    if (!text) return false;
    string_node(*text, place, out);
    return true;
  }
  if (obj == Py_None) {
    out.synthetic = true;
    return true;
  }
  if (type == &PyLong_Type) {
    const std::optional<std::int64_t> v = int64_value(obj);
    if (!v) return false;
    set_int_scalar(out, *v);
    return true;
  }
  if (type == &PyFloat_Type) {
    set_built_scalar(out, format_float(PyFloat_AS_DOUBLE(obj)), ScalarStyle::Plain);
    return true;
  }
  if (type == &PyBool_Type) {
    set_built_scalar(out, std::string_view(obj == Py_True ? "true" : "false"), ScalarStyle::Plain);
    return true;
  }
  return false;
}

PyStatus RepresentContext::scalar_object_node(PyObject* obj, std::uint32_t depth, Place place, YamlNode& out) {
  if (exact_scalar_node(obj, place, out)) return {};
  // Non-ASCII text, subclasses, bytes, big integers, lone surrogates and
  // their errors: as the plain road converts them.
  if (Py_TYPE(obj) == &PyUnicode_Type) {
    Py_ssize_t size = 0;
    if (const char* data = PyUnicode_AsUTF8AndSize(obj, &size)) {
      string_node(std::string_view(data, static_cast<std::size_t>(size)), place, out);
      return {};
    }
    PyErr_Clear();
  }
  return converted_node(obj, convert_, depth, place, out);
}

PyStatus RepresentContext::converted_node(PyObject* obj, const EncodeOptions& opt, std::uint32_t depth, Place place,
                                     YamlNode& out) {
  YamlValue value;
  KESTRINE_TRY(encoder_.convert_into(obj, value, opt, depth));
  value_to_node_guarded(value, place.flow_or_key(), out);
  return {};
}

void RepresentContext::value_to_node_guarded(const YamlValue& value, bool flow_or_key, YamlNode& out) {
  stack_guarded([&] { value_to_node(value, flow_or_key, out); });
}

void RepresentContext::value_to_node(const YamlValue& value, bool flow_or_key, YamlNode& out) {
  // Collections in a flow collection or a key are flow collections, and so
  // is everything in them.
  const CollectionStyle collection_style = flow_or_key ? CollectionStyle::Flow : CollectionStyle::Block;
  out.synthetic = true;
  switch (value.kind) {
    case ValueKind::Null:
      return;
    case ValueKind::Bool:
      set_built_scalar(out, std::string_view(value.boolean ? "true" : "false"), ScalarStyle::Plain);
      return;
    case ValueKind::Int:
      set_int_scalar(out, value.integer);
      return;
    case ValueKind::BigInt:
      set_built_scalar(out, value.text(), ScalarStyle::Plain);
      return;
    case ValueKind::Float:
      set_built_scalar(out, format_float(value.real), ScalarStyle::Plain);
      return;
    case ValueKind::String:
      // (A key's text is checked as if in a flow collection: quoting more is harmless.)
      string_node(value.text(), Place{flow_or_key, false}, out);
      return;
    case ValueKind::Timestamp:
      set_built_scalar(out, format_timestamp(value.timestamp()), ScalarStyle::Plain);
      return;
    case ValueKind::Sequence: {
      NodeList<YamlNode> items;
      items.reserve_in(lists_, value.size());
      for (const YamlValue& item : value.items()) value_to_node_guarded(item, flow_or_key, items.emplace_back());
      out.set_sequence(std::move(items));
      out.style = collection_style;
      return;
    }
    case ValueKind::Mapping: {
      NodeList<NodePair> pairs;
      pairs.reserve_in(lists_, value.size());
      for (const ValuePair& pair : value.pairs()) {
        NodePair& built = pairs.emplace_back();
        value_to_node_guarded(pair.key, true, built.key);
        value_to_node_guarded(pair.value, flow_or_key, built.value);
      }
      out.set_mapping(std::move(pairs));
      out.style = collection_style;
      return;
    }
    case ValueKind::Tagged: {
      const TaggedValue& tagged = value.tagged();
      value_to_node_guarded(tagged.inner, flow_or_key, out);
      out.set_tag(OptText(tagged.tag));
      return;
    }
  }
}

}  // namespace kestrine
