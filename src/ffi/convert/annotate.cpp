#include "ffi/convert/annotate.hpp"

#include <array>
#include <optional>
#include <utility>
#include <vector>

#include "decode/decoder.hpp"  // is_custom_tag
#include "ffi/errors.hpp"
#include "ffi/types/annotated_list.hpp"
#include "ffi/types/annotated_scalar.hpp"
#include "resolver/resolve.hpp"
#include "resolver/timestamp.hpp"
#include "roundtrip/document.hpp"  // source_tag_of, source_target_of
#include "util/stack_guard.hpp"
#include "util/try.hpp"

namespace kestrine {

namespace {

class TreeConverter {
 public:
  TreeConverter(VersionMode mode, const TagHandlers& handlers, const AnchorBindings& bindings,
                AnchorObjectCache& cache)
      : read_{mode, mode == VersionMode::PyyamlCompat}, handlers_(handlers), bindings_(bindings), cache_(cache) {}

  void annotate(std::span<const std::string> file_names, bool annotate_numbers) {
    annotate_ = true;
    annotate_numbers_ = annotate_numbers;
    files_ = file_names;
    file_objects_.resize(file_names.size());
  }

  PyResult<OwnedRef> step(const YamlNode& node) {
    return stack_guarded([&]() -> PyResult<OwnedRef> {
      if (node.is_alias()) {
        const YamlNode* target = bindings_.target(node);
        if (target == nullptr) return none_ref();
        if (OwnedRef hit = cache_.find(target)) return hit;
        return step(*target);
      }
      // An annotated road timestamp is a plain date/datetime, returned as it
      // is: no tag step (it has no tag) and no cache entry.
      if (annotate_ && node.kind() == NodeKind::Scalar && read_.timestamps && !node.tag() &&
          node.scalar_style() == ScalarStyle::Plain) {
        if (const auto ts = parse_timestamp(node.text())) return timestamp_to_py(*ts);
      }
      KESTRINE_ASSIGN_OR_RETURN(OwnedRef obj, untagged(node));
      if (const auto tag = node.expanded_tag(); tag && is_custom_tag(*tag)) {
        KESTRINE_ASSIGN_OR_RETURN(obj, apply_tag(*tag, std::move(obj), handlers_));
      }
      if (node.anchor()) cache_.store(&node, obj);
      return obj;
    });
  }

 private:
  // The node's own object, before its tag is applied.
  PyResult<OwnedRef> untagged(const YamlNode& node) {
    switch (node.kind()) {
      case NodeKind::Sequence: return sequence(node);
      case NodeKind::Mapping: return mapping(node);
      case NodeKind::Scalar: return annotate_ ? annotated_scalar(node) : scalar_node_to_py(node, read_);
      case NodeKind::Null: return scalar_node_to_py(node, read_);
      case NodeKind::Alias: break;  // taken by step
    }
    return OwnedRef();
  }

  // A new, empty container for `node`: the annotated class carrying the
  // node's metadata, or the plain built-in one.
  template <class Annotated, class Plain>
  PyResult<OwnedRef> new_container(const YamlNode& node, Annotated&& annotated, Plain&& plain) {
    if (!annotate_) return checked(plain());
    KESTRINE_ASSIGN_OR_RETURN(Annotation meta, annotation(node));
    return annotated(std::move(meta));
  }

  PyResult<OwnedRef> sequence(const YamlNode& node) {
    KESTRINE_ASSIGN_OR_RETURN(OwnedRef list, new_container(node, new_annotated_list, [] { return PyList_New(0); }));
    for (const YamlNode& item : node.items()) {
      KESTRINE_ASSIGN_OR_RETURN(OwnedRef obj, step(item));
      KESTRINE_TRY(checked_status(PyList_Append(list.get(), obj.get())));
    }
    return list;
  }

  PyResult<OwnedRef> key(const YamlNode& node) {
    if (is_collection_node(node, bindings_)) return node_to_py_key(node, read_, bindings_, &key_cache_);
    return step(node);
  }

