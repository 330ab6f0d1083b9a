#include "roundtrip/value.hpp"

#include <new>
#include <optional>
#include <utility>
#include <vector>

#include "emit_util/float_text.hpp"
#include "emit_util/scalar_text.hpp"
#include "encode/plain_check.hpp"
#include "ffi/convert/decode.hpp"
#include "resolver/timestamp.hpp"
#include "util/stack_guard.hpp"

namespace kestrine {

// ---- alias binding ---------------------------------------------------------------

class AnchorBinder {
 public:
  AnchorBinder(AnchorBindings& out, std::uint64_t budget) : out_(out), budget_(budget) {}

  // Binds one document; anchors do not carry over to the next.
  std::optional<ComposeError> bind_root(const YamlNode& root) {
    anchors_.clear();
    error_.reset();
    walk(root, kNoFile);
    return std::move(error_);
  }

 private:
  struct Anchor {
    const YamlNode* node;
    std::uint64_t count;  // nodes, aliases counted as copies of their targets
  };

  // Anchors are scoped per file: an alias binds only to an anchor written in
  // the file the alias was read from, so after include expansion an alias
  // never binds to a same-named anchor that an included file (or the file
  // that included it) defined in between.  A node that replaced a directive
  // carries the anchor written on the directive, which belongs to the file
  // of its parent, whatever the node's own position says.
  static constexpr std::uint32_t kNoFile = UINT32_MAX;
  using AnchorKey = std::pair<std::uint32_t, std::string_view>;

  // The file the children of `node` are written in (none for a directory
  // directive: its children are documents, which nothing can refer to).
  static std::uint32_t children_file(const YamlNode& node) noexcept {
    const IncludeSource* source = node.source();
    if (source == nullptr) return node.span.file_id;
    return source->target_file_id ? *source->target_file_id : kNoFile;
  }

  static std::uint64_t sat_add(std::uint64_t a, std::uint64_t b) noexcept {
    return a > UINT64_MAX - b ? UINT64_MAX : a + b;
  }

  // The node count of `node` as if every alias in it were a copy; records
  // the bindings and, once the node is complete, its anchor.
  // `file`: the file the node is written in.
  std::uint64_t walk(const YamlNode& node, std::uint32_t file) {
    return stack_guarded([&]() -> std::uint64_t {
      if (error_) return 0;
      std::uint64_t count = 1;
      if (node.is_alias()) {
        auto it = anchors_.find(AnchorKey{node.span.file_id, std::string_view(node.text())});
        if (it == anchors_.end()) return 1;
        out_.targets_.emplace(&node, it->second.node);
        charged_ = sat_add(charged_, it->second.count);
        if (charged_ > budget_) error_ = ComposeError{std::string(kAliasBombMessage), node.span};
        return it->second.count;
      }
      const std::uint32_t inner = children_file(node);
      for (const YamlNode& item : node.items()) count = sat_add(count, walk(item, inner));
      for (const NodePair& pair : node.pairs()) {
        count = sat_add(count, walk(pair.key, inner));
        count = sat_add(count, walk(pair.value, inner));
      }
      if (node.anchor()) {
        const std::uint32_t scope = node.source() != nullptr ? file : node.span.file_id;
        anchors_.insert_or_assign(AnchorKey{scope, std::string_view(*node.anchor())}, Anchor{&node, count});
      }
      return count;
    });
  }

