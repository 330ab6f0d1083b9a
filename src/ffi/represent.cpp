#include "ffi/represent.hpp"

#include <algorithm>
#include <bit>
#include <charconv>
#include <cstdlib>
#include <numeric>
#include <string>
#include <utility>

#include "ffi/convert/duck_rules.hpp"
#include "ffi/errors.hpp"
#include "ffi/represent_impl.hpp"
#include "ffi/types/tag.hpp"
#include "roundtrip/built_comments.hpp"
#include "roundtrip/dump_anchors.hpp"
#include "roundtrip/emitter.hpp"
#include "util/stack_guard.hpp"
#include "util/try.hpp"
#include "util/utf8.hpp"

namespace kestrine {
namespace {

constexpr const char* kRefersToItselfMessage = "cannot serialize a value that refers only to itself";
constexpr const char* kSharedTagMessage = "cannot attach a tag to a self-referential or shared value";

std::uint64_t identity(PyObject* obj) noexcept { return reinterpret_cast<std::uintptr_t>(obj); }

// Plain scalars and the empty tuple are never anchored: equal ones are
// indistinguishable, and the interpreter shares them freely.
bool is_tracked(PyObject* obj) noexcept {
  PyTypeObject* const type = Py_TYPE(obj);
  if (type == &PyDict_Type || type == &PyList_Type) [[likely]] return true;
  if (obj == Py_None || PyLong_Check(obj) || PyFloat_Check(obj) || PyBytes_Check(obj) || PyUnicode_Check(obj))
    return false;
  return !(type == &PyTuple_Type && PyTuple_GET_SIZE(obj) == 0);
}

std::string identity_text(std::uint64_t id) {
  char buf[24];
  const auto end = std::to_chars(buf, buf + sizeof buf, id).ptr;
  return std::string(buf, end);
}

YamlNode alias_node(std::uint64_t id) {
  YamlNode node = YamlNode::alias(identity_text(id));
  node.synthetic = true;
  return node;
}

YamlNode null_node() {
  YamlNode node;
  node.synthetic = true;
  return node;
}

PyErr too_deep_error() { return unserializable_error_to_py(kTooDeepMessage); }

// A dict's pairs in its own order (an OrderedDict's through items()).
PyResult<std::vector<ObjectPair>> dict_pairs(PyObject* dict) {
  std::vector<ObjectPair> pairs;
  if (PyODict_Check(dict)) {
    KESTRINE_ASSIGN_OR_RETURN(OwnedRef items, checked(PyMapping_Items(dict)));
    const Py_ssize_t n = PyList_GET_SIZE(items.get());
    pairs.reserve(static_cast<std::size_t>(n));
    for (Py_ssize_t i = 0; i < n; ++i) {
      PyObject* item = PyList_GET_ITEM(items.get(), i);
      if (!PyTuple_Check(item) || PyTuple_GET_SIZE(item) != 2)
        return fail(PyErr::type_error("items() must give (key, value) pairs"));
      pairs.push_back({OwnedRef::borrow(PyTuple_GET_ITEM(item, 0)), OwnedRef::borrow(PyTuple_GET_ITEM(item, 1))});
    }
    return pairs;
  }
  pairs.reserve(static_cast<std::size_t>(PyDict_GET_SIZE(dict)));
  Py_ssize_t pos = 0;
  PyObject* key = nullptr;
  PyObject* value = nullptr;
  while (PyDict_Next(dict, &pos, &key, &value)) pairs.push_back({OwnedRef::borrow(key), OwnedRef::borrow(value)});
  return pairs;
}

// ---------------------------------------------------------------------------
// Key order of OPT_SORT_KEYS: None, booleans, numbers (ints and floats by
// value), texts bytewise, then every other key in its given order.

struct SortKey {
  enum Class : std::uint8_t { None = 0, Bool = 1, Number = 2, Text = 3, Other = 4 } cls = Other;
  bool is_int = false;
  bool boolean = false;
  std::int64_t integer = 0;
  double real = 0.0;
  std::string_view text;  // borrowed from the key object, which the pair holds
  std::size_t index = 0;
};

// The IEEE 754 total order as integer order.
std::int64_t total_order_bits(double d) noexcept {
  const auto bits = std::bit_cast<std::int64_t>(d);
  return bits ^ static_cast<std::int64_t>(static_cast<std::uint64_t>(bits >> 63) >> 1);
}

double big_int_value(PyObject* key) noexcept {
  double value = __builtin_nan("");
  OwnedRef as_int = OwnedRef::steal(PyNumber_Long(key));
  OwnedRef digits = as_int ? OwnedRef::steal(PyObject_Str(as_int.get())) : OwnedRef();
  const char* text = digits ? PyUnicode_AsUTF8(digits.get()) : nullptr;
  if (text != nullptr) {
    char* end = nullptr;
    const double parsed = std::strtod(text, &end);
    if (end != text && *end == '\0') value = parsed;
  }
  PyErr_Clear();
  return value;
}

SortKey make_sort_key(PyObject* key, std::size_t index) {
  SortKey k;
  k.index = index;
  if (key == Py_None) {
    k.cls = SortKey::None;
  } else if (Py_TYPE(key) == &PyBool_Type) {
    k.cls = SortKey::Bool;
    k.boolean = key == Py_True;
  } else if (PyLong_Check(key)) {
    k.cls = SortKey::Number;
    int overflow = 0;
    const long long v = PyLong_AsLongLongAndOverflow(key, &overflow);
    if (overflow == 0 && !(v == -1 && PyErr_Occurred())) {
      k.is_int = true;
      k.integer = v;
    } else {
      PyErr_Clear();
      k.real = big_int_value(key);
    }
  } else if (PyFloat_Check(key)) {
    const double d = PyFloat_AsDouble(key);
    if (d == -1.0 && PyErr_Occurred()) {
      PyErr_Clear();
    } else {
      k.cls = SortKey::Number;
      k.real = d;
    }
  } else if (PyUnicode_Check(key)) {
    if (auto text = str_view(key)) {
      k.cls = SortKey::Text;
      k.text = *text;
    }
  } else if (PyBytes_Check(key)) {
    std::string_view bytes(PyBytes_AS_STRING(key), static_cast<std::size_t>(PyBytes_GET_SIZE(key)));
    if (is_valid_utf8(bytes)) {
      k.cls = SortKey::Text;
      k.text = bytes;
    }
  }
  return k;
}

bool sorts_before(const SortKey& a, const SortKey& b) noexcept {
  if (a.cls != b.cls) return a.cls < b.cls;
  switch (a.cls) {
    case SortKey::Bool:
      return !a.boolean && b.boolean;
    case SortKey::Number:
      if (a.is_int && b.is_int) return a.integer < b.integer;
      return total_order_bits(a.is_int ? static_cast<double>(a.integer) : a.real) <
             total_order_bits(b.is_int ? static_cast<double>(b.integer) : b.real);
    case SortKey::Text:
      return a.text < b.text;
    case SortKey::Other:
      return a.index < b.index;
    case SortKey::None:
      return false;
  }
  return false;
}

}  // namespace

// ---------------------------------------------------------------------------
// The walk

Representer::Representer(PyObject* represent, const EncodeOptions& convert, const WriterOptions& layout)
    : represent_(represent),
      convert_(convert),
      encoder_(convert_, 4096),
      sort_keys_(layout.sort_keys),
      flow_(layout.flow),
      prefer_double_(layout.prefer_double),
      mode_(layout.version_mode) {}

PyResult<YamlNode> Representer::represent_object(PyObject* obj, std::uint32_t depth, Place place) {
  // The walk does not move to a new stack segment: running out of stack, like
  // nesting past the depth limit, means a runaway structure.
  if (depth > kMaxEncodeDepth || remaining_stack() <= kStackRedZone) [[unlikely]] return fail(too_deep_error());
  const bool tracked = is_tracked(obj);
  const std::uint64_t id = identity(obj);
  if (tracked) {
    if (!seen_.empty() && seen_.contains(id)) {
      aliased_.insert(id);
      return alias_node(id);
    }
    seen_.insert(id);
    keep_alive_.push_back(OwnedRef::borrow(obj));
  }

  KESTRINE_ASSIGN_OR_RETURN(OwnedRef result, checked(PyObject_CallOneArg(represent_, obj)));
  bool replaced = false;
  YamlNode node;
  if (result.get() != Py_None) {
    KESTRINE_ASSIGN_OR_RETURN(node, descriptor_to_node(result.get(), depth, place));
  } else {
    KESTRINE_ASSIGN_OR_RETURN(node, represent_builtin(obj, depth, place, replaced));
  }

  if (!tracked) return node;
  if (!replaced && !node.is_alias() && !node.anchor()) {
    node.set_anchor(OptText(identity_text(id)));
    return node;
  }
  // Represented through something else: no node of its own to anchor.
  if (aliased_.contains(id)) return fail(PyErr::value_error(kRefersToItselfMessage));
  untrack(id);
  return node;
}

PyResult<YamlNode> Representer::represent_builtin(PyObject* obj, std::uint32_t depth, Place place,
                                                  bool& replaced) {
  if (obj == Py_None) return null_node();
  if (PyLong_Check(obj) || PyFloat_Check(obj) || PyBytes_Check(obj) || PyUnicode_Check(obj))
    return scalar_object_node(obj, depth, place.flow_or_key());
  if (PyDict_Check(obj)) {
    KESTRINE_ASSIGN_OR_RETURN(std::vector<ObjectPair> pairs, dict_pairs(obj));
    return represent_mapping(std::move(pairs), depth, std::nullopt, FlowChoice::Auto, place);
  }
  if (PyList_Check(obj) || PyTuple_Check(obj) || PyAnySet_Check(obj)) {
    KESTRINE_ASSIGN_OR_RETURN(std::vector<OwnedRef> items, collect_items(obj));
    return represent_sequence(std::move(items), depth, std::nullopt, FlowChoice::Auto, place);
  }
  if (is_kestrine_tag(obj)) return represent_tag_object(obj, depth, place);
  if (convert_.serializers != nullptr) {
    PyObject* fn = PyDict_GetItemWithError(convert_.serializers, reinterpret_cast<PyObject*>(Py_TYPE(obj)));
    if (fn == nullptr && PyErr_Occurred()) return fail_fetch();
    if (fn != nullptr) {
      OwnedRef fn_hold = OwnedRef::borrow(fn);  // the call may drop the dict's entry
      KESTRINE_ASSIGN_OR_RETURN(OwnedRef result, checked(PyObject_CallOneArg(fn, obj)));
      return represent_serializer_result(result.get(), depth, place);
    }
  }
  KESTRINE_ASSIGN_OR_RETURN(std::optional<YamlValue> datetime, datetime_to_value(obj, convert_, encoder_.arena()));
  if (datetime) return value_to_node_guarded(*datetime, place.flow_or_key());

  OwnedRef substitute;
  if (is_enum_member(obj)) {
    KESTRINE_ASSIGN_OR_RETURN(substitute, checked(PyObject_GetAttrString(obj, "value")));
  } else {
    KESTRINE_ASSIGN_OR_RETURN(std::optional<std::vector<OwnedRef>> fields, dataclass_field_names(obj, convert_));
    if (fields) return represent_dataclass(obj, std::move(*fields), depth, place);
    if (convert_.serialize_numpy) {
      KESTRINE_ASSIGN_OR_RETURN(substitute, numpy_to_value(obj));
    }
  }
  if (!substitute) return represent_with_default(obj, depth, place, replaced);
  KESTRINE_ASSIGN_OR_RETURN(YamlNode node, represent_object(substitute.get(), depth + 1, place));
  replaced = true;
  return node;
}

// What no rule above took: the plain road's conversion (UUID, Decimal,
// path-like objects, ...), else the `default` callable's result.
PyResult<YamlNode> Representer::represent_with_default(PyObject* obj, std::uint32_t depth, Place place,
                                                       bool& replaced) {
  EncodeOptions opt = convert_;
  opt.default_fn = nullptr;
  YamlValue value;
  PyStatus converted = encoder_.convert_into(obj, value, opt, depth);
  if (converted) return value_to_node_guarded(value, place.flow_or_key());
  PyObject* const default_fn = convert_.default_fn;
  if (default_fn == nullptr) return fail(std::move(converted.error()));
  KESTRINE_ASSIGN_OR_RETURN(PyObject* const unserializable, exception_class(ExcClass::UnserializableError));
  if (!converted.error().is_instance_of(unserializable)) return fail(std::move(converted.error()));

  KESTRINE_ASSIGN_OR_RETURN(OwnedRef result, checked(PyObject_CallOneArg(default_fn, obj)));
  // `default` is applied once: never to its own result or to anything in it.
  convert_.default_fn = nullptr;
  PyResult<YamlNode> node = represent_object(result.get(), depth + 1, place);
  convert_.default_fn = default_fn;
  if (node) replaced = true;
  return node;
}

PyResult<YamlNode> Representer::represent_dataclass(PyObject* obj, std::vector<OwnedRef> names,
                                                    std::uint32_t depth, Place place) {
  std::vector<ObjectPair> pairs;
  pairs.reserve(names.size());
  for (OwnedRef& name : names) {
    KESTRINE_ASSIGN_OR_RETURN(OwnedRef value, checked(PyObject_GetAttr(obj, name.get())));
    pairs.push_back({std::move(name), std::move(value)});
  }
  return represent_mapping(std::move(pairs), depth, std::nullopt, FlowChoice::Auto, place);
}

// ---------------------------------------------------------------------------
// Collections

bool Representer::children_in_flow(FlowChoice flow, Place place) const noexcept {
  // A block collection as a key would not read back: keys are always in flow.
  const bool chosen = place.is_key || (flow == FlowChoice::Auto ? flow_ : flow == FlowChoice::Flow);
  return chosen || place.in_flow;
}

void Representer::sort_pairs(std::vector<ObjectPair>& pairs) {
  std::vector<SortKey> keys;
  keys.reserve(pairs.size());
  for (std::size_t i = 0; i < pairs.size(); ++i) keys.push_back(make_sort_key(pairs[i].key.get(), i));
  std::stable_sort(keys.begin(), keys.end(), sorts_before);
  std::vector<ObjectPair> sorted;
  sorted.reserve(pairs.size());
  for (const SortKey& k : keys) sorted.push_back(std::move(pairs[k.index]));
  pairs = std::move(sorted);
}

PyResult<YamlNode> Representer::represent_mapping(std::vector<ObjectPair> pairs, std::uint32_t depth,
                                                  const std::optional<std::string>& tag, FlowChoice flow,
                                                  Place place) {
  KESTRINE_ASSIGN_OR_RETURN(std::optional<std::string> node_tag, shorten_core_tag(tag));
  const bool in_flow = children_in_flow(flow, place);
  if (sort_keys_ && pairs.size() >= 2) sort_pairs(pairs);
  NodeList<NodePair> list;
  list.reserve_in(lists_, pairs.size());
  for (const ObjectPair& pair : pairs) {
    KESTRINE_ASSIGN_OR_RETURN(YamlNode key, represent_object(pair.key.get(), depth + 1, Place{in_flow, true}));
    if (auto why = check_key_comments(key)) return fail(PyErr::value_error(*why));
    KESTRINE_ASSIGN_OR_RETURN(YamlNode value, represent_object(pair.value.get(), depth + 1, Place{in_flow, false}));
    // Lines above a value are written above its key.
    if (!value.comments.head().empty()) {
      std::vector<HeadComment>& above = value.comments.head_mut();
      std::vector<HeadComment>& key_head = key.comments.head_mut();
      key_head.insert(key_head.end(), std::make_move_iterator(above.begin()), std::make_move_iterator(above.end()));
      above.clear();
    }
    list.emplace_back(NodePair{std::move(key), std::move(value)});
  }
  YamlNode node;
  node.set_mapping(std::move(list));
  node.style = in_flow ? CollectionStyle::Flow : CollectionStyle::Block;
  node.synthetic = true;
  if (node_tag) node.set_tag(OptText(std::move(*node_tag)));
  return node;
}

PyResult<YamlNode> Representer::represent_sequence(std::vector<OwnedRef> items, std::uint32_t depth,
                                                   const std::optional<std::string>& tag, FlowChoice flow,
                                                   Place place) {
  KESTRINE_ASSIGN_OR_RETURN(std::optional<std::string> node_tag, shorten_core_tag(tag));
  const bool in_flow = children_in_flow(flow, place);
  NodeList<YamlNode> list;
  list.reserve_in(lists_, items.size());
  for (const OwnedRef& item : items) {
    KESTRINE_ASSIGN_OR_RETURN(YamlNode child, represent_object(item.get(), depth + 1, Place{in_flow, false}));
    list.emplace_back(std::move(child));
  }
  YamlNode node;
  node.set_sequence(std::move(list));
  node.style = in_flow ? CollectionStyle::Flow : CollectionStyle::Block;
  node.synthetic = true;
  if (node_tag) node.set_tag(OptText(std::move(*node_tag)));
  return node;
}

PyResult<std::vector<OwnedRef>> collect_items(PyObject* obj) {
  std::vector<OwnedRef> items;
  if (PyList_CheckExact(obj) || PyTuple_CheckExact(obj)) {
    const Py_ssize_t n = PySequence_Fast_GET_SIZE(obj);
    PyObject** data = PySequence_Fast_ITEMS(obj);
    items.reserve(static_cast<std::size_t>(n));
    for (Py_ssize_t i = 0; i < n; ++i) items.push_back(OwnedRef::borrow(data[i]));
    return items;
  }
  KESTRINE_ASSIGN_OR_RETURN(OwnedRef iter, checked(PyObject_GetIter(obj)));
  while (OwnedRef item = OwnedRef::steal(PyIter_Next(iter.get()))) items.push_back(std::move(item));
  if (PyErr_Occurred()) return fail_fetch();
  return items;
}

// ---------------------------------------------------------------------------
// Tags

PyResult<YamlNode> Representer::attach_tag(std::string_view tag, PyObject* value, std::uint32_t depth,
                                           Place place) {
  KESTRINE_TRY(check_tag(tag));
  KESTRINE_ASSIGN_OR_RETURN(YamlNode node, represent_object(value, depth + 1, place));
  if (node.is_alias()) return fail(PyErr::value_error(kSharedTagMessage));
  if (node.tag()) return fail(encode_error_to_py(kDoubleTagMessage));
  if (const OptText& anchor = node.anchor()) {
    if (const std::optional<std::uint64_t> id = parse_identity(*anchor)) {
      // The tag goes on the value's node: an alias to the value elsewhere
      // would lose it, so the value is represented afresh where it recurs.
      if (aliased_.contains(*id)) return fail(PyErr::value_error(kSharedTagMessage));
      node.set_anchor(std::nullopt);
      untrack(*id);
    }
  }
  node.set_tag(OptText(tag));
  return node;
}

PyResult<YamlNode> Representer::represent_tag_object(PyObject* tag_obj, std::uint32_t depth, Place place) {
  std::string tag;
  OwnedRef value;
  {
    // The fields never change after construction; the shared borrow only
    // guards against a concurrent teardown.
    TagData& data = const_cast<TagData&>(kestrine_tag_data(tag_obj));
    KESTRINE_ASSIGN_OR_RETURN(const BorrowFlag::Shared shared, data.borrow.borrow());
    tag = data.tag;
    value = data.value ? data.value : none_ref();
  }
  return attach_tag(tag, value.get(), depth, place);
}

PyResult<YamlNode> Representer::represent_serializer_result(PyObject* result, std::uint32_t depth,
                                                            Place place) {
  if (is_kestrine_tag(result)) return represent_tag_object(result, depth, place);
  if (PyTuple_Check(result) && PyTuple_GET_SIZE(result) == 2) {
    KESTRINE_ASSIGN_OR_RETURN(std::string_view tag, serializer_tag_text(PyTuple_GET_ITEM(result, 0)));
    return attach_tag(tag, PyTuple_GET_ITEM(result, 1), depth, place);
  }
  return fail(encode_error_to_py(kSerializerResultMessage));
}

// ---------------------------------------------------------------------------
// The road

PyResult<OwnedRef> dumps_represented(PyObject* obj, PyObject* represent, const EncodeOptions& convert,
                                     Options option, std::uint64_t width) {
  const WriterOptions layout = WriterOptions::from_option_bits(option, width);
  YamlNode root;
  {
    Representer representer(represent, convert, layout);
    PyResult<YamlNode> built = representer.represent_object(obj, 0, Place{});
    if (!built) {
      if (!built.error().is_instance_of(PyExc_RecursionError)) return fail(std::move(built.error()));
      PyErr err = too_deep_error();
      err.set_cause(std::move(built.error()));
      return fail(std::move(err));
    }
    root = std::move(*built);
    assign_anchors(root, representer.aliased());
  }
  root.explicit_start = layout.explicit_start;
  Emitter e(layout.null_style);
  e.indent = layout.indent;
  e.width = width;
  e.dump_layout = true;
  e.explicit_end = layout.explicit_end;
  e.indentless_sequences = layout.indentless;
  e.single_quotes = !layout.prefer_double;
  without_gil([&] {
    emit_document(e, root);
    if (e.explicit_end) e.out += "...\n";
    apply_final_break(e.out, e.final_break);
    drop_node_tree(std::move(root));
  });
  return new_bytes(e.out);
}

}  // namespace kestrine
