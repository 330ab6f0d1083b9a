#include "ffi/convert/annotate.hpp"

#include <array>
#include <optional>
#include <utility>
#include <vector>

#include "decode/decoder.hpp"  // is_custom_tag
#include "decode/duplicate_keys.hpp"
#include "ffi/errors.hpp"
#include "ffi/types/annotated_list.hpp"
#include "ffi/types/annotated_scalar.hpp"
#include "resolver/resolve.hpp"
#include "resolver/timestamp.hpp"
#include "roundtrip/document/document.hpp"  // source_tag_of, source_target_of
#include "roundtrip/tree/duplicates.hpp"
#include "roundtrip/tree/tree_ops.hpp"  // is_secret_node
#include "util/stack_guard.hpp"
#include "util/try.hpp"

namespace kestrine {

namespace {

// A node's positions as annotated values carry them (1-based lines and
// columns; the tree's are 0-based).
SourcePositions source_positions(const YamlNode& node) noexcept {
  SourcePositions at;
  at.line = node.span.line + 1;
  at.column = node.span.column + 1;
  at.end_line = node.end_line + 1;
  at.end_column = node.end_column + 1;
  at.offset = node.span.offset;
  at.end_offset = node.end_offset;
  return at;
}

class TreeConverter {
 public:
  TreeConverter(VersionMode mode, const TagHandlers& handlers, const AnchorBindings& bindings,
                AnchorObjectCache& cache)
      : read_{mode, mode == VersionMode::PyyamlCompat},
        handlers_(handlers),
        key_tags_(key_tags_of(handlers)),
        bindings_(bindings),
        cache_(cache),
        release_(bindings.empty()) {}

  // The load's duplicate-key policy for pairs only the dicts find equal;
  // positions in the files `file_names` names.  Subtrees stay until the
  // end: the core's verdicts read every key of a mapping.
  void check_duplicates(const DuplicateKeyCheck& duplicates, std::span<const std::string> file_names) {
    duplicates_ = duplicates;
    duplicate_files_ = file_names;
    if (duplicates.on()) release_ = false;
  }

  // The warnings of lost pairs, in the order found.
  std::vector<std::string>& warnings() noexcept { return warnings_; }

  void annotate(std::span<const std::string> file_names, bool annotate_numbers) {
    annotate_ = true;
    annotate_numbers_ = annotate_numbers;
    files_ = file_names;
    file_objects_.resize(file_names.size());
  }

  PyResult<OwnedRef> step(const YamlNode& node) {
    // Only collections, and aliases that stand for them, go deeper.
    if (node.is_scalar() || node.is_null()) return convert(node);
    return stack_guarded([&] { return convert(node); });
  }

 private:
  PyResult<OwnedRef> convert(const YamlNode& node) {
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
    // The keys of a secret value are never quoted in a message.
    const bool secret = duplicates_.on() && is_secret_node(node);
    in_secret_ += secret;
    PyResult<OwnedRef> built = untagged(node);
    in_secret_ -= secret;
    KESTRINE_ASSIGN_OR_RETURN(OwnedRef obj, std::move(built));
    if (const auto tag = node.expanded_tag(); tag && is_custom_tag(*tag)) {
      KESTRINE_ASSIGN_OR_RETURN(obj, apply_tag(*tag, std::move(obj), handlers_));
    }
    if (node.anchor()) cache_.store(&node, obj);
    return obj;
  }

  // An untagged scalar that composing found to read as a str in this
  // mode: no resolving.  The facts know nothing of timestamps, so a load
  // that reads them (OPT_TIMESTAMPS) resolves every scalar.
  bool reads_as_str(const YamlNode& node) const noexcept {
    return read_.mode == VersionMode::Yaml12 && !read_.timestamps &&
           (node.scalar_facts() & scalar_fact::kStrInYaml12) && !node.tag();
  }

  // A scalar's text as a plain str, unchecked when composing found it ASCII.
  static PyObject* text_str(const YamlNode& node) noexcept {
    if (node.scalar_facts() & scalar_fact::kAsciiText) return str_from_ascii(node.text());
    return str_from_utf8(node.text());
  }

