// The Validator type's slot functions and method table, each defined beside
// the behaviour it implements.
#pragma once

#include <Python.h>

#include <new>
#include <type_traits>

namespace quillmar::ext {

PyObject* validator_new(PyTypeObject* type, PyObject* args, PyObject* kwargs);
PyObject* validator_repr(PyObject* self);
Py_hash_t validator_hash(PyObject* self);
PyObject* validator_richcompare(PyObject* self, PyObject* other, int op);
int validator_contains(PyObject* self, PyObject* value);
PyObject* validator_or(PyObject* left, PyObject* right);

extern PyMethodDef validator_methods[];

// Runs body so that no C++ exception reaches the interpreter: an allocation
// failure becomes MemoryError, anything else SystemError. The slot then
// reports the error in its own way (-1 or NULL).
template <class F>
auto guarded(F&& body) noexcept -> decltype(body()) {
  using R = decltype(body());
  static_assert(std::is_pointer_v<R> || std::is_integral_v<R>);
  try {
    return body();
  } catch (const std::bad_alloc&) {
    PyErr_NoMemory();
  } catch (...) {
    PyErr_SetString(PyExc_SystemError, "internal error in quillmar");
  }
  if constexpr (std::is_pointer_v<R>) {
    return nullptr;
  } else {
    return -1;
  }
}

}  // namespace quillmar::ext