  PyResult<OwnedRef> mapping(const YamlNode& node) {
    KESTRINE_ASSIGN_OR_RETURN(OwnedRef dict, new_container(node, new_annotated_dict, [] { return PyDict_New(); }));
    const auto pairs = node.pairs();
    const bool merges = has_merge_key(pairs);
    bool slot_taken = false;
    for (const NodePair& p : pairs) {
      KESTRINE_ASSIGN_OR_RETURN(OwnedRef value, step(p.value));
      if (merges && is_merge_key_node(p.key)) {
        KESTRINE_ASSIGN_OR_RETURN(OwnedRef leftover, apply_merge(dict.get(), p.value, value.get(), bindings_));
        if (!leftover) continue;
        KESTRINE_ASSIGN_OR_RETURN(OwnedRef k, is_merge_text(p.key) ? step(p.key) : new_str(kMergeKeyText));
        KESTRINE_TRY(insert_merge_slot(dict.get(), k.get(), leftover.get(), slot_taken));
        continue;
      }
      KESTRINE_ASSIGN_OR_RETURN(OwnedRef k, key(p.key));
      KESTRINE_TRY(checked_status(PyDict_SetItem(dict.get(), k.get(), value.get())));
      if (slot_taken && is_ordinary_merge_text_key(p.key)) slot_taken = false;
    }
    return dict;
  }

  // ---- annotation ----

  // The file name object for a file number (None outside the table); one
  // str per file and call.
  PyResult<OwnedRef> file_object(std::uint32_t file_id) {
    if (file_id >= files_.size()) return none_ref();
    OwnedRef& slot = file_objects_[file_id];
    if (!slot) {
      KESTRINE_ASSIGN_OR_RETURN(slot, lossy_str(files_[file_id]));
    }
    return slot;
  }

  // The node's metadata, its file name as the annotated objects show it
  // (invalid UTF-8 replaced).
  PyResult<Annotation> annotation(const YamlNode& node) {
    Annotation m = annotation_of(node, {});
    KESTRINE_ASSIGN_OR_RETURN(OwnedRef file, file_object(node.span.file_id));
    if (file.get() != Py_None) {
      KESTRINE_ASSIGN_OR_RETURN(std::string_view text, str_view(file.get()));
      m.file.emplace(text);
    }
    return m;
  }

  PyResult<OwnedRef> style_object(ScalarStyle style) {
    OwnedRef& slot = styles_[static_cast<std::size_t>(style) % styles_.size()];
    if (!slot) {
      KESTRINE_ASSIGN_OR_RETURN(slot, new_str(scalar_style_name(style)));
    }
    return slot;
  }

  // A line or column number.  Recent ones are shared: a scalar's start and
  // end line, and the keys and values on one line, repeat them.
  PyResult<OwnedRef> position_number(std::uint64_t n) {
    if (n <= 256) return new_uint(n);  // the interpreter's own small ints
    NumberCell& cell = numbers_[n % numbers_.size()];
    if (!cell.object || cell.value != n) {
      KESTRINE_ASSIGN_OR_RETURN(cell.object, new_uint(n));
      cell.value = n;
    }
    return cell.object;
  }

  // The node's metadata in the order of the annotated scalar classes'
  // constructor arguments after the value.
  PyResult<OwnedRef> scalar_meta(const YamlNode& node) {
    std::array<PyResult<OwnedRef>, kScalarMetaSize> items = {
        position_number(node.span.line + 1ULL),
        position_number(node.span.column + 1ULL),
        file_object(node.span.file_id),
        position_number(node.end_line + 1ULL),
        position_number(node.end_column + 1ULL),
        style_object(node.scalar_style()),
        optional_str(source_tag_of(node)),
        optional_str(source_target_of(node)),
        new_uint(node.span.offset),
        new_uint(node.end_offset),
    };
    KESTRINE_ASSIGN_OR_RETURN(OwnedRef meta, checked(PyTuple_New(kScalarMetaSize)));
    for (std::size_t i = 0; i < kScalarMetaSize; ++i) {
      KESTRINE_ASSIGN_OR_RETURN(OwnedRef item, std::move(items[i]));
      PyTuple_SET_ITEM(meta.get(), static_cast<Py_ssize_t>(i), item.release());
    }
    return meta;
  }

  // An annotated scalar holding the value and the node's metadata.
  PyResult<OwnedRef> annotated_object(ScalarClass cls, PyResult<OwnedRef> value, const YamlNode& node) {
    KESTRINE_ASSIGN_OR_RETURN(OwnedRef scalar, std::move(value));
    KESTRINE_ASSIGN_OR_RETURN(OwnedRef meta, scalar_meta(node));
    return new_annotated_scalar(cls, scalar.get(), std::move(meta));
  }

