#include "ffi/convert/node_bridge.hpp"

#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "decode/directives.hpp"  // is_custom_tag
#include "emit_util/float_text.hpp"
#include "emit_util/scalar_text.hpp"
#include "emit_util/plain_scalar.hpp"
#include "ffi/convert/decode.hpp"
#include "resolver/timestamp.hpp"
#include "util/stack_guard.hpp"
#include "util/try.hpp"

namespace kestrine {

// ---- node to Python -------------------------------------------------------------------

namespace {

// The node an alias is read as (null: it refers to nothing), or the
// follower's limit error as a ValueError.
PyResult<const YamlNode*> expand_alias(const YamlNode& alias, AliasFollower& aliases) {
  auto target = aliases.expand(alias);
  if (!target) return fail(PyErr::value_error(target.error().message));
  return *target;
}

class NodeReader {
 public:
  NodeReader(const NodeReadOptions& opts, AliasFollower& aliases, AnchorObjectCache& cache)
      : opts_(opts), aliases_(aliases), cache_(cache) {}

  PyResult<OwnedRef> read(const YamlNode& node) {
    return stack_guarded([&]() -> PyResult<OwnedRef> {
      if (node.is_alias()) {
        KESTRINE_ASSIGN_OR_RETURN(const YamlNode* target, expand_alias(node, aliases_));
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
    KESTRINE_ASSIGN_OR_RETURN(OwnedRef list, checked(PyList_New(0)));
    for (const YamlNode& item : node.items()) {
      KESTRINE_ASSIGN_OR_RETURN(OwnedRef obj, read(item));
      KESTRINE_TRY(checked_status(PyList_Append(list.get(), obj.get())));
    }
    return list;
  }

  PyResult<OwnedRef> mapping(const YamlNode& node) {
    KESTRINE_ASSIGN_OR_RETURN(OwnedRef dict, checked(PyDict_New()));
    const auto pairs = node.pairs();
    if (!has_merge_key(pairs, opts_.mode, aliases_)) {
      for (const NodePair& p : pairs) {
        KESTRINE_ASSIGN_OR_RETURN(OwnedRef key, node_to_py_key(p.key, opts_, aliases_, &key_cache_));
        KESTRINE_ASSIGN_OR_RETURN(OwnedRef value, read(p.value));
        KESTRINE_TRY(checked_status(PyDict_SetItem(dict.get(), key.get(), value.get())));
      }
      return dict;
    }
    KESTRINE_TRY(charge_merge_sources(pairs));
    KESTRINE_TRY(fill_folded_dict(
        dict.get(), folds_.fold(node), /*keys_may_meet=*/false,
        [&](const YamlNode& key) { return node_to_py_key(key, opts_, aliases_, &key_cache_); },
        [&](const YamlNode& value) { return read(value); }, [](std::size_t, bool) { return PyStatus(); }));
    return dict;
  }

  // Reading a merge value reads what its aliases stand for: charged as a
  // read of each alias would be.
  PyStatus charge_merge_sources(std::span<const NodePair> pairs) {
    const auto charge = [&](const YamlNode& n) -> PyStatus {
      if (n.is_alias()) KESTRINE_TRY(expand_alias(n, aliases_));
      return {};
    };
    for (const NodePair& p : pairs) {
      if (!is_merge_key_node(p.key, opts_.mode, aliases_)) continue;
      KESTRINE_TRY(charge(p.value));
      for (const YamlNode& item : p.value.items()) KESTRINE_TRY(charge(item));
    }
    return {};
  }

  const NodeReadOptions& opts_;
  AliasFollower& aliases_;
  AnchorObjectCache& cache_;
  AnchorObjectCache key_cache_;  // key objects of alias targets
  MappingFolds folds_{aliases_, KeyReading(opts_.mode, opts_.timestamps)};
};

// Hashable key objects.  What an alias stands for is built once per cache and
// shared by every alias to it (tuples, str and numbers are immutable), so
// keys made of aliases cost no copy of the texts they name.
class KeyReader {
 public:
  KeyReader(const NodeReadOptions& opts, AliasFollower& aliases, AnchorObjectCache* aliased,
            const TagHandlers* handlers)
      : opts_(opts), aliases_(aliases), aliased_(aliased), handlers_(handlers) {}

  PyResult<OwnedRef> key_of(const YamlNode& node) {
    return stack_guarded([&]() -> PyResult<OwnedRef> {
      const YamlNode* n = &node;
      while (n->is_alias()) {
        KESTRINE_ASSIGN_OR_RETURN(n, expand_alias(*n, aliases_));
        if (n == nullptr) return none_ref();
      }
      const bool shared = n != &node && aliased_ != nullptr;
      if (shared) {
        if (OwnedRef hit = aliased_->find(n)) return hit;
      }
      KESTRINE_ASSIGN_OR_RETURN(OwnedRef obj, n->is_sequence() ? sequence_key(*n)
                                              : n->is_mapping() ? mapping_key(*n)
                                                                : scalar_node_to_py(*n, opts_));
      if (handlers_ != nullptr) {
        if (const auto tag = n->expanded_tag(); tag && is_custom_tag(*tag)) {
          KESTRINE_ASSIGN_OR_RETURN(obj, apply_tag(*tag, std::move(obj), *handlers_));
        }
      }
      if (shared) aliased_->store(n, obj);
      return obj;
    });
  }

 private:
  PyResult<OwnedRef> sequence_key(const YamlNode& node) {
    const auto items = node.items();
    KESTRINE_ASSIGN_OR_RETURN(OwnedRef tuple, checked(PyTuple_New(static_cast<Py_ssize_t>(items.size()))));
    for (std::size_t i = 0; i < items.size(); ++i) {
      KESTRINE_ASSIGN_OR_RETURN(OwnedRef item, key_of(items[i]));
      PyTuple_SET_ITEM(tuple.get(), static_cast<Py_ssize_t>(i), item.release());
    }
    return tuple;
  }

  PyResult<OwnedRef> mapping_key(const YamlNode& node) {
    const auto pairs = node.pairs();
    KESTRINE_ASSIGN_OR_RETURN(OwnedRef tuple, checked(PyTuple_New(static_cast<Py_ssize_t>(pairs.size()))));
    for (std::size_t i = 0; i < pairs.size(); ++i) {
      KESTRINE_ASSIGN_OR_RETURN(OwnedRef k, key_of(pairs[i].key));
      KESTRINE_ASSIGN_OR_RETURN(OwnedRef v, key_of(pairs[i].value));
      KESTRINE_ASSIGN_OR_RETURN(OwnedRef pair, checked(PyTuple_Pack(2, k.get(), v.get())));
      PyTuple_SET_ITEM(tuple.get(), static_cast<Py_ssize_t>(i), pair.release());
    }
    return tuple;
  }

  const NodeReadOptions& opts_;
  AliasFollower& aliases_;
  AnchorObjectCache* aliased_;
  const TagHandlers* handlers_;
};

}  // namespace

PyResult<OwnedRef> scalar_to_py(const ResolvedScalar& s) noexcept {
  switch (s.type) {
    case ResolvedScalar::Type::Null: return none_ref();
    case ResolvedScalar::Type::Bool: return OwnedRef::borrow(s.boolean ? Py_True : Py_False);
    case ResolvedScalar::Type::Int: return new_int(s.integer);
    case ResolvedScalar::Type::BigInt: return bigint_to_py(s.text);
    case ResolvedScalar::Type::Float: return checked(PyFloat_FromDouble(s.real));
    case ResolvedScalar::Type::String: return new_str(s.text);
  }
  return fail(PyErr::internal_fault("unknown scalar type"));
}

PyResult<OwnedRef> scalar_kind_to_py(const ScalarKind& kind, std::string_view text) {
  switch (kind.type) {
    case ScalarType::Null: return none_ref();
    case ScalarType::Bool: return OwnedRef::borrow(kind.boolean ? Py_True : Py_False);
    case ScalarType::Int: return new_int(kind.integer);
    case ScalarType::Float: return checked(PyFloat_FromDouble(kind.real));
    case ScalarType::Str: return new_str(text);
    case ScalarType::Merge: return new_str("<<");  // however the merge key was written
    case ScalarType::BigInt: return scalar_to_py(to_resolved_scalar(kind, text));
  }
  return fail(PyErr::internal_fault("unknown scalar type"));
}

PyResult<OwnedRef> scalar_node_to_py(const YamlNode& node, const NodeReadOptions& opts) {
  const auto tag = node.expanded_tag();
  if (node.is_scalar()) {
    if (opts.timestamps && !tag && node.scalar_style() == ScalarStyle::Plain) {
      if (const auto ts = parse_timestamp(node.text())) {
        auto obj = timestamp_to_py(*ts);
        if (obj) return obj;
        // A timestamp the interpreter refuses reads as the resolver says.
      }
    }
    // Resolve by kind first: only texts that stay strings are copied.
    return scalar_kind_to_py(
        resolve_scalar_kind(opts.mode, node.text(), node.scalar_style() != ScalarStyle::Plain, tag), node.text());
  }
  if (node.is_null()) {
    if (!tag) return none_ref();
    return scalar_to_py(resolve_scalar_value(opts.mode, "", false, tag));
  }
  return fail(PyErr::internal_fault("scalar conversion of a collection or alias node"));
}

PyResult<OwnedRef> node_to_py(const YamlNode& node, const NodeReadOptions& opts, AliasFollower& aliases,
                              AnchorObjectCache& cache) {
  NodeReader reader(opts, aliases, cache);
  return reader.read(node);
}

PyResult<OwnedRef> node_to_py(const YamlNode& node, const NodeReadOptions& opts, const AnchorBindings& bindings,
                              AnchorObjectCache& cache) {
  AliasFollower aliases(bindings);
  return node_to_py(node, opts, aliases, cache);
}

PyResult<OwnedRef> node_to_py_key(const YamlNode& node, const NodeReadOptions& opts, AliasFollower& aliases,
                                  AnchorObjectCache* aliased) {
  KeyReader reader(opts, aliases, aliased, nullptr);
  return reader.key_of(node);
}

PyResult<OwnedRef> node_to_py_key(const YamlNode& node, const NodeReadOptions& opts,
                                  const AnchorBindings& bindings, AnchorObjectCache* aliased,
                                  const TagHandlers* handlers) {
  AliasFollower aliases(bindings);
  KeyReader reader(opts, aliases, aliased, handlers);
  return reader.key_of(node);
}

// ---- Python to node -------------------------------------------------------------------

namespace {

// The (key, value) pairs of a dict as a list of 2-tuples, in the order the
// dict iterates (a subclass such as OrderedDict may keep its own order): a
// snapshot, since code run while the pairs are used may edit the dict.
PyResult<OwnedRef> dict_pairs(PyObject* dict) {
  if (PyDict_CheckExact(dict)) return checked(PyDict_Items(dict));
  KESTRINE_ASSIGN_OR_RETURN(OwnedRef items, checked(PyMapping_Items(dict)));
  for (Py_ssize_t i = 0; i < PyList_GET_SIZE(items.get()); ++i) {
    PyObject* pair = PyList_GET_ITEM(items.get(), i);
    if (!PyTuple_Check(pair) || PyTuple_GET_SIZE(pair) != 2)
      return fail(PyErr::type_error("items() of a dict subclass must give (key, value) pairs"));
  }
  return items;
}

}  // namespace

ScalarStyle choose_string_style(std::string_view text, bool prefer_double, VersionMode mode) noexcept {
  if (!needs_quotes(text, mode)) return ScalarStyle::Plain;
  return quoted_string_style(text, prefer_double);
}

ScalarStyle quoted_string_style(std::string_view text, bool prefer_double) noexcept {
  if (prefer_double) return ScalarStyle::DoubleQuoted;
  if (text.find('\'') != std::string_view::npos) return ScalarStyle::DoubleQuoted;
  return is_printable_single_line(text) ? ScalarStyle::SingleQuoted : ScalarStyle::DoubleQuoted;
}

namespace {

// What every node built for one assigned value is built with.
struct NodeBuild {
  bool prefer_double = true;
  VersionMode mode = VersionMode::Yaml12;
  NullStyle null_style = NullStyle::Default;
};

PyResult<YamlNode> to_node(PyObject* obj, const NodeBuild& build, std::uint32_t depth);

PyResult<YamlNode> child_node(PyObject* obj, const NodeBuild& build, std::uint32_t depth) {
  return stack_guarded([&] { return to_node(obj, build, depth); });
}

// A mapping key is found by its text (paths, key indexes, membership), so a
// None key is the word a null is written as, a plain scalar like a loaded
// "null:"; empty content would be a key no lookup reaches.
PyResult<YamlNode> key_node(PyObject* obj, const NodeBuild& build, std::uint32_t depth) {
  if (obj == Py_None) return YamlNode::scalar(std::string(null_word(build.null_style)));
  return child_node(obj, build, depth);
}

// A scalar node for None, a bool, an integer (anything with an integer
// conversion; an int beyond 64 bits keeps all its digits), a float or a str;
// nothing for any other value.
PyResult<std::optional<YamlNode>> scalar_to_node(PyObject* obj, const NodeBuild& build) {
  if (obj == Py_None) {
    YamlNode node;
    node.synthetic = true;
    return node;
  }
  if (PyBool_Check(obj)) return YamlNode::scalar(obj == Py_True ? "true" : "false");

  const long long integer = PyLong_AsLongLong(obj);
  if (integer != -1 || !PyErr_Occurred()) return YamlNode::scalar(std::to_string(integer));
  if (PyLong_Check(obj)) {
    PyErr_Clear();
    KESTRINE_ASSIGN_OR_RETURN(OwnedRef text, checked(PyObject_Str(obj)));
    KESTRINE_ASSIGN_OR_RETURN(std::string_view view, str_view(text.get()));
    return YamlNode::scalar(std::string(view));
  }
  PyErr_Clear();

  if (PyFloat_CheckExact(obj)) return YamlNode::scalar(format_float(PyFloat_AS_DOUBLE(obj)));
  if (!PyUnicode_Check(obj)) {
    const double real = PyFloat_AsDouble(obj);
    if (real != -1.0 || !PyErr_Occurred()) return YamlNode::scalar(format_float(real));
    PyErr_Clear();
    return std::nullopt;
  }
  if (auto view = str_view(obj)) {
    return YamlNode::scalar(std::string(*view), choose_string_style(*view, build.prefer_double, build.mode));
  }
  // A str that cannot be encoded falls through to the final error.
  return std::nullopt;
}

PyResult<YamlNode> list_to_node(PyObject* obj, const NodeBuild& build, std::uint32_t depth) {
  std::vector<YamlNode> items;
  for (Py_ssize_t i = 0; i < PyList_GET_SIZE(obj); ++i) {
    // Hold the item: converting it may run code that edits the list.
    OwnedRef item = OwnedRef::borrow(PyList_GET_ITEM(obj, i));
    KESTRINE_ASSIGN_OR_RETURN(YamlNode node, child_node(item.get(), build, depth + 1));
    items.push_back(std::move(node));
  }
  return YamlNode::sequence(std::move(items));
}

PyResult<YamlNode> dict_to_node(PyObject* obj, const NodeBuild& build, std::uint32_t depth) {
  KESTRINE_ASSIGN_OR_RETURN(OwnedRef items, dict_pairs(obj));
  std::vector<NodePair> pairs;
  const Py_ssize_t n = PyList_GET_SIZE(items.get());
  pairs.reserve(static_cast<std::size_t>(n));
  for (Py_ssize_t i = 0; i < n; ++i) {
    PyObject* pair = PyList_GET_ITEM(items.get(), i);
    KESTRINE_ASSIGN_OR_RETURN(YamlNode key, key_node(PyTuple_GET_ITEM(pair, 0), build, depth + 1));
    KESTRINE_ASSIGN_OR_RETURN(YamlNode value, child_node(PyTuple_GET_ITEM(pair, 1), build, depth + 1));
    pairs.push_back(NodePair{std::move(key), std::move(value)});
  }
  return YamlNode::mapping(std::move(pairs));
}

PyResult<YamlNode> to_node(PyObject* obj, const NodeBuild& build, std::uint32_t depth) {
  if (depth > kMaxAssignDepth)
    return fail(PyErr::value_error("value is too deeply nested to assign (possible self-reference)"));
  KESTRINE_ASSIGN_OR_RETURN(std::optional<YamlNode> scalar, scalar_to_node(obj, build));
  if (scalar) return std::move(*scalar);
  if (PyList_Check(obj)) return list_to_node(obj, build, depth);
  if (PyDict_Check(obj)) return dict_to_node(obj, build, depth);

  PyErr_Clear();
  KESTRINE_ASSIGN_OR_RETURN(OwnedRef repr, checked(PyObject_Repr(obj)));
  KESTRINE_ASSIGN_OR_RETURN(std::string_view text, str_view(repr.get()));
  return fail(PyErr::type_error("cannot convert " + std::string(text) + " to a YAML node"));
}

}  // namespace

PyResult<YamlNode> py_to_node(PyObject* obj, bool prefer_double, VersionMode mode, NullStyle null_style,
                              std::uint32_t depth) {
  return child_node(obj, NodeBuild{prefer_double, mode, null_style}, depth);
}

PyResult<YamlNode> py_to_key_node(PyObject* obj, bool prefer_double, VersionMode mode, NullStyle null_style) {
  return key_node(obj, NodeBuild{prefer_double, mode, null_style}, 0);
}

}  // namespace kestrine