  AnchorBindings& out_;
  SeededHashMap<AnchorKey, Anchor> anchors_;
  std::uint64_t budget_;
  std::uint64_t charged_ = 0;
  std::optional<ComposeError> error_;
};

std::expected<AnchorBindings, ComposeError> bind_anchors(std::span<const YamlNode> roots, std::uint64_t budget) {
  AnchorBindings bindings;
  AnchorBinder binder(bindings, budget);
  for (const YamlNode& root : roots) {
    if (auto err = binder.bind_root(root)) return std::unexpected(std::move(*err));
  }
  return bindings;
}

const YamlNode* follow_aliases(const YamlNode& node, const AnchorBindings& bindings) noexcept {
  // Targets always lie before their aliases, so the chain ends.
  const YamlNode* n = &node;
  while (n != nullptr && n->is_alias()) n = bindings.target(*n);
  return n;
}

// ---- small predicates -----------------------------------------------------------------

bool is_merge_key_node(const YamlNode& key) noexcept {
  if (const auto tag = key.tag().view()) return *tag == "!!merge" || *tag == kMergeTag;
  return key.is_scalar() && key.scalar_style() == ScalarStyle::Plain && key.text() == "<<";
}

bool has_merge_key(std::span<const NodePair> pairs) noexcept {
  for (const NodePair& p : pairs)
    if (is_merge_key_node(p.key)) return true;
  return false;
}

bool is_ordinary_merge_text_key(const YamlNode& key) noexcept {
  return key.is_scalar() && key.text() == "<<" && !is_merge_key_node(key);
}

bool is_collection_node(const YamlNode& node, const AnchorBindings& bindings) noexcept {
  if (node.is_collection()) return true;
  if (!node.is_alias()) return false;
  const YamlNode* target = follow_aliases(node, bindings);
  return target != nullptr && target->is_collection();
}

// ---- node to Python -------------------------------------------------------------------

namespace {

// Runs a conversion body, turning C++ exceptions into Python errors.
template <class F>
auto guarded(F&& body) noexcept -> decltype(body()) {
  try {
    return body();
  } catch (PyErrException& e) {
    return fail(e.take());
  } catch (const std::bad_alloc&) {
    return fail(PyErr::memory_error());
  } catch (const std::exception& e) {
    return fail(PyErr::internal_fault(e.what()));
  }
}

std::optional<std::string_view> tag_of(const YamlNode& node) noexcept { return node.tag().view(); }

class NodeReader {
 public:
  NodeReader(const NodeReadOptions& opts, const AnchorBindings& bindings, AnchorObjectCache& cache)
      : opts_(opts), bindings_(bindings), cache_(cache) {}

  PyResult<OwnedRef> read(const YamlNode& node) {
    return stack_guarded([&]() -> PyResult<OwnedRef> {
      if (node.is_alias()) {
        const YamlNode* target = bindings_.target(node);
        if (target == nullptr) return none_ref();
        if (OwnedRef hit = cache_.find(target)) return hit;
        return read(*target);
      }
      PyResult<OwnedRef> obj = node.is_sequence() ? sequence(node)
                               : node.is_mapping() ? mapping(node)
                                                   : scalar_node_to_py(node, opts_);
      if (obj && node.anchor()) cache_.store(&node, *obj);
      return obj;
    });
  }

 private:
  PyResult<OwnedRef> sequence(const YamlNode& node) {
    auto list = checked(PyList_New(0));
    if (!list) return list;
    for (const YamlNode& item : node.items()) {
      auto obj = read(item);
      if (!obj) return obj;
      if (PyList_Append(list->get(), obj->get()) < 0) return fail_fetch();
    }
    return list;
  }

  PyResult<OwnedRef> mapping(const YamlNode& node) {
    auto dict = checked(PyDict_New());
    if (!dict) return dict;
    const auto pairs = node.pairs();
    if (!has_merge_key(pairs)) {
      for (const NodePair& p : pairs) {
        auto key = node_to_py_key(p.key, opts_, bindings_);
        if (!key) return key;
        auto value = read(p.value);
        if (!value) return value;
        if (PyDict_SetItem(dict->get(), key->get(), value->get()) < 0) return fail_fetch();
      }
      return dict;
    }
    bool slot_taken = false;
    for (const NodePair& p : pairs) {
      auto value = read(p.value);
      if (!value) return value;
      if (is_merge_key_node(p.key)) {
        auto leftover = apply_merge(dict->get(), value->get());
        if (!leftover) return leftover;
        if (!*leftover) continue;
        auto key = node_to_py_key(p.key, opts_, bindings_);
        if (!key) return key;
        if (auto st = insert_merge_slot(dict->get(), key->get(), leftover->get(), slot_taken); !st)
          return fail(std::move(st.error()));
        continue;
      }
      auto key = node_to_py_key(p.key, opts_, bindings_);
      if (!key) return key;
      if (PyDict_SetItem(dict->get(), key->get(), value->get()) < 0) return fail_fetch();
      if (slot_taken && is_ordinary_merge_text_key(p.key)) slot_taken = false;
    }
    return dict;
  }

