// The representer's state and steps, shared by its sources (internal to the
// represent road; callers use represent.hpp).  One `RepresentContext` lives for
// one `dumps` call and owns everything it builds.
//   represent.cpp          the object walk, collections, tags, the road's body
//   represent_results.cpp  node descriptors returned by the callable
//   represent_values.cpp   scalars and value trees to nodes, quoting, core tags
//   represent_plain.cpp    the fast walk for plain data (represent_plain.hpp)
//
// Identity: an object's address.  Every object except None, bool, int,
// float, bytes and str (subclasses included) and the empty tuple is tracked:
// the first time it is met its identity goes into `seen_` and a reference to
// it into `keep_alive_` (no address is reused while identities are
// compared), and its node is anchored for it; a later meeting gives an alias
// named by the identity's decimal text and puts the identity into
// `aliased_`.  An object represented through a substitute (an
// enumeration's value, a numpy object's list, the result of `default`) is
// forgotten again afterwards, so it is represented afresh each time, unless
// an alias inside the substitute refers to it, which is an error.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "encode/yaml_writer.hpp"
#include "ffi/convert/encode.hpp"
#include "ffi/py.hpp"
#include "roundtrip/tree/ast.hpp"
#include "roundtrip/tree/node_list.hpp"
#include "scanner/scanner.hpp"
#include "util/hash_map.hpp"

namespace kestrine {

// Where a node stands.
struct Place {
  bool in_flow = false;  // inside a flow collection
  bool is_key = false;   // a mapping key
  bool flow_or_key() const noexcept { return in_flow || is_key; }
};

// A collection's requested form: a descriptor's `flow` True, False or None.
enum class FlowChoice : std::uint8_t { Block = 0, Flow = 1, Auto = 2 };

// The objects of the collections open on the walk, waiting to be
// represented: one range per collection (its items, or its pairs flattened
// to key, value, key, value, ...), each entry a strong reference taken
// before any of them is represented, since representing runs Python code
// that may change the containers they came from.  One stack serves the whole
// walk, so a collection costs no allocation of its own.
class PendingObjects {
 public:
  PendingObjects() = default;
  PendingObjects(const PendingObjects&) = delete;
  PendingObjects& operator=(const PendingObjects&) = delete;
  ~PendingObjects() { release_from(0); }

  std::size_t size() const noexcept { return objects_.size(); }
  PyObject* operator[](std::size_t i) const noexcept { return objects_[i]; }
  PyObject*& at(std::size_t i) noexcept { return objects_[i]; }
  void push(PyObject* borrowed) {
    objects_.push_back(borrowed);
    Py_INCREF(borrowed);
  }
  void push(OwnedRef obj) {
    objects_.push_back(obj.get());
    (void)obj.release();
  }
  void release_from(std::size_t mark) noexcept {
    for (std::size_t i = mark; i < objects_.size(); ++i) Py_DECREF(objects_[i]);
    objects_.resize(mark);
  }

 private:
  std::vector<PyObject*> objects_;
};

// The range one collection pushes; released when the collection is done.
class PendingRange {
 public:
  explicit PendingRange(PendingObjects& pending) noexcept : pending_(pending), begin_(pending.size()) {}
  PendingRange(const PendingRange&) = delete;
  PendingRange& operator=(const PendingRange&) = delete;
  ~PendingRange() { pending_.release_from(begin_); }
  std::size_t begin() const noexcept { return begin_; }
  std::size_t size() const noexcept { return pending_.size() - begin_; }

 private:
  PendingObjects& pending_;
  std::size_t begin_;
};

// Strong references in the order taken, in chunks of a fixed size: taking
// one never moves those taken before (a large document's log holds millions).
class SnapshotLog {
 public:
  SnapshotLog() = default;
  SnapshotLog(const SnapshotLog&) = delete;
  SnapshotLog& operator=(const SnapshotLog&) = delete;
  ~SnapshotLog();

  std::size_t size() const noexcept { return size_; }
  PyObject* operator[](std::size_t i) const noexcept { return chunks_[i >> kShift][i & kMask]; }
  void push(PyObject* borrowed) {
    if ((size_ & kMask) == 0 && (size_ >> kShift) == chunks_.size()) add_chunk();
    chunks_[size_ >> kShift][size_ & kMask] = borrowed;
    ++size_;
    Py_INCREF(borrowed);
  }

 private:
  static constexpr unsigned kShift = 16;
  static constexpr std::size_t kMask = (std::size_t{1} << kShift) - 1;
  std::vector<std::unique_ptr<PyObject*[]>> chunks_;
  std::size_t size_ = 0;