  // The node's own object, before its tag is applied.
  PyResult<OwnedRef> untagged(const YamlNode& node) {
    switch (node.kind()) {
      case NodeKind::Sequence: return sequence(node);
      case NodeKind::Mapping: return mapping(node);
      case NodeKind::Scalar:
        if (annotate_) return annotated_scalar(node);
        if (reads_as_str(node)) return checked(text_str(node));
        return scalar_node_to_py(node, read_);
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

  // A converted child's subtree, released at once when nothing can refer
  // to it any more: without bindings no alias reads a node twice, and the
  // converted objects hold no pointer into the tree.  Freed here, while its
  // nodes are still in the cache, and the tree's memory shrinks as the
  // result grows.  (The entry points take the tree as mutable: the walk
  // reads it as const until here.)
  void done_with(const YamlNode& child) noexcept {
    if (release_ && child.is_collection()) drop_node_tree(std::move(const_cast<YamlNode&>(child)));
  }

  PyResult<OwnedRef> sequence(const YamlNode& node) {
    const auto items = node.items();
    if (!annotate_) {
      // Presized: every slot is filled before the list can be seen.
      KESTRINE_ASSIGN_OR_RETURN(OwnedRef list, checked(PyList_New(static_cast<Py_ssize_t>(items.size()))));
      for (std::size_t i = 0; i < items.size(); ++i) {
        KESTRINE_ASSIGN_OR_RETURN(OwnedRef obj, step(items[i]));
        PyList_SET_ITEM(list.get(), static_cast<Py_ssize_t>(i), obj.release());
        done_with(items[i]);
      }
      return list;
    }
    KESTRINE_ASSIGN_OR_RETURN(OwnedRef list, new_container(node, new_annotated_list, [] { return PyList_New(0); }));
    for (const YamlNode& item : items) {
      KESTRINE_ASSIGN_OR_RETURN(OwnedRef obj, step(item));
      KESTRINE_TRY(checked_status(PyList_Append(list.get(), obj.get())));
      done_with(item);
    }
    return list;
  }

  PyResult<OwnedRef> key(const YamlNode& node) {
    if (node.is_collection() || (node.is_alias() && is_collection_node(node, bindings_)))
      return node_to_py_key(node, read_, bindings_, &key_cache_, &handlers_);
    if (is_plain_string_key(node)) {
      if (annotate_) {
        KESTRINE_ASSIGN_OR_RETURN(const ScalarAnnotation m, scalar_annotation(node));
        return scalars_.make_str(node.text(), m);
      }
      return checked(keys_.get(node.text()));
    }
    return step(node);
  }

  // A key that converts to a str and nothing else: untagged, unanchored,
  // read as a string (and not as a timestamp).  Such keys of one call share
  // one str per text, as on the plain road.  An annotated key is a str of
  // its own made straight from the text (copying a shared one measured
  // slower: the lookup costs more than the hash the dict then computes).
  bool is_plain_string_key(const YamlNode& node) const {
    if (!node.is_scalar() || node.tag() || node.anchor()) return false;
    if (reads_as_str(node)) return true;
    const bool plain = node.scalar_style() == ScalarStyle::Plain;
    if (resolve_scalar_kind(read_.mode, node.text(), !plain, std::nullopt).type != ScalarType::Str) return false;
    return !(read_.timestamps && plain && parse_timestamp(node.text()));
  }

  PyResult<OwnedRef> mapping(const YamlNode& node) {
    KESTRINE_ASSIGN_OR_RETURN(OwnedRef dict, new_container(node, new_annotated_dict, [&] {
      return new_presized_dict(node.pairs().size());
    }));
    const auto pairs = node.pairs();
    // Merge keys are looked for before any pair is converted: converting a
    // pair twice would run its tag callbacks twice, and released pairs could
    // not be read again.
    if (has_merge_key(pairs, read_.mode, aliases_)) [[unlikely]] return folded_mapping(node, std::move(dict));
    LostPairs lost(dict.get());
    for (std::size_t i = 0; i < pairs.size(); ++i) {
      const NodePair& p = pairs[i];
      KESTRINE_ASSIGN_OR_RETURN(OwnedRef value, step(p.value));
      KESTRINE_ASSIGN_OR_RETURN(OwnedRef k, key(p.key));
      KESTRINE_TRY(checked_status(PyDict_SetItem(dict.get(), k.get(), value.get())));
      if (duplicates_.on()) [[unlikely]] {
        KESTRINE_TRY(check_store(lost, i, [&] {
          std::vector<const YamlNode*> keys;
          for (const NodePair& q : pairs) keys.push_back(&q.key);
          return keys;
        }));
      }
      done_with(p.key);
      done_with(p.value);
    }
    return dict;
  }

  // ---- duplicate keys only the dicts find ----

  // The store count of one dict, and the core's verdicts on its keys once
  // a store lost a pair.
  struct LostPairs {
    explicit LostPairs(PyObject* dict) noexcept : dict(dict) {}
    PyObject* dict;
    Py_ssize_t size = 0;
    std::vector<bool> repeated;
  };

  // After storing key `i` (of the keys `keys()` gives, null for the merge
  // slot's): a dict that did not grow lost a pair, reported unless the core
  // did.  A mapping read twice (through aliases) is reported once.
  template <class Keys>
  PyStatus check_store(LostPairs& lost, std::size_t i, Keys&& keys) {
    const Py_ssize_t now = PyDict_GET_SIZE(lost.dict);
    const bool grew = now != lost.size;
    lost.size = now;
    if (grew) return {};
    return report_lost(lost, i, keys);
  }

  // Key `i` replaced the value of an equal key: reported as check_store says.
  template <class Keys>
  PyStatus report_lost(LostPairs& lost, std::size_t i, Keys&& keys) {
    if (in_secret_ > 0) return {};
    const std::vector<const YamlNode*> all = keys();
    const YamlNode* key = all[i];
    if (key == nullptr) return {};
    if (duplicates_.policy == DuplicateKeyPolicy::Warn) {
      if (lost.repeated.empty()) {
        lost.repeated = repeated_keys(all, KeyReading(read_.mode, read_.timestamps, duplicates_.key_tags), bindings_);
      }
      if (lost.repeated[i] || !reported_.insert(key).second) return {};
    }
    const std::string shown = describe_key(*key, duplicates_.key_tags);
    if (duplicates_.policy == DuplicateKeyPolicy::Warn) {
      warnings_.push_back(duplicate_key_warning(shown, key->span));
      return {};
    }
    return fail(duplicate_key_error_to_py(ComposeError{duplicate_key_message(shown), key->span},
                                          included_file_name(duplicate_files_, key->span.file_id)));
  }

  // A mapping holding merge keys, filled with the pairs the merge fold
  // leaves.  A merged pair is read where the fold found
  // it, so nothing of the mapping is released on the way.
  PyResult<OwnedRef> folded_mapping(const YamlNode& node, OwnedRef dict) {
    const bool releasing = std::exchange(release_, false);
    const FoldedMapping<NodeRef>& folded = folds_.fold(node);
    LostPairs lost(dict.get());
    PyStatus filled = fill_folded_dict(
        dict.get(), folded, handlers_.calls_back(), [&](const YamlNode& k) { return key(k); },
        [&](const YamlNode& v) { return step(v); },
        [&](std::size_t i, bool lost_pair) -> PyStatus {
          if (!duplicates_.on() || !lost_pair) return {};
          return report_lost(lost, i, [&] {
            std::vector<const YamlNode*> keys;
            for (const FoldedPair<NodeRef>& p : folded.pairs) keys.push_back(p.key.node);
            return keys;
          });
        });
    release_ = releasing;
    KESTRINE_TRY(std::move(filled));
    return dict;
  }

  // ---- annotation ----

  // The file name object for a file number (empty for None, outside the
  // table); one str per file and call.
  PyResult<OwnedRef> file_object(std::uint32_t file_id) {
    if (file_id >= files_.size()) return OwnedRef();
    OwnedRef& slot = file_objects_[file_id];
    if (!slot) {
      KESTRINE_ASSIGN_OR_RETURN(slot, lossy_str(files_[file_id]));
    }
    return slot;
  }

  // A provenance text (tag or target) as a str, shared by the values of one
  // call that carry the same text (a few tags and paths recur).
  PyResult<OwnedRef> provenance_object(std::optional<std::string_view> text) {
    if (!text) return OwnedRef();
    for (auto& [known, object] : provenance_) {
      if (known == *text) return object;
    }
    KESTRINE_ASSIGN_OR_RETURN(OwnedRef object, new_str(*text));
    if (provenance_.size() < kProvenanceCache) provenance_.emplace_back(std::string(*text), object);
    return object;
  }

  // The node's metadata as the annotated objects carry it.
  PyResult<Annotation> annotation(const YamlNode& node) {
    Annotation m;
    static_cast<SourcePositions&>(m) = source_positions(node);
    KESTRINE_ASSIGN_OR_RETURN(m.file, file_object(node.span.file_id));
    if (node.extra() == nullptr) return m;  // no directive made it
    KESTRINE_ASSIGN_OR_RETURN(m.source_tag, provenance_object(source_tag_of(node)));
    KESTRINE_ASSIGN_OR_RETURN(m.source_target, provenance_object(source_target_of(node)));
    return m;
  }

  // The shared (file, source tag, source target) tuple of a scalar's
  // record: none for the common case of three Nones, else one tuple per
  // distinct triple of the call (a few files, tags and paths recur).
  PyResult<PyObject*> scalar_provenance_of(const YamlNode& node) {
    const std::uint32_t file_id = node.span.file_id;
    if (file_id >= files_.size() && node.extra() == nullptr) return nullptr;  // the usual case, in short
    const auto tag = source_tag_of(node);
    const auto target = source_target_of(node);
    if (file_id >= files_.size() && !tag && !target) return nullptr;
    // The values of one file come together: the last triple first.
    const auto same = [&](const ScalarProvenance& known) {
      return known.file_id == file_id && known.tag.view() == tag && known.target.view() == target;
    };
    if (last_provenance_ < scalar_provenance_.size() && same(scalar_provenance_[last_provenance_]))
      return scalar_provenance_[last_provenance_].tuple.get();
    for (std::size_t i = 0; i < scalar_provenance_.size(); ++i) {
      if (same(scalar_provenance_[i])) {
        last_provenance_ = i;
        return scalar_provenance_[i].tuple.get();
      }
    }
    KESTRINE_ASSIGN_OR_RETURN(OwnedRef file, file_object(file_id));
    KESTRINE_ASSIGN_OR_RETURN(OwnedRef tag_object, provenance_object(tag));
    KESTRINE_ASSIGN_OR_RETURN(OwnedRef target_object, provenance_object(target));
    KESTRINE_ASSIGN_OR_RETURN(OwnedRef tuple, scalar_provenance(file, tag_object, target_object));
    ScalarProvenance entry{file_id, OptText(tag), OptText(target), std::move(tuple)};
    if (scalar_provenance_.size() < kProvenanceCache) {
      last_provenance_ = scalar_provenance_.size();
      scalar_provenance_.push_back(std::move(entry));
    } else {
      last_provenance_ = (last_provenance_ + 1) % kProvenanceCache;  // the oldest but one goes
      scalar_provenance_[last_provenance_] = std::move(entry);
    }
    return scalar_provenance_[last_provenance_].tuple.get();
  }

  // An annotated scalar holding the value of `value` and the node's metadata.
  PyResult<OwnedRef> annotated_object(ScalarClass cls, PyResult<OwnedRef> value, const YamlNode& node) {
    KESTRINE_ASSIGN_OR_RETURN(OwnedRef scalar, std::move(value));
    KESTRINE_ASSIGN_OR_RETURN(const ScalarAnnotation m, scalar_annotation(node));
    return scalars_.make(cls, scalar.get(), m);
  }

  // The node's metadata as an annotated scalar's record keeps it.
  PyResult<ScalarAnnotation> scalar_annotation(const YamlNode& node) {
    ScalarAnnotation m;
    static_cast<SourcePositions&>(m) = source_positions(node);
    m.style = node.scalar_style();
    KESTRINE_ASSIGN_OR_RETURN(m.provenance, scalar_provenance_of(node));
    return m;
  }

  PyResult<OwnedRef> annotated_scalar(const YamlNode& node) {
    if (reads_as_str(node)) {
      KESTRINE_ASSIGN_OR_RETURN(const ScalarAnnotation m, scalar_annotation(node));
      return scalars_.make_str(node.text(), m);
    }
    const auto tag = node.expanded_tag();
    const ScalarKind kind =
        resolve_scalar_kind(read_.mode, node.text(), node.scalar_style() != ScalarStyle::Plain, tag);
    switch (kind.type) {
      case ScalarType::Str:
      case ScalarType::Merge: {
        KESTRINE_ASSIGN_OR_RETURN(const ScalarAnnotation m, scalar_annotation(node));
        // A merge key reads as "<<", however it was written ("!!merge x").
        return scalars_.make_str(kind.type == ScalarType::Merge ? std::string_view("<<") : node.text(), m);
      }
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
    // (A plain timestamp never gets here when timestamps are read: step
    // took it.)
    return scalar_kind_to_py(kind, node.text());
  }

  static constexpr std::size_t kProvenanceCache = 16;

  DuplicateKeyCheck duplicates_;
  std::span<const std::string> duplicate_files_;
  std::vector<std::string> warnings_;           // of lost pairs
  SeededHashSet<const YamlNode*> reported_;     // keys of lost pairs warned about
  int in_secret_ = 0;                           // inside values from !secret

  NodeReadOptions read_;
  const TagHandlers& handlers_;
  const KeyTags key_tags_;  // the tags `handlers_` keep on keys: merge folds compare keys without the others
  const AnchorBindings& bindings_;
  AliasFollower aliases_{bindings_};  // navigation only: nothing is charged
  MappingFolds folds_{aliases_, KeyReading(read_.mode, read_.timestamps, &key_tags_)};
  AnchorObjectCache& cache_;
  bool release_;                 // subtrees are released once converted (done_with)
  AnchorObjectCache key_cache_;  // key objects of alias targets
  KeyStrCache keys_;             // plain string keys
  bool annotate_ = false;
  bool annotate_numbers_ = false;
  std::span<const std::string> files_;
  std::vector<OwnedRef> file_objects_;
  std::vector<std::pair<std::string, OwnedRef>> provenance_;
  struct ScalarProvenance {
    std::uint32_t file_id;
    OptText tag;     // owned: the tree may go while the entry is in use
    OptText target;
    OwnedRef tuple;
  };
  std::vector<ScalarProvenance> scalar_provenance_;
  std::size_t last_provenance_ = 0;
  AnnotatedScalarMaker scalars_;
};

// Whether the annotated scalars of a conversion are made without calling
// their classes (which imports the classes now, before any pause).
bool scalars_run_no_python(bool annotate_numbers) {
  if (!annotated_scalar_is_native(ScalarClass::Str)) return false;
  return !annotate_numbers ||
         (annotated_scalar_is_native(ScalarClass::Int) && annotated_scalar_is_native(ScalarClass::Float));
}

}  // namespace

PyResult<OwnedRef> tree_to_py(YamlNode& root, VersionMode mode, const TagHandlers& handlers,
                              const AnchorBindings& bindings, const DuplicateKeyCheck& duplicates,
                              std::span<const std::string> file_names) {
  std::vector<std::string> warnings;
  PyResult<OwnedRef> result = [&] {
    GcPause pause(!handlers.calls_back() && mode != VersionMode::PyyamlCompat);
    AnchorObjectCache cache;
    TreeConverter converter(mode, handlers, bindings, cache);
    converter.check_duplicates(duplicates, file_names);
    PyResult<OwnedRef> obj = converter.step(root);
    warnings = std::move(converter.warnings());
    return obj;
  }();
  log_warnings(warnings);  // the handlers' code runs once the collector does
  return result;
}

bool annotated_conversion_pauses_gc(const TagHandlers& handlers, bool annotate_numbers) {
  return !handlers.calls_back() && scalars_run_no_python(annotate_numbers);
}

PyResult<OwnedRef> tree_to_annotated_step(YamlNode& node, std::span<const std::string> file_names,
                                          VersionMode mode, const TagHandlers& handlers,
                                          const AnchorBindings& bindings, bool annotate_numbers,
                                          AnchorObjectCache& cache, const DuplicateKeyCheck& duplicates,
                                          std::vector<std::string>* warnings) {
  GcPause pause(annotated_conversion_pauses_gc(handlers, annotate_numbers));
  TreeConverter converter(mode, handlers, bindings, cache);
  converter.annotate(file_names, annotate_numbers);
  converter.check_duplicates(duplicates, file_names);
  PyResult<OwnedRef> result = converter.step(node);
  if (warnings != nullptr) {
    warnings->insert(warnings->end(), std::make_move_iterator(converter.warnings().begin()),
                     std::make_move_iterator(converter.warnings().end()));
  }
  return result;
}

PyResult<OwnedRef> tree_to_annotated(YamlNode& root, std::span<const std::string> file_names,
                                     VersionMode mode, const TagHandlers& handlers,
                                     const AnchorBindings& bindings, bool annotate_numbers,
                                     const DuplicateKeyCheck& duplicates) {
  AnchorObjectCache cache;
  std::vector<std::string> warnings;
  PyResult<OwnedRef> result = tree_to_annotated_step(root, file_names, mode, handlers, bindings, annotate_numbers,
                                                     cache, duplicates, &warnings);
  log_warnings(warnings);  // the handlers' code runs once the collector does
  return result;
}

}  // namespace kestrine
