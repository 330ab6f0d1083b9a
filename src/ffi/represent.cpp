#include "ffi/represent.hpp"

#include <algorithm>
#include <charconv>
#include <cstdlib>
#include <string>
#include <utility>

#include "ffi/convert/duck_rules.hpp"
#include "ffi/errors.hpp"
#include "ffi/represent_impl.hpp"
#include "ffi/represent_plain.hpp"
#include "ffi/types/tag.hpp"
#include "roundtrip/comments/built_comments.hpp"
#include "roundtrip/emit/emitter.hpp"
#include "roundtrip/tree/dump_anchors.hpp"
#include "util/float_order.hpp"
#include "util/stack_guard.hpp"
#include "util/try.hpp"
#include "util/utf8.hpp"

namespace kestrine {
namespace {

constexpr const char* kRefersToItselfMessage = "cannot serialize a value that refers only to itself";
constexpr const char* kSharedTagMessage = "cannot attach a tag to a self-referential or shared value";

std::uint64_t identity(PyObject* obj) noexcept { return reinterpret_cast<std::uintptr_t>(obj); }

std::string identity_text(std::uint64_t id) {
  char buf[24];
  const auto end = std::to_chars(buf, buf + sizeof buf, id).ptr;
  return std::string(buf, end);
}

PyErr too_deep_error() { return unserializable_error_to_py(kTooDeepMessage); }

// Pushes a dict's pairs in its own order (an OrderedDict's through items()).
PyStatus push_dict_pairs(PendingObjects& pending, PyObject* dict) {
  if (!PyDict_CheckExact(dict) && PyODict_Check(dict)) {
    KESTRINE_ASSIGN_OR_RETURN(OwnedRef items, checked(PyMapping_Items(dict)));
    const Py_ssize_t n = PyList_GET_SIZE(items.get());
    for (Py_ssize_t i = 0; i < n; ++i) {
      PyObject* item = PyList_GET_ITEM(items.get(), i);
      if (!PyTuple_Check(item) || PyTuple_GET_SIZE(item) != 2)
        return fail(PyErr::type_error("items() must give (key, value) pairs"));
      pending.push(PyTuple_GET_ITEM(item, 0));
      pending.push(PyTuple_GET_ITEM(item, 1));
    }
    return {};
  }
  Py_ssize_t pos = 0;
  PyObject* key = nullptr;
  PyObject* value = nullptr;
  while (PyDict_Next(dict, &pos, &key, &value)) {
    pending.push(key);
    pending.push(value);
  }
  return {};
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

bool compare_node_keys(const SortKey& a, const SortKey& b) noexcept {
  if (a.cls != b.cls) return a.cls < b.cls;
  switch (a.cls) {
    case SortKey::Bool:
      return !a.boolean && b.boolean;
    case SortKey::Number:
      if (a.is_int && b.is_int) return a.integer < b.integer;
      return total_order_key(a.is_int ? static_cast<double>(a.integer) : a.real) <
             total_order_key(b.is_int ? static_cast<double>(b.integer) : b.real);
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

SnapshotLog::~SnapshotLog() {
  for (std::size_t i = 0; i < size_; ++i) Py_DECREF((*this)[i]);
}

void SnapshotLog::add_chunk() { chunks_.push_back(std::make_unique_for_overwrite<PyObject*[]>(kMask + 1)); }

RepresentContext::RepresentContext(PyObject* represent, const EncodeOptions& convert, const WriterOptions& layout)
    : represent_(represent),
      convert_(convert),
      encoder_(convert_, 4096),
      sort_keys_(layout.sort_keys),
      flow_(layout.flow),
      prefer_double_(layout.prefer_double),
      mode_(layout.version_mode) {
  // The walk stays on this thread's stack: the address below which less than
  // the red zone remains is fixed once.
  char here;
  const auto at = reinterpret_cast<std::uintptr_t>(&here);
  const std::size_t left = remaining_stack();
  stack_floor_ = left >= at ? 0 : at - left + kStackRedZone;
}

bool RepresentContext::stack_is_low() const noexcept {
  char here;
  return reinterpret_cast<std::uintptr_t>(&here) <= stack_floor_;
}

PyResult<AnchoredFor> RepresentContext::represent_object(PyObject* obj, std::uint32_t depth, Place place,
                                                    YamlNode& out) {
  // The walk does not move to a new stack segment: running out of stack, like
  // nesting past the depth limit, means a runaway structure.
  if (depth > kMaxEncodeDepth || stack_is_low()) [[unlikely]] return fail(too_deep_error());
  output_estimate_ += 2 * depth + 8;
  const bool tracked = is_tracked(obj);
  const std::uint64_t id = identity(obj);
  if (tracked) {
    auto [it, fresh] = seen_.try_emplace(id, &out);
    if (!fresh) {
      aliased_.insert(id);
      out.set_alias(identity_text(id));
      out.synthetic = true;
      return AnchoredFor();
    }
    keep_alive_.push_back(OwnedRef::borrow(obj));
  }

  KESTRINE_ASSIGN_OR_RETURN(OwnedRef result, ask(obj));
  bool replaced = false;
  AnchoredFor inner;
  if (result.get() != Py_None) {
    KESTRINE_TRY(descriptor_to_node(result.get(), depth, place, out));
  } else if (tracked || !exact_scalar_node(obj, place, out)) {
    KESTRINE_ASSIGN_OR_RETURN(inner, represent_builtin(obj, depth, place, out, replaced));
  }

  if (!tracked) return inner;
  // The node in `out` is this object's own: it stays in `seen_`, so later
  // meetings become aliases of it.
  if (!replaced && !out.is_alias() && !inner) return AnchoredFor(id);
  // Represented through something else: no node of its own to anchor.
  if (aliased_.contains(id)) return fail(PyErr::value_error(kRefersToItselfMessage));
  untrack(id);
  return inner;
}

PyResult<OwnedRef> RepresentContext::ask(PyObject* obj) {
  if (replay_ != nullptr) [[unlikely]] {
    if (replay_->none_answers > 0) {
      --replay_->none_answers;
      return none_ref();
    }
    if (replay_->last_answer) return std::move(replay_->last_answer);
  }
  return checked(PyObject_CallOneArg(represent_, obj));
}

PyStatus RepresentContext::push_entries(PyObject* obj, bool is_dict) {
  if (replay_ != nullptr && replay_->snapshots_left()) [[unlikely]] {
    ReplayLog& log = *replay_;
    const std::size_t count = log.snapshot_sizes[log.next_snapshot++];
    for (std::size_t i = 0; i < count; ++i) pending_.push(log.snapshots[log.next_entry + i]);
    log.next_entry += count;
    return {};
  }
  return is_dict ? push_dict_pairs(pending_, obj) : push_items(pending_, obj);
}

bool RepresentContext::anchor_shared_nodes() {
  for (const std::uint64_t id : aliased_) seen_.at(id)->set_anchor(OptText(identity_text(id)));
  return !aliased_.empty();
}

PyResult<AnchoredFor> RepresentContext::represent_builtin(PyObject* obj, std::uint32_t depth, Place place,
                                                     YamlNode& out, bool& replaced) {
  if (obj == Py_None) {
    out.synthetic = true;
    return AnchoredFor();
  }
  if (is_scalar_object(obj)) {
    KESTRINE_TRY(scalar_object_node(obj, depth, place, out));
    return AnchoredFor();
  }
  if (PyDict_Check(obj)) {
    const PendingRange range(pending_);
    KESTRINE_TRY(push_entries(obj, true));
    KESTRINE_TRY(represent_mapping(range, depth, std::nullopt, FlowChoice::Auto, place, out));
    return AnchoredFor();
  }
  if (PyList_Check(obj) || PyTuple_Check(obj) || PyAnySet_Check(obj)) {
    const PendingRange range(pending_);
    KESTRINE_TRY(push_entries(obj, false));
    KESTRINE_TRY(represent_sequence(range, depth, std::nullopt, FlowChoice::Auto, place, out));
    return AnchoredFor();
  }
  if (is_kestrine_tag(obj)) {
    KESTRINE_TRY(represent_tag_object(obj, depth, place, out));
    return AnchoredFor();
  }
  KESTRINE_ASSIGN_OR_RETURN(OwnedRef serialized, call_serializer(obj, convert_));
  if (serialized) {
    KESTRINE_TRY(represent_serializer_result(serialized.get(), depth, place, out));
    return AnchoredFor();
  }
  KESTRINE_ASSIGN_OR_RETURN(std::optional<YamlValue> datetime, datetime_to_value(obj, convert_, encoder_.arena()));
  if (datetime) {
    value_to_node_guarded(*datetime, place.flow_or_key(), out);
    return AnchoredFor();
  }

  OwnedRef substitute;
  if (is_enum_member(obj)) {
    KESTRINE_ASSIGN_OR_RETURN(substitute, checked(PyObject_GetAttrString(obj, "value")));
  } else {
    KESTRINE_ASSIGN_OR_RETURN(std::optional<std::vector<OwnedRef>> fields, dataclass_field_names(obj, convert_));
    if (fields) {
      KESTRINE_TRY(represent_dataclass(obj, *fields, depth, place, out));
      return AnchoredFor();
    }
    if (convert_.serialize_numpy) {
      KESTRINE_ASSIGN_OR_RETURN(substitute, numpy_to_value(obj));
    }
  }
  if (!substitute) return represent_with_default(obj, depth, place, out, replaced);
  KESTRINE_ASSIGN_OR_RETURN(const AnchoredFor inner, represent_object(substitute.get(), depth + 1, place, out));
  replaced = true;
  return inner;
}

// What no rule above took: the plain road's conversion (UUID, Decimal,
// path-like objects, ...), else the `default` callable's result.
PyResult<AnchoredFor> RepresentContext::represent_with_default(PyObject* obj, std::uint32_t depth, Place place,
                                                          YamlNode& out, bool& replaced) {
  EncodeOptions opt = convert_;
  opt.default_fn = nullptr;
  PyStatus converted = converted_node(obj, opt, depth, place, out);
  if (converted) return AnchoredFor();
  PyObject* const default_fn = convert_.default_fn;
  if (default_fn == nullptr) return fail(std::move(converted.error()));
  KESTRINE_ASSIGN_OR_RETURN(PyObject* const unserializable, exception_class(ExcClass::UnserializableError));
  if (!converted.error().is_instance_of(unserializable)) return fail(std::move(converted.error()));

  KESTRINE_ASSIGN_OR_RETURN(OwnedRef result, checked(PyObject_CallOneArg(default_fn, obj)));
  // `default` is applied once: never to its own result or to anything in it.
  convert_.default_fn = nullptr;
  PyResult<AnchoredFor> inner = represent_object(result.get(), depth + 1, place, out);
  convert_.default_fn = default_fn;
  if (inner) replaced = true;
  return inner;
}

PyStatus RepresentContext::represent_dataclass(PyObject* obj, const std::vector<OwnedRef>& names,
                                          std::uint32_t depth, Place place, YamlNode& out) {
  const PendingRange range(pending_);
  for (const OwnedRef& name : names) {
    KESTRINE_ASSIGN_OR_RETURN(OwnedRef value, checked(PyObject_GetAttr(obj, name.get())));
    pending_.push(name.get());
    pending_.push(std::move(value));
  }
  return represent_mapping(range, depth, std::nullopt, FlowChoice::Auto, place, out);
}

// ---------------------------------------------------------------------------
// Collections

bool RepresentContext::children_in_flow(FlowChoice flow, Place place) const noexcept {
  // A key left to the automatic choice is in flow: it then stands before its
  // ":" on one line.  A key asked for in block style stays so; the node
  // writer gives it the explicit "? " form, the only one it reads back in.
  const bool chosen = flow == FlowChoice::Auto ? place.is_key || flow_ : flow == FlowChoice::Flow;
  return chosen || place.in_flow;
}

void RepresentContext::sort_pairs(const PendingRange& range) {
  const std::size_t count = range.size() / 2;
  std::vector<SortKey> keys;
  keys.reserve(count);
  for (std::size_t i = 0; i < count; ++i) keys.push_back(make_sort_key(pending_[range.begin() + 2 * i], i));
  std::stable_sort(keys.begin(), keys.end(), compare_node_keys);
  std::vector<PyObject*> sorted;
  sorted.reserve(2 * count);
  for (const SortKey& k : keys) {
    sorted.push_back(pending_[range.begin() + 2 * k.index]);
    sorted.push_back(pending_[range.begin() + 2 * k.index + 1]);
  }
  for (std::size_t i = 0; i < sorted.size(); ++i) pending_.at(range.begin() + i) = sorted[i];
}

PyStatus RepresentContext::represent_mapping(const PendingRange& range, std::uint32_t depth,
                                        const std::optional<std::string>& tag, FlowChoice flow, Place place,
                                        YamlNode& out) {
  KESTRINE_ASSIGN_OR_RETURN(std::optional<std::string> node_tag, shorten_core_tag(tag));
  const bool in_flow = children_in_flow(flow, place);
  const std::size_t count = range.size() / 2;
  if (sort_keys_ && count >= 2) sort_pairs(range);
  NodeList<NodePair> list;
  list.reserve_in(lists_, count);
  for (std::size_t i = range.begin(), end = range.begin() + 2 * count; i < end; i += 2) {
    NodePair& built = list.emplace_back();
    KESTRINE_TRY(represent_object(pending_[i], depth + 1, Place{in_flow, true}, built.key));
    if (built.key.comments.has_texts() || built.key.is_collection()) {
      if (auto why = check_key_comments(built.key)) return fail(PyErr::value_error(*why));
    }
    KESTRINE_TRY(represent_object(pending_[i + 1], depth + 1, Place{in_flow, false}, built.value));
    // Lines above a value are written above its key.
    if (!built.value.comments.head().empty()) {
      std::vector<HeadComment>& above = built.value.comments.head_mut();
      std::vector<HeadComment>& key_head = built.key.comments.head_mut();
      key_head.insert(key_head.end(), std::make_move_iterator(above.begin()), std::make_move_iterator(above.end()));
      above.clear();
    }
  }
  out.set_mapping(std::move(list));
  out.style = in_flow ? CollectionStyle::Flow : CollectionStyle::Block;
  out.synthetic = true;
  if (node_tag) out.set_tag(OptText(std::move(*node_tag)));
  return {};
}

PyStatus RepresentContext::represent_sequence(const PendingRange& range, std::uint32_t depth,
                                         const std::optional<std::string>& tag, FlowChoice flow, Place place,
                                         YamlNode& out) {
  KESTRINE_ASSIGN_OR_RETURN(std::optional<std::string> node_tag, shorten_core_tag(tag));
  const bool in_flow = children_in_flow(flow, place);
  const std::size_t count = range.size();
  NodeList<YamlNode> list;
  list.reserve_in(lists_, count);
  for (std::size_t i = range.begin(), end = range.begin() + count; i < end; ++i) {
    KESTRINE_TRY(represent_object(pending_[i], depth + 1, Place{in_flow, false}, list.emplace_back()));
  }
  out.set_sequence(std::move(list));
  out.style = in_flow ? CollectionStyle::Flow : CollectionStyle::Block;
  out.synthetic = true;
  if (node_tag) out.set_tag(OptText(std::move(*node_tag)));
  return {};
}

PyStatus push_items(PendingObjects& pending, PyObject* obj) {
  if (PyList_CheckExact(obj) || PyTuple_CheckExact(obj)) {
    const Py_ssize_t n = PySequence_Fast_GET_SIZE(obj);
    PyObject** data = PySequence_Fast_ITEMS(obj);
    for (Py_ssize_t i = 0; i < n; ++i) pending.push(data[i]);
    return {};
  }
  KESTRINE_ASSIGN_OR_RETURN(OwnedRef iter, checked(PyObject_GetIter(obj)));
  while (OwnedRef item = OwnedRef::steal(PyIter_Next(iter.get()))) pending.push(std::move(item));
  if (PyErr_Occurred()) return fail_fetch();
  return {};
}

// ---------------------------------------------------------------------------
// Tags

PyStatus RepresentContext::represent_tag_object(PyObject* tag_obj, std::uint32_t depth, Place place, YamlNode& out) {
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
  return attach_tag(tag, value.get(), depth, place, out);
}

PyStatus RepresentContext::attach_tag(std::string_view tag, PyObject* value, std::uint32_t depth, Place place,
                                 YamlNode& out) {
  std::string storage;
  KESTRINE_ASSIGN_OR_RETURN(const std::string_view written, written_tag(tag, storage));
  KESTRINE_ASSIGN_OR_RETURN(const AnchoredFor anchored, represent_object(value, depth + 1, place, out));
  if (out.is_alias()) return fail(PyErr::value_error(kSharedTagMessage));
  if (out.tag()) return fail(encode_error_to_py(kDoubleTagMessage));
  if (anchored) {
    // The tag goes on the value's node: an alias to the value elsewhere
    // would lose it, so the value is represented afresh where it recurs.
    if (aliased_.contains(*anchored)) return fail(PyErr::value_error(kSharedTagMessage));
    untrack(*anchored);
  }
  out.set_tag(OptText(written));
  return {};
}

PyStatus RepresentContext::represent_serializer_result(PyObject* result, std::uint32_t depth, Place place,
                                                  YamlNode& out) {
  if (is_kestrine_tag(result)) return represent_tag_object(result, depth, place, out);
  if (PyTuple_Check(result) && PyTuple_GET_SIZE(result) == 2) {
    KESTRINE_ASSIGN_OR_RETURN(std::string_view tag, serializer_tag_text(PyTuple_GET_ITEM(result, 0)));
    return attach_tag(tag, PyTuple_GET_ITEM(result, 1), depth, place, out);
  }
  return fail(encode_error_to_py(kSerializerResultMessage));
}

// ---------------------------------------------------------------------------
// The road

PyResult<OwnedRef> dumps_represented(PyObject* obj, PyObject* represent, const EncodeOptions& convert,
                                     Options option, std::uint64_t width) {
  const WriterOptions layout = WriterOptions::from_option_bits(option, width);
  const auto walk_error = [](PyErr err) {
    if (!err.is_instance_of(PyExc_RecursionError)) return err;
    PyErr too_deep = too_deep_error();
    too_deep.set_cause(std::move(err));
    return too_deep;
  };
  ReplayLog log;
  PyResult<OwnedRef> plain = try_plain_represent(obj, represent, layout, log);
  if (!plain) return fail(walk_error(std::move(plain.error())));
  if (*plain) return std::move(*plain);

  YamlNode root;
  std::size_t estimate = 0;
  {
    RepresentContext context(represent, convert, layout);
    context.replay(&log);
    PyResult<AnchoredFor> built = context.represent_object(obj, 0, Place{}, root);
    if (!built) return fail(walk_error(std::move(built.error())));
    if (context.anchor_shared_nodes()) assign_anchors(root, context.aliased());
    estimate = context.output_estimate();
  }
  root.explicit_start = layout.explicit_start;
  Emitter e(layout.null_style);
  e.indent = layout.indent;
  e.width = width;
  e.dump_layout = true;
  e.explicit_end = layout.explicit_end;
  e.indentless_sequences = layout.indentless;
  e.single_quotes = !layout.prefer_double;
  e.synthetic_plain_checked = true;  // by needs_quotes or check_scalar_style, where each node stands
  without_gil([&] {
    e.out.reserve(estimate);
    emit_document(e, root);
    if (e.explicit_end) e.out += "...\n";
    apply_final_break(e.out, e.final_break);
    drop_node_tree(std::move(root));
  });
  return new_bytes(e.out);
}

}  // namespace kestrine