  void add_chunk();
};

// What a walk that gave up before the end (the plain attempt,
// represent_plain.hpp) leaves for the node walk, so that the node walk
// takes over without asking the callable or reading a collection again:
// the first `none_answers` calls it makes are answered None, the next one
// `last_answer` when set (the answer of the call the attempt stopped after),
// and the collections it reads take their entries from `snapshots`, one run
// per collection in walk order (the entries as the attempt read them,
// before representing any of them).  Once both are used up the node walk
// goes on as usual.
struct ReplayLog {
  std::size_t none_answers = 0;
  OwnedRef last_answer;
  SnapshotLog snapshots;
  std::vector<std::size_t> snapshot_sizes;  // entries per collection
  std::size_t next_snapshot = 0;            // replay position: index into snapshot_sizes
  std::size_t next_entry = 0;               // and the first entry of that run

  bool snapshots_left() const noexcept { return next_snapshot < snapshot_sizes.size(); }
};

// bool, int, float, bytes or str, subclasses included.  (The float test
// last: it is the one that is not a type flag.)
inline bool is_scalar_object(PyObject* obj) noexcept {
  return PyUnicode_Check(obj) || PyLong_Check(obj) || PyBytes_Check(obj) || PyFloat_Check(obj);
}

// An int's value when it fits 64 bits (no error set), else nothing.
inline std::optional<std::int64_t> int64_value(PyObject* obj) noexcept {
  int overflow = 0;
  const long long v = PyLong_AsLongLongAndOverflow(obj, &overflow);
  if (overflow != 0 || (v == -1 && PyErr_Occurred())) {
    PyErr_Clear();
    return std::nullopt;
  }
  return static_cast<std::int64_t>(v);
}

// Plain scalars and the empty tuple are never anchored: equal ones are
// indistinguishable, and the interpreter shares them freely.
inline bool is_tracked(PyObject* obj) noexcept {
  PyTypeObject* const type = Py_TYPE(obj);
  if (type == &PyDict_Type || type == &PyList_Type) [[likely]] return true;
  if (obj == Py_None || is_scalar_object(obj)) return false;
  return !(type == &PyTuple_Type && PyTuple_GET_SIZE(obj) == 0);
}

// The automatic style of a string scalar: a literal block for a multi-line
// text that fits one, plain when the text reads back as itself where it
// stands (`in_flow`: inside a flow collection), else quoted (double quotes
// when preferred or when the text holds "'").  Literal blocks are the
// caller's to turn into double quotes in a flow collection or key.
ScalarStyle choose_quote_style(std::string_view text, bool prefer_double, VersionMode mode, bool in_flow) noexcept;

// A tag for a node: the core prefix "tag:yaml.org,2002:" shortened to "!!",
// any other global tag in verbatim form (written_tag); checked as every
// written tag is (check_tag).
PyResult<std::optional<std::string>> shorten_core_tag(const std::optional<std::string>& tag);

// The identity of the tracked object whose node a step built, when that
// node is anchored for it (a substitute's node is anchored for the
// substitute).
using AnchoredFor = std::optional<std::uint64_t>;

// Every step writes its node into a slot the caller owns (`out`, a default
// node on entry) and builds children in place in exactly sized child lists,
// so nodes never move once built: `seen_` records where the node of each
// tracked object lies, and only the nodes that some alias needs get an
// anchor, at the end (anchor_shared_nodes).
class RepresentContext {
 public:
  RepresentContext(PyObject* represent, const EncodeOptions& convert, const WriterOptions& layout);
  RepresentContext(const RepresentContext&) = delete;
  RepresentContext& operator=(const RepresentContext&) = delete;

  // The node for `obj` at nesting `depth` (the root is 0), into `out`.
  PyResult<AnchoredFor> represent_object(PyObject* obj, std::uint32_t depth, Place place, YamlNode& out);
  // Continue after a walk that gave up: its answers and snapshots first.
  void replay(ReplayLog* log) noexcept { replay_ = log; }

  // Gives every node that an alias refers to its provisional anchor (the
  // identity's decimal text); false when no alias was made.
  bool anchor_shared_nodes();
  const SeededHashSet<std::uint64_t>& aliased() const noexcept { return aliased_; }
  // A first capacity for the text: the strings' bytes plus room for the
  // indentation and indicators of each node.  Pages reserved but never
  // written cost nothing, while growing a large text copies it again and again.
  std::size_t output_estimate() const noexcept { return output_estimate_; }

