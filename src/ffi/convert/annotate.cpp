#include "ffi/convert/annotate.hpp"

#include <array>
#include <new>
#include <optional>
#include <utility>
#include <vector>

#include "decode/decoder.hpp"  // is_custom_tag
#include "ffi/errors.hpp"
#include "ffi/types/annotated_list.hpp"
#include "ffi/types/annotated_scalar.hpp"
#include "resolver/resolve.hpp"
#include "resolver/timestamp.hpp"
#include "util/stack_guard.hpp"

namespace kestrine {

namespace {

// The provenance tag of a node: its include source's tag, else its own
// custom tag.
std::optional<std::string_view> source_tag_of(const YamlNode& node) noexcept {
  if (const IncludeSource* src = node.source()) return std::string_view(src->tag);
  if (const auto tag = node.tag().view(); tag && is_custom_tag(*tag)) return tag;
  return std::nullopt;
}

std::optional<std::string_view> source_target_of(const YamlNode& node) noexcept {
  if (const IncludeSource* src = node.source()) return std::string_view(src->target);
  return std::nullopt;
}

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
      PyResult<OwnedRef> obj = OwnedRef();
      switch (node.kind()) {
        case NodeKind::Sequence: obj = sequence(node); break;
        case NodeKind::Mapping: obj = mapping(node); break;
        case NodeKind::Scalar:
          if (annotate_) {
            // An annotated road timestamp is a plain date/datetime, returned
            // as it is: no tag step (it has no tag) and no cache entry.
            if (read_.timestamps && !node.tag() && node.scalar_style() == ScalarStyle::Plain) {
              if (const auto ts = parse_timestamp(node.text())) return timestamp_to_py(*ts);
            }
            obj = annotated_scalar(node);
          } else {
            obj = scalar_node_to_py(node, read_);
          }
          break;
        case NodeKind::Null: obj = scalar_node_to_py(node, read_); break;
        case NodeKind::Alias: break;  // handled above
      }
      if (!obj) return obj;
      if (const auto tag = node.tag().view(); tag && is_custom_tag(*tag)) {
        obj = apply_tag(*tag, std::move(*obj), handlers_);
        if (!obj) return obj;
      }
      if (node.anchor()) cache_.store(&node, *obj);
      return obj;
    });
  }

 private:
  PyResult<OwnedRef> sequence(const YamlNode& node) {
    PyResult<OwnedRef> list = annotate_ ? new_list_annotated(node) : checked(PyList_New(0));
    if (!list) return list;
    for (const YamlNode& item : node.items()) {
      auto obj = step(item);
      if (!obj) return obj;
      if (PyList_Append(list->get(), obj->get()) < 0) return fail_fetch();
    }
    return list;
  }

  PyResult<OwnedRef> new_list_annotated(const YamlNode& node) {
    auto meta = annotation(node);
    if (!meta) return fail(std::move(meta.error()));
    return new_annotated_list(std::move(*meta));
  }

  PyResult<OwnedRef> new_dict_annotated(const YamlNode& node) {
    auto meta = annotation(node);
    if (!meta) return fail(std::move(meta.error()));
    return new_annotated_dict(std::move(*meta));
  }

  PyResult<OwnedRef> key(const YamlNode& node) {
    if (is_collection_node(node, bindings_)) return node_to_py_key(node, read_, bindings_);
    return step(node);
  }

  PyResult<OwnedRef> mapping(const YamlNode& node) {
    PyResult<OwnedRef> dict = annotate_ ? new_dict_annotated(node) : checked(PyDict_New());
    if (!dict) return dict;
    const auto pairs = node.pairs();
    const bool merges = has_merge_key(pairs);
    bool slot_taken = false;
    for (const NodePair& p : pairs) {
      auto value = step(p.value);
      if (!value) return value;
      if (merges && is_merge_key_node(p.key)) {
        auto leftover = apply_merge(dict->get(), value->get());
        if (!leftover) return leftover;
        if (!*leftover) continue;
        auto k = step(p.key);
        if (!k) return k;
        if (auto st = insert_merge_slot(dict->get(), k->get(), leftover->get(), slot_taken); !st)
          return fail(std::move(st.error()));
        continue;
      }
      auto k = key(p.key);
      if (!k) return k;
      if (PyDict_SetItem(dict->get(), k->get(), value->get()) < 0) return fail_fetch();
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
      auto name = lossy_str(files_[file_id]);
      if (!name) return name;
      slot = std::move(*name);
    }
    return slot;
  }

  PyResult<Annotation> annotation(const YamlNode& node) {
    Annotation m;
    m.line = node.span.line + 1;
    m.column = node.span.column + 1;
    m.end_line = node.end_line + 1;
    m.end_column = node.end_column + 1;
    m.offset = node.span.offset;
    m.end_offset = node.end_offset;
    auto file = file_object(node.span.file_id);
    if (!file) return fail(std::move(file.error()));
    if (file->get() != Py_None) {
      auto text = str_view(file->get());
      if (!text) return fail(std::move(text.error()));
      m.file.emplace(*text);
    }
    if (const auto tag = source_tag_of(node)) m.source_tag.emplace(*tag);
    if (const auto target = source_target_of(node)) m.source_target.emplace(*target);
    return m;
  }

  PyResult<OwnedRef> optional_str(std::optional<std::string_view> text) {
    if (!text) return none_ref();
    return utf8_to_str(*text);
  }

  PyResult<OwnedRef> style_object(ScalarStyle style) {
    OwnedRef& slot = styles_[static_cast<std::size_t>(style) % styles_.size()];
    if (!slot) {
      auto s = new_str(scalar_style_name(style));
      if (!s) return s;
      slot = std::move(*s);
    }
    return slot;
  }

  // A line or column number.  Recent ones are shared: a scalar's start and
  // end line, and the keys and values on one line, repeat them.
  PyResult<OwnedRef> position_number(std::uint64_t n) {
    if (n <= 256) return new_uint(n);  // the interpreter's own small ints
    NumberCell& cell = numbers_[n % numbers_.size()];
    if (!cell.object || cell.value != n) {
      auto obj = new_uint(n);
      if (!obj) return obj;
      cell.value = n;
      cell.object = std::move(*obj);
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
    OwnedRef meta = OwnedRef::steal(PyTuple_New(kScalarMetaSize));
    if (!meta) return fail_fetch();
    for (std::size_t i = 0; i < kScalarMetaSize; ++i) {
      if (!items[i]) return fail(std::move(items[i].error()));
      PyTuple_SET_ITEM(meta.get(), static_cast<Py_ssize_t>(i), items[i]->release());
    }
    return meta;
  }

  // An annotated scalar holding the value and the node's metadata.
  PyResult<OwnedRef> annotated_object(ScalarClass cls, OwnedRef value, const YamlNode& node) {
    auto meta = scalar_meta(node);
    if (!meta) return meta;
    return new_annotated_scalar(cls, value.get(), std::move(*meta));
  }

  PyResult<OwnedRef> annotated_scalar(const YamlNode& node) {
    const auto tag = node.tag().view();
    const ScalarKind kind =
        resolve_scalar_kind(read_.mode, node.text(), node.scalar_style() != ScalarStyle::Plain, tag);
    switch (kind.type) {
      case ScalarType::Str:
      case ScalarType::Merge: {
        auto text = utf8_to_str(node.text());
        if (!text) return text;
        return annotated_object(ScalarClass::Str, std::move(*text), node);
      }
      case ScalarType::Int:
        if (annotate_numbers_) {
          auto value = new_int(kind.integer);
          if (!value) return value;
          return annotated_object(ScalarClass::Int, std::move(*value), node);
        }
        break;
      case ScalarType::Float:
        if (annotate_numbers_) {
          auto value = checked(PyFloat_FromDouble(kind.real));
          if (!value) return value;
          return annotated_object(ScalarClass::Float, std::move(*value), node);
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

template <class F>
PyResult<OwnedRef> run_conversion(F&& body) noexcept {
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

bool runs_python_code(const TagHandlers& h) noexcept { return h.tags != nullptr || h.tag_handler != nullptr; }

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
                                   const AnchorBindings& bindings, AnchorObjectCache& cache) noexcept {
  return run_conversion([&] {
    TreeConverter converter(mode, handlers, bindings, cache);
    return converter.step(node);
  });
}

PyResult<OwnedRef> tree_to_py(const YamlNode& root, VersionMode mode, const TagHandlers& handlers,
                              const AnchorBindings& bindings) noexcept {
  return run_conversion([&] {
    GcPause pause(!runs_python_code(handlers) && mode != VersionMode::PyyamlCompat);
    AnchorObjectCache cache;
    TreeConverter converter(mode, handlers, bindings, cache);
    return converter.step(root);
  });
}

PyResult<OwnedRef> tree_to_annotated_step(const YamlNode& node, std::span<const std::string> file_names,
                                          VersionMode mode, const TagHandlers& handlers,
                                          const AnchorBindings& bindings, bool annotate_numbers,
                                          AnchorObjectCache& cache) noexcept {
  return run_conversion([&] {
    GcPause pause(!runs_python_code(handlers) && scalars_run_no_python(annotate_numbers));
    TreeConverter converter(mode, handlers, bindings, cache);
    converter.annotate(file_names, annotate_numbers);
    return converter.step(node);
  });
}

PyResult<OwnedRef> tree_to_annotated(const YamlNode& root, std::span<const std::string> file_names,
                                     VersionMode mode, const TagHandlers& handlers,
                                     const AnchorBindings& bindings, bool annotate_numbers) noexcept {
  AnchorObjectCache cache;
  return tree_to_annotated_step(root, file_names, mode, handlers, bindings, annotate_numbers, cache);
}

}  // namespace kestrine