  const NodeReadOptions& opts_;
  const AnchorBindings& bindings_;
  AnchorObjectCache& cache_;
};

PyResult<OwnedRef> key_of(const YamlNode& node, const NodeReadOptions& opts, const AnchorBindings& bindings) {
  return stack_guarded([&]() -> PyResult<OwnedRef> {
    const YamlNode* n = follow_aliases(node, bindings);
    if (n == nullptr) return none_ref();
    if (n->is_sequence()) {
      const auto items = n->items();
      auto tuple = checked(PyTuple_New(static_cast<Py_ssize_t>(items.size())));
      if (!tuple) return tuple;
      for (std::size_t i = 0; i < items.size(); ++i) {
        auto item = key_of(items[i], opts, bindings);
        if (!item) return item;
        PyTuple_SET_ITEM(tuple->get(), static_cast<Py_ssize_t>(i), item->release());
      }
      return tuple;
    }
    if (n->is_mapping()) {
      const auto pairs = n->pairs();
      auto tuple = checked(PyTuple_New(static_cast<Py_ssize_t>(pairs.size())));
      if (!tuple) return tuple;
      for (std::size_t i = 0; i < pairs.size(); ++i) {
        auto k = key_of(pairs[i].key, opts, bindings);
        if (!k) return k;
        auto v = key_of(pairs[i].value, opts, bindings);
        if (!v) return v;
        auto pair = checked(PyTuple_Pack(2, k->get(), v->get()));
        if (!pair) return pair;
        PyTuple_SET_ITEM(tuple->get(), static_cast<Py_ssize_t>(i), pair->release());
      }
      return tuple;
    }
    return scalar_node_to_py(*n, opts);
  });
}

}  // namespace

PyResult<OwnedRef> scalar_to_py(const ResolvedScalar& s) noexcept {
  switch (s.type) {
    case ResolvedScalar::Type::Null: return none_ref();
    case ResolvedScalar::Type::Bool: return OwnedRef::borrow(s.boolean ? Py_True : Py_False);
    case ResolvedScalar::Type::Int: return new_int(s.integer);
    case ResolvedScalar::Type::BigInt: return bigint_to_py(s.text);
    case ResolvedScalar::Type::Float: return checked(PyFloat_FromDouble(s.real));
    case ResolvedScalar::Type::String: return utf8_to_str(s.text);
  }
  return fail(PyErr::internal_fault("unknown scalar type"));
}

PyResult<OwnedRef> scalar_node_to_py(const YamlNode& node, const NodeReadOptions& opts) noexcept {
  return guarded([&]() -> PyResult<OwnedRef> {
    const auto tag = tag_of(node);
    if (node.is_scalar()) {
      if (opts.timestamps && !tag && node.scalar_style() == ScalarStyle::Plain) {
        if (const auto ts = parse_timestamp(node.text())) {
          auto obj = timestamp_to_py(*ts);
          if (obj) return obj;
          // A timestamp the interpreter refuses reads as the resolver says.
        }
      }
      // Resolve by kind first: only texts that stay strings are copied.
      const ScalarKind kind =
          resolve_scalar_kind(opts.mode, node.text(), node.scalar_style() != ScalarStyle::Plain, tag);
      switch (kind.type) {
        case ScalarType::Null: return none_ref();
        case ScalarType::Bool: return OwnedRef::borrow(kind.boolean ? Py_True : Py_False);
        case ScalarType::Int: return new_int(kind.integer);
        case ScalarType::Float: return checked(PyFloat_FromDouble(kind.real));
        case ScalarType::Str:
        case ScalarType::Merge: return utf8_to_str(node.text());
        case ScalarType::BigInt: return scalar_to_py(to_resolved_scalar(kind, node.text()));
      }
      return fail(PyErr::internal_fault("unknown scalar type"));
    }
    if (node.is_null()) {
      if (!tag) return none_ref();
      return scalar_to_py(resolve_scalar_value(opts.mode, "", false, tag));
    }
    return fail(PyErr::internal_fault("scalar conversion of a collection or alias node"));
  });
}

PyResult<OwnedRef> node_to_py(const YamlNode& node, const NodeReadOptions& opts, const AnchorBindings& bindings,
                              AnchorObjectCache& cache) noexcept {
  return guarded([&] {
    NodeReader reader(opts, bindings, cache);
    return reader.read(node);
  });
}

PyResult<OwnedRef> node_to_py_key(const YamlNode& node, const NodeReadOptions& opts,
                                  const AnchorBindings& bindings) noexcept {
  return guarded([&] { return key_of(node, opts, bindings); });
}

// ---- merge keys -------------------------------------------------------------------------

namespace {

// The (key, value) pairs of a dict as a list of 2-tuples, in the order the
// dict iterates (a subclass such as OrderedDict may keep its own order): a
// snapshot, since code run while the pairs are used may edit the dict.
PyResult<OwnedRef> dict_pairs(PyObject* dict) {
  if (PyDict_CheckExact(dict)) return checked(PyDict_Items(dict));
  auto items = checked(PyMapping_Items(dict));
  if (!items) return items;
  for (Py_ssize_t i = 0; i < PyList_GET_SIZE(items->get()); ++i) {
    PyObject* pair = PyList_GET_ITEM(items->get(), i);
    if (!PyTuple_Check(pair) || PyTuple_GET_SIZE(pair) != 2)
      return fail(PyErr::type_error("items() of a dict subclass must give (key, value) pairs"));
  }
  return items;
}

PyResult<OwnedRef> merge_rec(PyObject* target, PyObject* value) {
  return stack_guarded([&]() -> PyResult<OwnedRef> {
    if (value == Py_None) return OwnedRef();
    if (PyDict_Check(value)) {
      // A snapshot: key comparisons may run Python code that edits `value`.
      auto items = dict_pairs(value);
      if (!items) return items;
      const Py_ssize_t n = PyList_GET_SIZE(items->get());
      for (Py_ssize_t i = 0; i < n; ++i) {
        PyObject* pair = PyList_GET_ITEM(items->get(), i);
        PyObject* k = PyTuple_GET_ITEM(pair, 0);
        const int has = PyDict_Contains(target, k);
        if (has < 0) return fail_fetch();
        if (has == 0 && PyDict_SetItem(target, k, PyTuple_GET_ITEM(pair, 1)) < 0) return fail_fetch();
      }
      return OwnedRef();
    }
    if (PyList_Check(value)) {
      auto items = checked(PyList_AsTuple(value));
      if (!items) return fail(std::move(items.error()));
      OwnedRef leftovers;
      const Py_ssize_t n = PyTuple_GET_SIZE(items->get());
      for (Py_ssize_t i = 0; i < n; ++i) {
        auto left = merge_rec(target, PyTuple_GET_ITEM(items->get(), i));
        if (!left) return left;
        if (!*left) continue;
        if (!leftovers) {
          auto list = checked(PyList_New(0));
          if (!list) return list;
          leftovers = std::move(*list);
        }
        if (PyList_Append(leftovers.get(), left->get()) < 0) return fail_fetch();
      }
      return leftovers;
    }
    return OwnedRef::borrow(value);
  });
}

}  // namespace

PyResult<OwnedRef> apply_merge(PyObject* target, PyObject* value) noexcept {
  return guarded([&] { return merge_rec(target, value); });
}

PyStatus insert_merge_slot(PyObject* target, PyObject* key, PyObject* leftover, bool& slot_taken) noexcept {
  if (!slot_taken) {
    const int has = PyDict_Contains(target, key);
    if (has < 0) return fail_fetch();
    if (has > 0) return {};
    if (PyDict_SetItem(target, key, leftover) < 0) return fail_fetch();
    slot_taken = true;
    return {};
  }
  PyObject* current = PyDict_GetItemWithError(target, key);  // borrowed
  if (current == nullptr) {
    if (PyErr_Occurred()) return fail_fetch();
    // The slot was taken by this mapping and nothing removes keys from it.
    return fail(PyErr::internal_fault("merge slot vanished from its mapping"));
  }
  OwnedRef slot = OwnedRef::borrow(current);
  if (!PyList_Check(slot.get())) {
    auto list = checked(PyList_New(1));
    if (!list) return fail(std::move(list.error()));
    PyList_SET_ITEM(list->get(), 0, slot.release());
    if (PyDict_SetItem(target, key, list->get()) < 0) return fail_fetch();
    slot = std::move(*list);
  }
  if (PyList_Check(leftover)) {
    auto items = checked(PyList_AsTuple(leftover));
    if (!items) return fail(std::move(items.error()));
    for (Py_ssize_t i = 0; i < PyTuple_GET_SIZE(items->get()); ++i)
      if (PyList_Append(slot.get(), PyTuple_GET_ITEM(items->get(), i)) < 0) return fail_fetch();
    return {};
  }
  if (PyList_Append(slot.get(), leftover) < 0) return fail_fetch();
  return {};
}

// ---- Python to node -------------------------------------------------------------------

ScalarStyle choose_string_style(std::string_view text, bool prefer_double, VersionMode mode) noexcept {
  if (!needs_quotes(text, mode)) return ScalarStyle::Plain;
  if (prefer_double) return ScalarStyle::DoubleQuoted;
  if (text.find('\'') != std::string_view::npos) return ScalarStyle::DoubleQuoted;
  return is_printable_single_line(text) ? ScalarStyle::SingleQuoted : ScalarStyle::DoubleQuoted;
}

namespace {

PyResult<YamlNode> to_node(PyObject* obj, bool prefer_double, VersionMode mode, std::uint32_t depth);

PyResult<YamlNode> child_node(PyObject* obj, bool prefer_double, VersionMode mode, std::uint32_t depth) {
  return stack_guarded([&] { return to_node(obj, prefer_double, mode, depth); });
}

PyResult<YamlNode> to_node(PyObject* obj, bool prefer_double, VersionMode mode, std::uint32_t depth) {
  if (depth > kMaxAssignDepth)
    return fail(PyErr::value_error("value is too deeply nested to assign (possible self-reference)"));
  if (obj == Py_None) {
    YamlNode node;
    node.synthetic = true;
    return node;
  }
  if (PyBool_Check(obj)) return YamlNode::scalar(obj == Py_True ? "true" : "false");

  // Integers: anything with an integer conversion; an int beyond 64 bits
  // keeps all its digits.
  const long long integer = PyLong_AsLongLong(obj);
  if (integer != -1 || !PyErr_Occurred()) return YamlNode::scalar(std::to_string(integer));
  if (PyLong_Check(obj)) {
    PyErr_Clear();
    auto text = checked(PyObject_Str(obj));
    if (!text) return fail(std::move(text.error()));
    auto view = str_view(text->get());
    if (!view) return fail(std::move(view.error()));
    return YamlNode::scalar(std::string(*view));
  }
  PyErr_Clear();

  if (PyFloat_CheckExact(obj)) return YamlNode::scalar(format_float(PyFloat_AS_DOUBLE(obj)));
  if (!PyUnicode_Check(obj)) {
    const double real = PyFloat_AsDouble(obj);
    if (real != -1.0 || !PyErr_Occurred()) return YamlNode::scalar(format_float(real));
    PyErr_Clear();
  }

  if (PyUnicode_Check(obj)) {
    if (auto view = str_view(obj)) {
      return YamlNode::scalar(std::string(*view), choose_string_style(*view, prefer_double, mode));
    }
    // A str that cannot be encoded falls through to the final error.
  }

  if (PyList_Check(obj)) {
    std::vector<YamlNode> items;
    for (Py_ssize_t i = 0; i < PyList_GET_SIZE(obj); ++i) {
      // Hold the item: converting it may run code that edits the list.
      OwnedRef item = OwnedRef::borrow(PyList_GET_ITEM(obj, i));
      auto node = child_node(item.get(), prefer_double, mode, depth + 1);
      if (!node) return node;
      items.push_back(std::move(*node));
    }
    return YamlNode::sequence(std::move(items));
  }
  if (PyDict_Check(obj)) {
    auto items = dict_pairs(obj);
    if (!items) return fail(std::move(items.error()));
    std::vector<NodePair> pairs;
    const Py_ssize_t n = PyList_GET_SIZE(items->get());
    pairs.reserve(static_cast<std::size_t>(n));
    for (Py_ssize_t i = 0; i < n; ++i) {
      PyObject* pair = PyList_GET_ITEM(items->get(), i);
      auto key = child_node(PyTuple_GET_ITEM(pair, 0), prefer_double, mode, depth + 1);
      if (!key) return key;
      auto value = child_node(PyTuple_GET_ITEM(pair, 1), prefer_double, mode, depth + 1);
      if (!value) return value;
      pairs.push_back(NodePair{std::move(*key), std::move(*value)});
    }
    return YamlNode::mapping(std::move(pairs));
  }

  PyErr_Clear();
  auto repr = checked(PyObject_Repr(obj));
  if (!repr) return fail(std::move(repr.error()));
  auto text = str_view(repr->get());
  if (!text) return fail(std::move(text.error()));
  return fail(PyErr::type_error("cannot convert " + std::string(*text) + " to a YAML node"));
}

}  // namespace

PyResult<YamlNode> py_to_node(PyObject* obj, bool prefer_double, VersionMode mode, std::uint32_t depth) noexcept {
  return guarded([&] { return child_node(obj, prefer_double, mode, depth); });
}

}  // namespace kestrine