 private:
  PyObject* represent_;
  EncodeOptions convert_;
  PyEncoder encoder_;  // scalars and leftovers through the plain road's rules
  std::vector<OwnedRef> keep_alive_;
  // Identity of each tracked object met (and not forgotten again) to the
  // slot of its node.
  SeededHashMap<std::uint64_t, YamlNode*> seen_;
  SeededHashSet<std::uint64_t> aliased_;  // identities an alias refers to
  bool sort_keys_;
  bool flow_;
  bool prefer_double_;
  VersionMode mode_;
  ListArena lists_;  // the child lists of the built nodes
  PendingObjects pending_;
  std::size_t output_estimate_ = 256;
  std::uintptr_t stack_floor_ = 0;  // at or below it, less than kStackRedZone remains
  ReplayLog* replay_ = nullptr;

  bool stack_is_low() const noexcept;
  // The callable's answer for `obj` (replayed while the log has answers).
  PyResult<OwnedRef> ask(PyObject* obj);
  // Pushes a dict's pairs or a list's, tuple's or set's items (replayed
  // while the log has snapshots).
  PyStatus push_entries(PyObject* obj, bool is_dict);

  // ---- the object walk (represent.cpp) -------------------------------------------
  // The built-in rules, after the callable returned None.  `replaced`: the
  // object was represented through a substitute.
  PyResult<AnchoredFor> represent_builtin(PyObject* obj, std::uint32_t depth, Place place, YamlNode& out,
                                          bool& replaced);
  PyResult<AnchoredFor> represent_with_default(PyObject* obj, std::uint32_t depth, Place place, YamlNode& out,
                                               bool& replaced);
  PyStatus represent_dataclass(PyObject* obj, const std::vector<OwnedRef>& names, std::uint32_t depth,
                               Place place, YamlNode& out);
  // A collection whose pairs (flattened) or items are the `range` just
  // pushed onto `pending_`.
  PyStatus represent_mapping(const PendingRange& range, std::uint32_t depth, const std::optional<std::string>& tag,
                             FlowChoice flow, Place place, YamlNode& out);
  PyStatus represent_sequence(const PendingRange& range, std::uint32_t depth,
                              const std::optional<std::string>& tag, FlowChoice flow, Place place, YamlNode& out);
  // Whether a collection's children are in flow: the requested form (keys
  // always in flow), or inside a flow collection.
  bool children_in_flow(FlowChoice flow, Place place) const noexcept;
  void sort_pairs(const PendingRange& range);
  // A KestrineTag's value with its tag.
  PyStatus represent_tag_object(PyObject* tag_obj, std::uint32_t depth, Place place, YamlNode& out);
  PyStatus attach_tag(std::string_view tag, PyObject* value, std::uint32_t depth, Place place, YamlNode& out);
  PyStatus represent_serializer_result(PyObject* result, std::uint32_t depth, Place place, YamlNode& out);
  void untrack(std::uint64_t id) { seen_.erase(id); }

  // ---- descriptors (represent_results.cpp) ----------------------------------------
  PyStatus descriptor_to_node(PyObject* result, std::uint32_t depth, Place place, YamlNode& out);

  // ---- scalars and values (represent_values.cpp) -----------------------------------
  // A bool, int, float, bytes or str (subclasses included).
  PyStatus scalar_object_node(PyObject* obj, std::uint32_t depth, Place place, YamlNode& out);
  // The common scalars (None, and exact str, small int, float and bool) that
  // need neither Python code nor an error path; false for anything else.
  bool exact_scalar_node(PyObject* obj, Place place, YamlNode& out);
  // A string scalar with the automatic style.
  void string_node(std::string_view text, Place place, YamlNode& out);
  // A value tree (from the plain road's conversion) as nodes; under the
  // stack guard.
  void value_to_node(const YamlValue& value, bool flow_or_key, YamlNode& out);
  void value_to_node_guarded(const YamlValue& value, bool flow_or_key, YamlNode& out);
  // `obj` through the plain road's conversion, then value_to_node.
  PyStatus converted_node(PyObject* obj, const EncodeOptions& opt, std::uint32_t depth, Place place,
                          YamlNode& out);
};

// Nodes built here are `synthetic`, without position or comments.
inline void set_built_scalar(YamlNode& out, std::string_view text, ScalarStyle style) {
  out.set_scalar(text, style);
  out.synthetic = true;
}
inline void set_built_scalar(YamlNode& out, std::string&& text, ScalarStyle style) {
  out.set_scalar(std::move(text), style);
  out.synthetic = true;
}

// Pushes the items of a list, tuple, set or any iterable.
PyStatus push_items(PendingObjects& pending, PyObject* obj);

}  // namespace kestrine
