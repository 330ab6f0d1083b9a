#include "ffi/types/annotated_scalar.hpp"

#if PY_VERSION_HEX < 0x030C0000
#include <structmember.h>  // T_OBJECT_EX, READONLY
#endif

#include <sys/mman.h>

#include <atomic>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <new>
#include <string>
#include <string_view>
#include <utility>

#include "ffi/imported.hpp"
#include "ffi/types/class_objects.hpp"
#include "util/large_block.hpp"
#include "util/try.hpp"
#include "util/utf8.hpp"

namespace kestrine {
namespace {

#if PY_VERSION_HEX >= 0x030C0000
constexpr int kMemberObjectEx = Py_T_OBJECT_EX;
constexpr int kMemberReadOnly = Py_READONLY;
#else
constexpr int kMemberObjectEx = T_OBJECT_EX;
constexpr int kMemberReadOnly = READONLY;
#endif

// How instances of one class are made.
enum class Layout : std::uint8_t {
  Unchecked,  // not looked at yet (or the import failed)
  Slot,       // base tp_new, then the tuple into the `_meta` slot
  Dict,       // base tp_new, then `_meta` set in the instance dict
  Call,       // an unexpected layout: call the class
};

struct ClassLayout {
  PyResult<PyObject*> (*import)() noexcept;
  PyTypeObject* base;
  PyObject* cls = nullptr;  // borrowed: the imported cell keeps it for good
  Py_ssize_t meta_offset = 0;
  std::atomic<Layout> layout{Layout::Unchecked};
};

ClassLayout g_str{annotated_str_class, &PyUnicode_Type};
ClassLayout g_int{annotated_int_class, &PyLong_Type};
ClassLayout g_float{annotated_float_class, &PyFloat_Type};

ClassLayout& layout_of(ScalarClass cls) noexcept {
  switch (cls) {
    case ScalarClass::Str: return g_str;
    case ScalarClass::Int: return g_int;
    case ScalarClass::Float: return g_float;
  }
  return g_str;
}

// The attribute name, interned once.
PyObject* meta_name() noexcept {
  static PyObject* name = PyUnicode_InternFromString("_meta");
  return name;
}

// Looks at the class: a subclass of the base whose `_meta` is an
// object slot of the class itself (str, float), or, for int, an attribute
// with no descriptor anywhere on the class, so that it lands in the
// instance dict.  Leaves no exception set.
Layout inspect(ClassLayout& entry, Py_ssize_t& offset) noexcept {
  PyObject* name = meta_name();
  if (name == nullptr || !PyType_Check(entry.cls)) {
    PyErr_Clear();
    return Layout::Call;
  }
  auto* type = reinterpret_cast<PyTypeObject*>(entry.cls);
  if (!PyType_IsSubtype(type, entry.base)) return Layout::Call;
  OwnedRef descr = OwnedRef::steal(PyObject_GetAttr(entry.cls, name));
  if (!descr) {
    PyErr_Clear();
    if (entry.base == &PyLong_Type && type->tp_dictoffset != 0) return Layout::Dict;
    return Layout::Call;
  }
  if (entry.base == &PyLong_Type || !Py_IS_TYPE(descr.get(), &PyMemberDescr_Type)) return Layout::Call;
  auto* member = reinterpret_cast<PyMemberDescrObject*>(descr.get());
  if (PyDescr_TYPE(member) != type) return Layout::Call;
  const PyMemberDef* def = member->d_member;
  if (def->type != kMemberObjectEx || (def->flags & kMemberReadOnly) != 0) return Layout::Call;
  if (def->offset < entry.base->tp_basicsize ||
      def->offset + static_cast<Py_ssize_t>(sizeof(PyObject*)) > type->tp_basicsize)
    return Layout::Call;
  offset = def->offset;
  return Layout::Slot;
}

// The layout of the class, importing and inspecting it on first use.
PyResult<Layout> layout(ClassLayout& entry) {
  const Layout known = entry.layout.load(std::memory_order_acquire);
  if (known != Layout::Unchecked) [[likely]] return known;
  KESTRINE_ASSIGN_OR_RETURN(entry.cls, entry.import());
  Py_ssize_t offset = 0;
  const Layout found = inspect(entry, offset);
  entry.meta_offset = offset;
  entry.layout.store(found, std::memory_order_release);
  return found;
}

// ---------------------------------------------------------------------------
// The metadata record

// What the `_meta` slot of a loaded scalar holds: its ten metadata items,
// read by index like the tuple that Python-made instances hold.  Holds only
// a tuple of str objects (or None), so it takes no part in garbage
// collection.  64 bytes: one per loaded string, the largest share of an
// annotated result after the strings themselves.
struct ScalarMetaObject {
  PyObject_HEAD
  ScalarAnnotation meta;  // meta.provenance owned here
};
static_assert(sizeof(ScalarMetaObject) <= 64);

// The five style names, made once per process.
PyObject* style_name(ScalarStyle style) noexcept {
  static PyObject* names[5] = {};
  const auto index = static_cast<std::size_t>(style) % 5;
  if (names[index] == nullptr) {
    const std::string_view name = scalar_style_name(style);
    names[index] = PyUnicode_InternFromString(std::string(name).c_str());
    if (names[index] == nullptr) return nullptr;
  }
  return Py_NewRef(names[index]);
}

// Item `i` (0 file, 1 source tag, 2 source target) of a provenance tuple.
PyObject* provenance_item(PyObject* provenance, Py_ssize_t i) noexcept {
  return Py_NewRef(provenance != nullptr ? PyTuple_GET_ITEM(provenance, i) : Py_None);
}

Py_ssize_t meta_length(PyObject*) noexcept { return static_cast<Py_ssize_t>(kScalarMetaSize); }

PyObject* meta_item(PyObject* self, Py_ssize_t index) noexcept {
  const ScalarAnnotation& m = reinterpret_cast<ScalarMetaObject*>(self)->meta;
  switch (index) {
    case 0: return PyLong_FromUnsignedLong(m.line);
    case 1: return PyLong_FromUnsignedLong(m.column);
    case 2: return provenance_item(m.provenance, 0);
    case 3: return PyLong_FromUnsignedLong(m.end_line);
    case 4: return PyLong_FromUnsignedLong(m.end_column);
    case 5: return style_name(m.style);
    case 6: return provenance_item(m.provenance, 1);
    case 7: return provenance_item(m.provenance, 2);
    case 8: return PyLong_FromUnsignedLongLong(m.offset);
    case 9: return PyLong_FromUnsignedLongLong(m.end_offset);
    default: break;
  }
  PyErr_SetString(PyExc_IndexError, "index out of range");
  return nullptr;
}

// The items as a tuple (repr and pickling show what Python-made instances
// hold).
PyObject* meta_as_tuple(PyObject* self) noexcept { return PySequence_Tuple(self); }

PyObject* meta_repr(PyObject* self) noexcept {
  OwnedRef items = OwnedRef::steal(meta_as_tuple(self));
  return items ? PyObject_Repr(items.get()) : nullptr;
}

// Compares and hashes as the tuple of its items, so an instance equals one
// made from Python with the same metadata (its `vars()` included).
PyObject* meta_richcompare(PyObject* self, PyObject* other, int op) noexcept {
  OwnedRef mine = OwnedRef::steal(meta_as_tuple(self));
  if (!mine) return nullptr;
  OwnedRef theirs = Py_TYPE(other) == Py_TYPE(self) ? OwnedRef::steal(meta_as_tuple(other)) : OwnedRef::borrow(other);
  if (!theirs) return nullptr;
  return PyObject_RichCompare(mine.get(), theirs.get(), op);
}

Py_hash_t meta_hash(PyObject* self) noexcept {
  OwnedRef items = OwnedRef::steal(meta_as_tuple(self));
  return items ? PyObject_Hash(items.get()) : -1;
}

PyObject* meta_reduce(PyObject* self, PyObject*) noexcept {
  OwnedRef items = OwnedRef::steal(meta_as_tuple(self));
  if (!items) return nullptr;
  return Py_BuildValue("(O(O))", reinterpret_cast<PyObject*>(&PyTuple_Type), items.get());
}

void meta_dealloc(PyObject* self) noexcept {
  PyTypeObject* type = Py_TYPE(self);
  Py_XDECREF(reinterpret_cast<ScalarMetaObject*>(self)->meta.provenance);
  RecordBlocks::give_back(self);  // every record comes from RecordBlocks
  Py_DECREF(type);
}

PyMethodDef meta_methods[] = {
    {"__reduce__", meta_reduce, METH_NOARGS, nullptr},
    {nullptr, nullptr, 0, nullptr},
};

PyType_Slot meta_slots[] = {
    {Py_tp_doc, const_cast<char*>("The source metadata of a loaded annotated scalar, read by index.")},
    {Py_tp_dealloc, reinterpret_cast<void*>(meta_dealloc)},
    {Py_tp_repr, reinterpret_cast<void*>(meta_repr)},
    {Py_tp_richcompare, reinterpret_cast<void*>(meta_richcompare)},
    {Py_tp_hash, reinterpret_cast<void*>(meta_hash)},
    {Py_tp_methods, meta_methods},
    {Py_sq_length, reinterpret_cast<void*>(meta_length)},
    {Py_sq_item, reinterpret_cast<void*>(meta_item)},
    {0, nullptr},
};

PyType_Spec meta_spec = {
    "kestrine.KestrineScalarMeta",
    static_cast<int>(sizeof(ScalarMetaObject)),
    0,
    Py_TPFLAGS_DEFAULT | Py_TPFLAGS_IMMUTABLETYPE | Py_TPFLAGS_DISALLOW_INSTANTIATION,
    meta_slots,
};

TypeCell meta_cell{"KestrineScalarMeta"};

PyResult<OwnedRef> new_meta(PyTypeObject* type, RecordBlocks& blocks, const ScalarAnnotation& meta) {
  void* storage = blocks.take();
  if (storage == nullptr) return fail(PyErr::memory_error());
  auto* obj = reinterpret_cast<ScalarMetaObject*>(PyObject_Init(static_cast<PyObject*>(storage), type));
  obj->meta = meta;
  Py_XINCREF(meta.provenance);
  return OwnedRef::steal(reinterpret_cast<PyObject*>(obj));
}

// Whether ASCII strs of a class with the slot layout are made here rather
// than by str's constructor: the interpreters whose str object layout the
// code below knows.
#if PY_VERSION_HEX < 0x030E0000
constexpr bool kDirectAsciiStr = true;
#else
constexpr bool kDirectAsciiStr = false;
#endif

// An instance of the str subclass `type` holding ASCII `text`, laid out as
// str's own constructor lays out a subclass instance (the object, then the
// characters in a buffer of their own, which is also the UTF-8 form), with
// `hash` (-1: not computed yet).  Saves the temporary str and the argument
// parsing of the constructor on the annotated road's most frequent object.
PyObject* ascii_str_instance(PyTypeObject* type, std::string_view text, Py_hash_t hash) noexcept {
#if PY_VERSION_HEX < 0x030E0000
  PyObject* self = type->tp_alloc(type, 0);  // zeroed: no buffer, not interned
  if (self == nullptr) return nullptr;
  auto* data = static_cast<char*>(PyObject_Malloc(text.size() + 1));
  if (data == nullptr) {
    Py_DECREF(self);  // str's dealloc frees nothing of an object without a buffer
    return PyErr_NoMemory();
  }
  std::memcpy(data, text.data(), text.size());
  data[text.size()] = '\0';
  auto* unicode = reinterpret_cast<PyUnicodeObject*>(self);
  PyASCIIObject& head = unicode->_base._base;
  head.length = static_cast<Py_ssize_t>(text.size());
  head.hash = hash;
  head.state.kind = PyUnicode_1BYTE_KIND;
  head.state.ascii = 1;
#if PY_VERSION_HEX < 0x030C0000
  head.state.ready = 1;
#endif
  unicode->_base.utf8_length = head.length;
  unicode->_base.utf8 = data;  // shared with the characters, as for any ASCII str
  unicode->data.any = data;
  return self;
#else
  (void)type, (void)text, (void)hash;
  return nullptr;
#endif
}

// `obj`, a new instance of the class, with `record` stored as its `_meta`.
PyResult<OwnedRef> with_record(const ClassLayout& entry, Layout found, OwnedRef obj, OwnedRef record) {
  if (found == Layout::Slot) {
    auto** slot = reinterpret_cast<PyObject**>(reinterpret_cast<char*>(obj.get()) + entry.meta_offset);
    Py_XSETREF(*slot, record.release());
    // The instance has no dict and its one slot holds a record that refers
    // to str objects only: it cannot be part of a reference cycle, so the
    // collector need not walk it (what the interpreter does for tuples of
    // atoms).  Only the package's own classes reach here, never a subclass.
    if (PyObject_GC_IsTracked(obj.get())) PyObject_GC_UnTrack(obj.get());
  } else if (PyObject_GenericSetAttr(obj.get(), meta_name(), record.get()) < 0) {
    return fail_fetch();
  }
  return obj;
}

// An unexpected class layout: the class itself is called with the value and
// the ten items, as from Python.
PyResult<OwnedRef> call_class(PyObject* cls, PyObject* value, PyObject* meta) {
  PyObject* args[1 + kScalarMetaSize] = {value};
  for (std::size_t i = 0; i < kScalarMetaSize; ++i) {
    args[1 + i] = meta_item(meta, static_cast<Py_ssize_t>(i));
    if (args[1 + i] == nullptr) {
      for (std::size_t j = 1; j <= i; ++j) Py_DECREF(args[j]);
      return fail_fetch();
    }
  }
  PyObject* result = PyObject_Vectorcall(cls, args, 1 + kScalarMetaSize, nullptr);
  for (std::size_t i = 1; i <= kScalarMetaSize; ++i) Py_DECREF(args[i]);
  return checked(result);
}

}  // namespace

// ---------------------------------------------------------------------------
// Record storage

// A block: its header, then the records.  Blocks are aligned to their size,
// so a record finds its block from its own address.
struct RecordBlocks::Block {
  // Records taken and not given back, plus one while the maker takes from
  // the block.  Records may go on any thread that holds the lock (or on
  // any thread at all, without one).
  std::atomic<std::size_t> live{1};
};

namespace {
constexpr std::size_t kBlockBytes = 256 * 1024;
constexpr std::size_t kRecordBytes = sizeof(ScalarMetaObject);
constexpr std::size_t kFirstRecord = 1;  // the header takes the first record's place
constexpr std::size_t kRecordsPerBlock = kBlockBytes / kRecordBytes;
}  // namespace

// Blocks are mappings of their own: from the C heap, the records of a large
// result would stay with the process once it is freed (glibc serves blocks
// this size from the heap once larger ones have been freed, and keeps what
// they leave).  Freed blocks go to the process's store of large blocks
// (util/large_block.hpp), so that the next conversion need not fault in
// fresh pages.
static void* map_block() noexcept {
  if (void* kept = take_kept_mapping(kBlockBytes, kBlockBytes)) return kept;
  return map_aligned(kBlockBytes, kBlockBytes);
}

void RecordBlocks::release(Block* block) noexcept {
  if (block->live.fetch_sub(1, std::memory_order_acq_rel) == 1) {
    block->~Block();
    if (!keep_mapping(block, kBlockBytes)) munmap(block, kBlockBytes);
  }
}

// The block a thread is filling between its conversions.  A conversion
// nested in another (a tag callback that loads) finds none and starts its
// own; whichever is handed back last stays, the other is released.
struct RecordBlocks::Current {
  Block* block = nullptr;
  std::size_t next = 0;
  ~Current() {
    if (block != nullptr) release(std::exchange(block, nullptr));
  }
};

RecordBlocks::Current& RecordBlocks::thread_current() noexcept {
  thread_local Current current;
  return current;
}

RecordBlocks::RecordBlocks() noexcept {
  Current& held = thread_current();
  current_ = std::exchange(held.block, nullptr);
  next_ = held.next;
}

RecordBlocks::~RecordBlocks() {
  Current& held = thread_current();
  if (held.block != nullptr) release(held.block);
  held.block = current_;
  held.next = next_;
}

void* RecordBlocks::take() noexcept {
  static_assert(sizeof(Block) <= kRecordBytes && kRecordBytes % alignof(std::max_align_t) == 0);
  if (current_ == nullptr || next_ == kRecordsPerBlock) {
    void* memory = map_block();
    if (memory == nullptr) return nullptr;
    if (current_ != nullptr) release(current_);
    current_ = new (memory) Block;
    next_ = kFirstRecord;
  }
  current_->live.fetch_add(1, std::memory_order_relaxed);
  return reinterpret_cast<char*>(current_) + kRecordBytes * next_++;
}

void RecordBlocks::give_back(void* record) noexcept {
  release(reinterpret_cast<Block*>(reinterpret_cast<std::uintptr_t>(record) & ~(kBlockBytes - 1)));
}

// ---------------------------------------------------------------------------

PyResult<OwnedRef> scalar_provenance(const OwnedRef& file, const OwnedRef& source_tag,
                                     const OwnedRef& source_target) {
  if (!file && !source_tag && !source_target) return OwnedRef();
  const auto item = [](const OwnedRef& text) { return text ? text.get() : Py_None; };
  return checked(PyTuple_Pack(3, item(file), item(source_tag), item(source_target)));
}

bool annotated_scalar_is_native(ScalarClass cls) {
  auto found = layout(layout_of(cls));
  if (!found) return false;  // the error comes back from the first instance
  return *found == Layout::Slot || *found == Layout::Dict;
}

PyResult<OwnedRef> AnnotatedScalarMaker::construct(PyTypeObject* base, PyTypeObject* type, PyObject* value) {
  // What `base.__new__(cls, value)` does, straight through the base type,
  // with one argument tuple for the whole conversion: the base constructors
  // keep no reference to it, which is checked before each reuse.
  if (!args_ || Py_REFCNT(args_.get()) != 1) {
    KESTRINE_ASSIGN_OR_RETURN(args_, checked(PyTuple_Pack(1, Py_None)));
  }
  PyObject* const args = args_.get();
  PyObject* const placeholder = PyTuple_GET_ITEM(args, 0);
  PyTuple_SET_ITEM(args, 0, value);  // borrowed while the constructor runs
  PyObject* obj = base->tp_new(type, args, nullptr);
  PyTuple_SET_ITEM(args, 0, placeholder);
  return checked(obj);
}

PyResult<OwnedRef> AnnotatedScalarMaker::make_str(std::string_view text, const ScalarAnnotation& meta) {
  if (kDirectAsciiStr && is_ascii(text)) {
    KESTRINE_ASSIGN_OR_RETURN(const Layout found, layout(g_str));
    if (found == Layout::Slot) {
      auto* type = reinterpret_cast<PyTypeObject*>(g_str.cls);
      KESTRINE_ASSIGN_OR_RETURN(OwnedRef obj, checked(ascii_str_instance(type, text, -1)));
      KESTRINE_ASSIGN_OR_RETURN(OwnedRef record, new_record(meta));
      return with_record(g_str, found, std::move(obj), std::move(record));
    }
  }
  KESTRINE_ASSIGN_OR_RETURN(OwnedRef value, new_str(text));
  return make(ScalarClass::Str, value.get(), meta);
}

PyResult<OwnedRef> AnnotatedScalarMaker::make(ScalarClass cls, PyObject* value, const ScalarAnnotation& meta) {
  ClassLayout& entry = layout_of(cls);
  KESTRINE_ASSIGN_OR_RETURN(const Layout found, layout(entry));
  KESTRINE_ASSIGN_OR_RETURN(OwnedRef record, new_record(meta));
  if (found == Layout::Call) return call_class(entry.cls, value, record.get());

  auto* type = reinterpret_cast<PyTypeObject*>(entry.cls);
  std::optional<std::string_view> ascii;
  if (kDirectAsciiStr && cls == ScalarClass::Str && found == Layout::Slot) ascii = compact_ascii_view(value);
  // A shared key's text and hash are copied.
  KESTRINE_ASSIGN_OR_RETURN(OwnedRef obj, ascii ? checked(ascii_str_instance(type, *ascii, PyObject_Hash(value)))
                                                 : construct(entry.base, type, value));
  return with_record(entry, found, std::move(obj), std::move(record));
}

PyResult<OwnedRef> AnnotatedScalarMaker::new_record(const ScalarAnnotation& meta) {
  if (meta_type_ == nullptr) {
    KESTRINE_ASSIGN_OR_RETURN(meta_type_, create_type_once(meta_cell, meta_spec, nullptr));
  }
  return new_meta(meta_type_, records_, meta);
}

}  // namespace kestrine
