#include "class_inclusion.hpp"

#include "py/once.hpp"
#include "py/ref.hpp"

namespace quillmar::ext {
namespace {

using core::Verdict;

// Raw strong references: they live for the rest of the process.
struct ClassGraphNames {
  PyObject* abc_meta;
  PyObject* collections_abc;
  PyObject* instancecheck;
  PyObject* subclasscheck;
  PyObject* subclasshook;
};

Result<const ClassGraphNames*> class_graph_names() {
  static OnceCell<ClassGraphNames> cell;
  return cell.get_or_init([]() -> Result<ClassGraphNames> {
    PyRef abc = PyRef::steal(PyImport_ImportModule("abc"));
    if (!abc) return fetched();
    PyRef abc_meta = PyRef::steal(PyObject_GetAttrString(abc.get(), "ABCMeta"));
    if (!abc_meta) return fetched();
    PyRef collections_abc = PyRef::steal(PyImport_ImportModule("collections.abc"));
    if (!collections_abc) return fetched();
    PyRef names[3];
    const char* texts[3] = {"__instancecheck__", "__subclasscheck__", "__subclasshook__"};
    for (int i = 0; i < 3; ++i) {
      names[i] = PyRef::steal(PyUnicode_InternFromString(texts[i]));
      if (!names[i]) return fetched();
    }
    return ClassGraphNames{abc_meta.release(), collections_abc.release(), names[0].release(), names[1].release(),
                           names[2].release()};
  });
}

// The first class in type's MRO whose own dict holds name, or nullptr when
// none does or the MRO cannot be read. Borrowed: type's MRO keeps it alive.
PyObject* owner_of(PyTypeObject* type, PyObject* name) {
  PyObject* mro = type->tp_mro;
  if (!mro || !PyTuple_Check(mro)) return nullptr;
  PyRef held = PyRef::borrow(mro);
  for (Py_ssize_t i = 0; i < PyTuple_GET_SIZE(mro); ++i) {
    PyObject* base = PyTuple_GET_ITEM(mro, i);
    if (!PyType_Check(base)) return nullptr;
    PyRef dict = PyRef::steal(PyType_GetDict(reinterpret_cast<PyTypeObject*>(base)));
    if (!dict) return nullptr;
    int found = PyDict_Contains(dict.get(), name);
    if (found < 0) return nullptr;
    if (found) return base;
  }
  return nullptr;
}

// How isinstance and issubclass decide for a class: by its MRO alone (type's
// own tests), as ABCMeta does (hooks, registrations, then the MRO), or by a
// metaclass's tests of its own, about which nothing is known.
enum class ClassTests { Plain, Abstract, Own };

ClassTests tests_of(PyTypeObject* cls, const ClassGraphNames& names) {
  PyTypeObject* meta = Py_TYPE(cls);
  PyObject* instance_owner = owner_of(meta, names.instancecheck);
  PyObject* subclass_owner = owner_of(meta, names.subclasscheck);
  PyObject* type_class = reinterpret_cast<PyObject*>(&PyType_Type);
  if (instance_owner == type_class && subclass_owner == type_class) return ClassTests::Plain;
  if (instance_owner == names.abc_meta && subclass_owner == names.abc_meta) return ClassTests::Abstract;
  return ClassTests::Own;
}

// object's hook answers NotImplemented, and collections.abc's answer True or
// NotImplemented: none of them ever refuses a class. Any other hook may.
bool hook_never_refuses(PyTypeObject* cls, const ClassGraphNames& names) {
  PyObject* owner = owner_of(cls, names.subclasshook);
  if (!owner) return false;
  if (owner == reinterpret_cast<PyObject*>(&PyBaseObject_Type)) return true;
  PyRef held = PyRef::borrow(owner);
  PyRef name = PyRef::steal(PyType_GetName(reinterpret_cast<PyTypeObject*>(owner)));
  if (!name) return false;
  PyObject* exported = nullptr;
  if (PyObject_GetOptionalAttr(names.collections_abc, name.get(), &exported) <= 0) return false;
  PyRef held_exported = PyRef::steal(exported);
  return exported == owner;
}

// An abstract sup asks its own hook before its MRO, and finds a class
// registered with sub (or accepted by sub's hook) only by asking its
// subclasses down to sub, each of which asks its hook first. So every class
// from sub up to sup must test as ABCMeta does, and every one above sub must
// have a hook that never refuses.
bool abstract_path_admits_sub(PyTypeObject* sub, PyTypeObject* sup, const ClassGraphNames& names) {
  PyObject* mro = sub->tp_mro;
  if (!mro || !PyTuple_Check(mro)) return false;
  PyRef held = PyRef::borrow(mro);
  for (Py_ssize_t i = 0; i < PyTuple_GET_SIZE(mro); ++i) {
    PyObject* base = PyTuple_GET_ITEM(mro, i);
    if (!PyType_Check(base)) return false;
    auto* between = reinterpret_cast<PyTypeObject*>(base);
    if (!PyType_IsSubtype(between, sup)) continue;
    if (tests_of(between, names) != ClassTests::Abstract) return false;
    if (between != sub && !hook_never_refuses(between, names)) return false;
  }
  return true;
}

// A read that failed answers Unknown; its exception goes with it.
struct DropPending {
  ~DropPending() {
    if (PyErr_Occurred()) PyErr_Clear();
  }
};

}  // namespace

Verdict class_inclusion(PyTypeObject* sub, PyTypeObject* sup) {
  if (!PyType_IsSubtype(sub, sup)) return Verdict::Unknown;
  DropPending drop;
  auto names = class_graph_names();
  if (!names) return Verdict::Unknown;
  switch (tests_of(sup, **names)) {
    case ClassTests::Plain:
      // An abstract or hooked sub may admit classes that lack sup as a base.
      return tests_of(sub, **names) == ClassTests::Plain ? Verdict::Yes : Verdict::Unknown;
    case ClassTests::Abstract:
      return abstract_path_admits_sub(sub, sup, **names) ? Verdict::Yes : Verdict::Unknown;
    case ClassTests::Own:
      return Verdict::Unknown;
  }
  return Verdict::Unknown;
}

}  // namespace quillmar::ext