  PyResult<OwnedRef> annotated_scalar(const YamlNode& node) {
    const auto tag = node.expanded_tag();
    const ScalarKind kind =
        resolve_scalar_kind(read_.mode, node.text(), node.scalar_style() != ScalarStyle::Plain, tag);
    switch (kind.type) {
      case ScalarType::Str:
      case ScalarType::Merge:
        return annotated_object(ScalarClass::Str, new_str(node.text()), node);
      case ScalarType::Int:
        if (annotate_numbers_) return annotated_object(ScalarClass::Int, new_int(kind.integer), node);
        break;
      case ScalarType::Float:
        if (annotate_numbers_) {
          return annotated_object(ScalarClass::Float, checked(PyFloat_FromDouble(kind.real)), node);
        }
        break;
      case ScalarType::Null:
      case ScalarType::Bool:
      case ScalarType::BigInt:
        break;
    }
    return scalar_node_to_py(node, read_);
  }

  NodeReadOptions read_;
  const TagHandlers& handlers_;
  const AnchorBindings& bindings_;
  AnchorObjectCache& cache_;
  AnchorObjectCache key_cache_;  // key objects of alias targets
  bool annotate_ = false;
  bool annotate_numbers_ = false;
  std::span<const std::string> files_;
  std::vector<OwnedRef> file_objects_;
  std::array<OwnedRef, 5> styles_;
  struct NumberCell {
    std::uint64_t value = 0;
    OwnedRef object;
  };
  std::array<NumberCell, 64> numbers_;
};

// Whether the annotated scalars of a conversion are made without calling
// their classes (which imports the classes now, before any pause).
bool scalars_run_no_python(bool annotate_numbers) noexcept {
  if (!annotated_scalar_is_native(ScalarClass::Str)) return false;
  return !annotate_numbers ||
         (annotated_scalar_is_native(ScalarClass::Int) && annotated_scalar_is_native(ScalarClass::Float));
}

}  // namespace

Annotation annotation_of(const YamlNode& node, std::span<const std::string> file_names) {
  Annotation m;
  m.line = node.span.line + 1;
  m.column = node.span.column + 1;
  m.end_line = node.end_line + 1;
  m.end_column = node.end_column + 1;
  m.offset = node.span.offset;
  m.end_offset = node.end_offset;
  if (node.span.file_id < file_names.size()) m.file.emplace(file_names[node.span.file_id]);
  if (const auto tag = source_tag_of(node)) m.source_tag.emplace(*tag);
  if (const auto target = source_target_of(node)) m.source_target.emplace(*target);
  return m;
}

PyResult<OwnedRef> tree_to_py_step(const YamlNode& node, VersionMode mode, const TagHandlers& handlers,
                                   const AnchorBindings& bindings, AnchorObjectCache& cache) {
  TreeConverter converter(mode, handlers, bindings, cache);
  return converter.step(node);
}

PyResult<OwnedRef> tree_to_py(const YamlNode& root, VersionMode mode, const TagHandlers& handlers,
                              const AnchorBindings& bindings) {
  GcPause pause(!handlers.calls_back() && mode != VersionMode::PyyamlCompat);
  AnchorObjectCache cache;
  TreeConverter converter(mode, handlers, bindings, cache);
  return converter.step(root);
}

PyResult<OwnedRef> tree_to_annotated_step(const YamlNode& node, std::span<const std::string> file_names,
                                          VersionMode mode, const TagHandlers& handlers,
                                          const AnchorBindings& bindings, bool annotate_numbers,
                                          AnchorObjectCache& cache) {
  GcPause pause(!handlers.calls_back() && scalars_run_no_python(annotate_numbers));
  TreeConverter converter(mode, handlers, bindings, cache);
  converter.annotate(file_names, annotate_numbers);
  return converter.step(node);
}

PyResult<OwnedRef> tree_to_annotated(const YamlNode& root, std::span<const std::string> file_names,
                                     VersionMode mode, const TagHandlers& handlers,
                                     const AnchorBindings& bindings, bool annotate_numbers) {
  AnchorObjectCache cache;
  return tree_to_annotated_step(root, file_names, mode, handlers, bindings, annotate_numbers, cache);
}

}  // namespace kestrine
