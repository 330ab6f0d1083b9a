#include "ffi/schema_cache.hpp"

#include <array>
#include <cstdint>
#include <utility>
#include <vector>

#include "util/hash_map.hpp"
#include "util/stack_guard.hpp"
#include "util/try.hpp"

namespace kestrine {

PyResult<std::unique_ptr<PreparedSchema>> PreparedSchema::convert(PyObject* schema) {
  auto out = std::unique_ptr<PreparedSchema>(new PreparedSchema());
  out->encoder_.convert_repeats_once();  // a sub-schema object placed twice is one schema
  KESTRINE_ASSIGN_OR_RETURN(out->root_, out->encoder_.convert(schema));
  out->compiled_.emplace(out->root_);
  return out;
}

std::size_t PreparedSchema::footprint() const noexcept {
  return sizeof(*this) + encoder_.arena().bytes_reserved() + compiled_->footprint();
}

namespace {

bool is_plain_leaf(PyObject* obj) noexcept {
  PyTypeObject* type = Py_TYPE(obj);
  return type == &PyUnicode_Type || type == &PyLong_Type || type == &PyFloat_Type || type == &PyBool_Type ||
         obj == Py_None;
}

bool is_plain_container(PyObject* obj) noexcept {
  PyTypeObject* type = Py_TYPE(obj);
  return type == &PyDict_Type || type == &PyList_Type || type == &PyTuple_Type;
}

std::uintptr_t identity(PyObject* obj) noexcept { return reinterpret_cast<std::uintptr_t>(obj); }

using Trace = std::vector<std::uintptr_t>;

// Up to 3.13 a dict carries a version that changes with every edit (it went
// in 3.14): a dict whose version is the recorded one holds the recorded
// entries, so the check compares one word per dict and reads only lists.
#if PY_VERSION_HEX < 0x030E0000
#define KESTRINE_DICT_VERSIONS 1
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wdeprecated-declarations"
std::uint64_t dict_version(PyObject* dict) noexcept { return reinterpret_cast<PyDictObject*>(dict)->ma_version_tag; }
#pragma GCC diagnostic pop
#endif

// Every mutable container of a schema as recorded: each dict with its
// version, each list with its items.  Tuples cannot change; the containers
// inside them have marks of their own.
struct Marks {
  std::vector<std::pair<PyObject*, std::uint64_t>> dicts;
  std::vector<std::pair<PyObject*, std::size_t>> lists;  // (list, first item in `items`)
  std::vector<PyObject*> items;
};

// The word that stands for a container met before in the trace: its
// identity with the low bit set (objects are aligned), its contents not
// traced again.  A schema that places one object in many places is traced
// in proportion to its objects, not to the places.
constexpr std::uintptr_t kMetBefore = 1;

// Appends the trace of `obj`: its identity and, for a container met for
// the first time, its size and the traces of its keys and values or items,
// in the conversion's order; holds a reference to every object traced.
// False when an object is not plain data.
bool record(PyObject* obj, Trace& words, std::vector<OwnedRef>& held, Marks& marks, FlatHashSet<PyObject*>& traced) {
  if (is_plain_container(obj) && !traced.insert(obj).second) {
    words.push_back(identity(obj) | kMetBefore);
    return true;
  }
  words.push_back(identity(obj));
  held.push_back(OwnedRef::borrow(obj));
  if (is_plain_leaf(obj)) return true;
  if (!is_plain_container(obj)) return false;
  const auto child = [&](PyObject* c) { return stack_guarded([&] { return record(c, words, held, marks, traced); }); };
  if (PyDict_CheckExact(obj)) {
#ifdef KESTRINE_DICT_VERSIONS
    marks.dicts.emplace_back(obj, dict_version(obj));
#endif
    words.push_back(static_cast<std::uintptr_t>(PyDict_GET_SIZE(obj)));
    Py_ssize_t pos = 0;
    PyObject *key, *value;
    while (PyDict_Next(obj, &pos, &key, &value))
      if (!child(key) || !child(value)) return false;
    return true;
  }
  const bool list = PyList_CheckExact(obj);
  const Py_ssize_t n = list ? PyList_GET_SIZE(obj) : PyTuple_GET_SIZE(obj);
  words.push_back(static_cast<std::uintptr_t>(n));
  if (list) {
    marks.lists.emplace_back(obj, marks.items.size());
    marks.items.insert(marks.items.end(), reinterpret_cast<PyListObject*>(obj)->ob_item,
                       reinterpret_cast<PyListObject*>(obj)->ob_item + n);
    marks.items.push_back(nullptr);  // ends the list's items
  }
  for (Py_ssize_t i = 0; i < n; ++i)
    if (!child(list ? PyList_GET_ITEM(obj, i) : PyTuple_GET_ITEM(obj, i))) return false;
  return true;
}

// Whether the objects reachable from `obj` still give the trace at `at`
// (advanced past it).  Runs before every reuse, so it does the least per
// object: an identity that matches the record is an object of the recorded
// type, and only containers are entered.
class TraceCheck {
 public:
  explicit TraceCheck(const Trace& words) noexcept : at_(words.data()), end_(words.data() + words.size()) {}

