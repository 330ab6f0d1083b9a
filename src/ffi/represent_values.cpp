// The representer's scalars: Python scalars and value trees to nodes, the
// automatic quoting style, and core tags.
#include <charconv>
#include <string>

#include "emit_util/float_text.hpp"
#include "ffi/convert/node_bridge.hpp"
#include "ffi/represent_impl.hpp"
#include "resolver/timestamp.hpp"
#include "util/stack_guard.hpp"
#include "util/try.hpp"

namespace kestrine {

ScalarStyle choose_quote_style(std::string_view text, bool prefer_double, VersionMode mode) noexcept {
  if (literal_block_suits(text)) return ScalarStyle::Literal;
  return choose_string_style(text, prefer_double, mode);
}

PyResult<std::optional<std::string>> shorten_core_tag(const std::optional<std::string>& tag) {
  if (!tag) return std::optional<std::string>();
  std::string shortened;
  if (tag->starts_with(kCoreTagPrefix)) {
    shortened = "!!";
    shortened.append(*tag, kCoreTagPrefix.size());
  } else {
    shortened = *tag;
  }
  KESTRINE_TRY(check_tag(shortened));
  return std::optional<std::string>(std::move(shortened));
}

YamlNode Representer::string_node(std::string_view text, bool flow_or_key) const {
  ScalarStyle style = choose_quote_style(text, prefer_double_, mode_);
  // A block scalar cannot stand in a flow collection or a key.
  if (style == ScalarStyle::Literal && flow_or_key) style = ScalarStyle::DoubleQuoted;
  return built_scalar(std::string(text), style);
}

PyResult<YamlNode> Representer::scalar_object_node(PyObject* obj, std::uint32_t depth, bool flow_or_key) {
  // The exact built-in types directly; everything else (subclasses, bytes,
  // big integers, lone surrogates and their errors) as the plain road
  // converts it.
  PyTypeObject* const type = Py_TYPE(obj);
  if (type == &PyUnicode_Type) {
    Py_ssize_t size = 0;
    if (const char* data = PyUnicode_AsUTF8AndSize(obj, &size)) {
      return string_node(std::string_view(data, static_cast<std::size_t>(size)), flow_or_key);
    }
    PyErr_Clear();
  } else if (type == &PyLong_Type) {
    int overflow = 0;
    const long long v = PyLong_AsLongLongAndOverflow(obj, &overflow);
    if (overflow == 0 && !(v == -1 && PyErr_Occurred())) {
      char buf[24];
      const auto end = std::to_chars(buf, buf + sizeof buf, v).ptr;
      return built_scalar(std::string(buf, end), ScalarStyle::Plain);
    }
    PyErr_Clear();
  } else if (type == &PyFloat_Type) {
    return built_scalar(format_float(PyFloat_AS_DOUBLE(obj)), ScalarStyle::Plain);
  } else if (type == &PyBool_Type) {
    return built_scalar(obj == Py_True ? "true" : "false", ScalarStyle::Plain);
  }
  return converted_node(obj, convert_, depth, flow_or_key);
}

PyResult<YamlNode> Representer::converted_node(PyObject* obj, const EncodeOptions& opt, std::uint32_t depth,
                                               bool flow_or_key) {
  YamlValue value;
  KESTRINE_TRY(encoder_.convert_into(obj, value, opt, depth));
  return value_to_node_guarded(value, flow_or_key);
}

YamlNode Representer::value_to_node_guarded(const YamlValue& value, bool flow_or_key) {
  return stack_guarded([&] { return value_to_node(value, flow_or_key); });
}

YamlNode Representer::value_to_node(const YamlValue& value, bool flow_or_key) {
  // Collections in a flow collection or a key are flow collections, and so
  // is everything in them.
  const CollectionStyle collection_style = flow_or_key ? CollectionStyle::Flow : CollectionStyle::Block;
  switch (value.kind) {
    case ValueKind::Null: {
      YamlNode node;
      node.synthetic = true;
      return node;
    }
    case ValueKind::Bool:
      return built_scalar(value.boolean ? "true" : "false", ScalarStyle::Plain);
    case ValueKind::Int: {
      char buf[24];
      const auto end = std::to_chars(buf, buf + sizeof buf, value.integer).ptr;
      return built_scalar(std::string(buf, end), ScalarStyle::Plain);
    }
    case ValueKind::BigInt:
      return built_scalar(std::string(value.text()), ScalarStyle::Plain);
    case ValueKind::Float:
      return built_scalar(format_float(value.real), ScalarStyle::Plain);
    case ValueKind::String:
      return string_node(value.text(), flow_or_key);
    case ValueKind::Timestamp:
      return built_scalar(format_timestamp(value.timestamp()), ScalarStyle::Plain);
    case ValueKind::Sequence: {
      NodeList<YamlNode> items;
      items.reserve_in(lists_, value.size());
      for (const YamlValue& item : value.items()) items.emplace_back(value_to_node_guarded(item, flow_or_key));
      YamlNode node;
      node.set_sequence(std::move(items));
      node.style = collection_style;
      node.synthetic = true;
      return node;
    }
    case ValueKind::Mapping: {
      NodeList<NodePair> pairs;
      pairs.reserve_in(lists_, value.size());
      for (const ValuePair& pair : value.pairs()) {
        YamlNode key = value_to_node_guarded(pair.key, true);
        pairs.emplace_back(NodePair{std::move(key), value_to_node_guarded(pair.value, flow_or_key)});
      }
      YamlNode node;
      node.set_mapping(std::move(pairs));
      node.style = collection_style;
      node.synthetic = true;
      return node;
    }
    case ValueKind::Tagged: {
      const TaggedValue& tagged = value.tagged();
      YamlNode node = value_to_node_guarded(tagged.inner, flow_or_key);
      node.set_tag(OptText(tagged.tag));
      return node;
    }
  }
  return YamlNode();
}

}  // namespace kestrine
