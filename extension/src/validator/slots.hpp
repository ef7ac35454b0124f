// The Validator type's slot functions and method table, each defined beside
// the behaviour it implements.
#pragma once

#include <Python.h>

namespace quillmar::ext {

PyObject* validator_new(PyTypeObject* type, PyObject* args, PyObject* kwargs);
PyObject* validator_repr(PyObject* self);
Py_hash_t validator_hash(PyObject* self);
PyObject* validator_richcompare(PyObject* self, PyObject* other, int op);
int validator_contains(PyObject* self, PyObject* value);
PyObject* validator_or(PyObject* left, PyObject* right);

extern PyMethodDef validator_methods[];

// Runs body, turning a C++ allocation failure into MemoryError: no C++
// exception reaches the interpreter.
template <class F>
auto guarded(F&& body) noexcept -> decltype(body()) {
  try {
    return body();
  } catch (const std::bad_alloc&) {
    PyErr_NoMemory();
    if constexpr (std::is_same_v<decltype(body()), int>) {
      return -1;
    } else if constexpr (std::is_same_v<decltype(body()), Py_hash_t>) {
      return -1;
    } else {
      return nullptr;
    }
  }
}

}  // namespace quillmar::ext
