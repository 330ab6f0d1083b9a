#include "ffi/types/annotated_scalar.hpp"

#if PY_VERSION_HEX < 0x030C0000
#include <structmember.h>  // T_OBJECT_EX, READONLY
#endif

#include <atomic>

#include "ffi/imported.hpp"
#include "util/try.hpp"

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
PyResult<Layout> layout(ClassLayout& entry) noexcept {
  const Layout known = entry.layout.load(std::memory_order_acquire);
  if (known != Layout::Unchecked) [[likely]] return known;
  KESTRINE_ASSIGN_OR_RETURN(entry.cls, entry.import());
  Py_ssize_t offset = 0;
  const Layout found = inspect(entry, offset);
  entry.meta_offset = offset;
  entry.layout.store(found, std::memory_order_release);
  return found;
}

PyResult<OwnedRef> call_class(PyObject* cls, PyObject* value, PyObject* meta) noexcept {
  PyObject* args[1 + kScalarMetaSize];
  args[0] = value;
  for (std::size_t i = 0; i < kScalarMetaSize; ++i) args[1 + i] = PyTuple_GET_ITEM(meta, i);
  return checked(PyObject_Vectorcall(cls, args, 1 + kScalarMetaSize, nullptr));
}

}  // namespace

bool annotated_scalar_is_native(ScalarClass cls) noexcept {
  auto found = layout(layout_of(cls));
  if (!found) return false;  // the error comes back from the first instance
  return *found == Layout::Slot || *found == Layout::Dict;
}

PyResult<OwnedRef> new_annotated_scalar(ScalarClass cls, PyObject* value, OwnedRef meta) noexcept {
  ClassLayout& entry = layout_of(cls);
  KESTRINE_ASSIGN_OR_RETURN(const Layout found, layout(entry));
  if (found == Layout::Call) return call_class(entry.cls, value, meta.get());

  // What `base.__new__(cls, value)` does, straight through the base type.
  OwnedRef args = OwnedRef::steal(PyTuple_Pack(1, value));
  if (!args) return fail_fetch();
  auto* type = reinterpret_cast<PyTypeObject*>(entry.cls);
  OwnedRef obj = OwnedRef::steal(entry.base->tp_new(type, args.get(), nullptr));
  if (!obj) return fail_fetch();
  if (found == Layout::Slot) {
    auto** slot = reinterpret_cast<PyObject**>(reinterpret_cast<char*>(obj.get()) + entry.meta_offset);
    Py_XSETREF(*slot, meta.release());
  } else if (PyObject_GenericSetAttr(obj.get(), meta_name(), meta.get()) < 0) {
    return fail_fetch();
  }
  return obj;
}

}  // namespace kestrine
