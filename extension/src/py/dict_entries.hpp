// Visits a dict's entries in order, aborting with RuntimeError when Python
// code run by the visitor changes the dict meanwhile.
#pragma once

#include <Python.h>

#include "py/error.hpp"

namespace quillmar::ext {

// visit(key, value) -> Result<void>, with both held strongly for the call, so
// a visitor that deletes the entry cannot free them under it.
template <class Visit>
Result<void> for_each_dict_entry(PyObject* dict, Visit&& visit) {
  const Py_ssize_t size = PyDict_GET_SIZE(dict);
  Py_ssize_t remaining = size;
  Py_ssize_t position = 0;
  PyObject* key = nullptr;
  PyObject* value = nullptr;
  while (true) {
    if (PyDict_GET_SIZE(dict) != size) return fail(PyExc_RuntimeError, "dictionary changed size during iteration");
    if (!PyDict_Next(dict, &position, &key, &value)) return {};
    // Same size yet more entries than at the start: keys were replaced.
    if (remaining-- == 0) return fail(PyExc_RuntimeError, "dictionary keys changed during iteration");
    PyRef held_key = PyRef::borrow(key);
    PyRef held_value = PyRef::borrow(value);
    if (auto visited = visit(held_key.get(), held_value.get()); !visited) return visited;
  }
}

}  // namespace quillmar::ext