  bool matches(PyObject* root) { return object(root, 0) && at_ == end_; }

 private:
  // The stack is checked every kGuardEvery levels: a level takes little.
  static constexpr std::uint32_t kGuardEvery = 16;

  bool object(PyObject* obj, std::uint32_t depth) {
    if (at_ == end_) return false;
    const std::uintptr_t word = *at_++;
    // Met before in the same order, so checked whole where first met.
    if (word == (identity(obj) | kMetBefore)) return true;
    if (word != identity(obj)) return false;
    PyTypeObject* type = Py_TYPE(obj);
    if (type != &PyDict_Type && type != &PyList_Type && type != &PyTuple_Type) return true;
    if (depth % kGuardEvery == kGuardEvery - 1) return stack_guarded([&] { return container(obj, type, depth + 1); });
    return container(obj, type, depth + 1);
  }

  bool container(PyObject* obj, PyTypeObject* type, std::uint32_t depth) {
    if (type == &PyDict_Type) {
      if (at_ == end_ || *at_++ != static_cast<std::uintptr_t>(PyDict_GET_SIZE(obj))) return false;
      Py_ssize_t pos = 0;
      PyObject *key, *value;
      while (PyDict_Next(obj, &pos, &key, &value))
        if (!object(key, depth) || !object(value, depth)) return false;
      return true;
    }
    const bool list = type == &PyList_Type;
    const Py_ssize_t n = list ? PyList_GET_SIZE(obj) : PyTuple_GET_SIZE(obj);
    if (at_ == end_ || *at_++ != static_cast<std::uintptr_t>(n)) return false;
    PyObject* const* items = list ? reinterpret_cast<PyListObject*>(obj)->ob_item
                                  : reinterpret_cast<PyTupleObject*>(obj)->ob_item;
    for (Py_ssize_t i = 0; i < n; ++i)
      if (!object(items[i], depth)) return false;
    return true;
  }

  const std::uintptr_t* at_;
  const std::uintptr_t* const end_;
};

thread_local bool t_not_kept = false;

#ifdef KESTRINE_DICT_VERSIONS
// Whether no recorded container changed: then every object reachable from
// the schema is the one recorded.
bool marks_hold(const Marks& marks) noexcept {
  for (const auto& [dict, version] : marks.dicts)
    if (dict_version(dict) != version) return false;
  for (const auto& [list, first] : marks.lists) {
    PyObject* const* items = reinterpret_cast<PyListObject*>(list)->ob_item;
    const Py_ssize_t n = PyList_GET_SIZE(list);
    const PyObject* const* recorded = marks.items.data() + first;
    for (Py_ssize_t i = 0; i < n; ++i)
      if (recorded[i] != items[i]) return false;
    if (recorded[n] != nullptr) return false;  // the list shrank
  }
  return true;
}
#endif

// Identities of the schema objects handed over lately, the oldest
// forgotten first (a new object at an old address merely gets kept one call
// early).
class RecentIds {
 public:
  // Whether `id` is among them; remembers it when not.
  bool seen(std::uintptr_t id) {
    if (ids_.contains(id)) return true;
    if (order_.size() < kRecentSchemaIds) {
      order_.push_back(id);
    } else {
      ids_.erase(order_[next_]);
      order_[next_] = id;
      next_ = (next_ + 1) % order_.size();
    }
    ids_.insert(id);
    return false;
  }

 private:
  SeededHashSet<std::uintptr_t> ids_;
  std::vector<std::uintptr_t> order_;  // a ring once full; `next_` is the oldest
  std::size_t next_ = 0;
};

class PreparedSchemas {
 public:
  PyResult<std::shared_ptr<const PreparedSchema>> get(PyObject* schema) {
    // Entries leave the table at once, but what they hold is released only
    // when this call returns: releasing an object can run a __del__, and
    // with it a load that uses this cache, which must find the table whole.
    std::vector<Entry> gone;
    const bool swept = ++calls_ % kUnheldSweepCalls == 0;
    if (swept) drop_unheld(gone);
    if (auto it = entries_.find(identity(schema)); it != entries_.end()) {
      Entry& e = it->second;
#ifdef KESTRINE_DICT_VERSIONS
      const bool unchanged = marks_hold(e.marks);
#else
      const bool unchanged = TraceCheck(e.words).matches(schema);
#endif
      if (unchanged) {
        e.last_use = ++clock_;
        return e.prepared;
      }
      take(it, gone);  // changed since: converted anew below
    }
    if (!swept) drop_unheld(gone);
    KESTRINE_ASSIGN_OR_RETURN(std::unique_ptr<PreparedSchema> converted, PreparedSchema::convert(schema));
    std::shared_ptr<const PreparedSchema> prepared(std::move(converted));
    if (!t_not_kept && recent_.seen(identity(schema))) keep(schema, prepared, gone);
    return prepared;
  }

 private:
  struct Entry {
    PyObject* root = nullptr;    // held as held[0]
    Trace words;
    Marks marks;
    std::vector<OwnedRef> held;  // every object traced
    std::shared_ptr<const PreparedSchema> prepared;
    std::uint64_t last_use = 0;
    std::size_t bytes = 0;       // counted against the budget
  };
  using Table = SeededHashMap<std::uintptr_t, Entry>;

  void take(Table::iterator it, std::vector<Entry>& gone) {
    bytes_ -= it->second.bytes;
    gone.push_back(std::move(it->second));
    entries_.erase(it);
  }

  // Takes out the entries whose schema only the cache still holds: the
  // application let go of it.
  void drop_unheld(std::vector<Entry>& gone) {
    for (auto it = entries_.begin(); it != entries_.end();) {
      const auto here = it++;
      if (Py_REFCNT(here->second.root) == 1) take(here, gone);
    }
  }

  static std::size_t entry_bytes(const Entry& e) noexcept {
    return sizeof(Entry) + e.prepared->footprint() + e.words.capacity() * sizeof(std::uintptr_t) +
           e.held.capacity() * sizeof(OwnedRef) + e.marks.dicts.capacity() * sizeof(e.marks.dicts[0]) +
           e.marks.lists.capacity() * sizeof(e.marks.lists[0]) + e.marks.items.capacity() * sizeof(PyObject*);
  }

  void keep(PyObject* schema, std::shared_ptr<const PreparedSchema> prepared, std::vector<Entry>& gone) {
    Entry fresh;
    fresh.prepared = std::move(prepared);
    FlatHashSet<PyObject*> traced;
    if (!record(schema, fresh.words, fresh.held, fresh.marks, traced)) {
      gone.push_back(std::move(fresh));  // not plain data
      return;
    }
    fresh.root = schema;
    fresh.last_use = ++clock_;
    fresh.bytes = entry_bytes(fresh);
    // A load that a conversion's callback ran may have kept this schema
    // meanwhile; too large a schema is never kept.
    if (fresh.bytes > kPreparedSchemaBudget || entries_.contains(identity(schema))) {
      gone.push_back(std::move(fresh));
      return;
    }
    while (!entries_.empty() &&
           (entries_.size() >= kPreparedSchemaEntries || bytes_ + fresh.bytes > kPreparedSchemaBudget)) {
      auto oldest = entries_.begin();
      for (auto it = entries_.begin(); it != entries_.end(); ++it)
        if (it->second.last_use < oldest->second.last_use) oldest = it;
      take(oldest, gone);
    }
    bytes_ += fresh.bytes;
    entries_.emplace(identity(schema), std::move(fresh));
  }

  Table entries_;
  std::size_t bytes_ = 0;
  RecentIds recent_;
  std::uint64_t clock_ = 0;
  std::uint32_t calls_ = 0;
};

}  // namespace

NotKeptScope::NotKeptScope(bool active) noexcept : was_(t_not_kept) { t_not_kept = was_ || active; }
NotKeptScope::~NotKeptScope() { t_not_kept = was_; }

PyResult<std::shared_ptr<const PreparedSchema>> prepare_schema(PyObject* schema) {
  // Never destroyed: its references must not be released after the
  // interpreter has gone.
  static PreparedSchemas* const schemas = new PreparedSchemas();
  return schemas->get(schema);
}

}  // namespace kestrine
