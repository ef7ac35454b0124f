// A dict's entries read from its own storage, so a subclass's __iter__, items
// or __getitem__ never run, and guarded as CPython's own dict iteration is:
// Python code run between fetches may change the dict, which ends the
// iteration with RuntimeError.
#pragma once

#include <Python.h>

#include "py/error.hpp"
#include "py/ref.hpp"

namespace quillmar::ext {

class DictEntries {
 public:
  enum class Step { Entry, End, Changed };

  explicit DictEntries(PyObject* dict) : dict_(PyRef::borrow(dict)), size_(PyDict_GET_SIZE(dict)), left_(size_) {}

  // The next entry, borrowed: valid until Python code runs. Only where the
  // interpreter's lock keeps other threads out (a build with the GIL).
  Step next_borrowed(PyObject*& key, PyObject*& value) {
    if (PyDict_GET_SIZE(dict_.get()) != size_) return Step::Changed;
    if (!PyDict_Next(dict_.get(), &position_, &key, &value)) return Step::End;
    return counted();
  }

  // The next entry, held.
  Step next(PyRef& key, PyRef& value) {
    if (PyDict_GET_SIZE(dict_.get()) != size_) return Step::Changed;
    int found = 0;
    PyRef next_key;
    PyRef next_value;
    Py_BEGIN_CRITICAL_SECTION(dict_.get());
    PyObject* raw_key = nullptr;
    PyObject* raw_value = nullptr;
    found = PyDict_Next(dict_.get(), &position_, &raw_key, &raw_value);
    if (found) {
      next_key = PyRef::borrow(raw_key);
      next_value = PyRef::borrow(raw_value);
    }
    Py_END_CRITICAL_SECTION();
    if (!found) return Step::End;
    // Both are held before the previous entry is let go: its release may run
    // Python code that changes the dict.
    key = std::move(next_key);
    value = std::move(next_value);
    return counted();
  }

  // After Changed: the RuntimeError's text, read from the dict as next()
  // left it, so the iteration keeps no word for it.
  const char* changed_message() const {
    return PyDict_GET_SIZE(dict_.get()) != size_ ? "dictionary changed size during iteration"
                                                 : "dictionary keys changed during iteration";
  }

 private:
  // Same size yet more entries than at the start: keys were replaced.
  Step counted() {
    if (left_-- == 0) return Step::Changed;
    return Step::Entry;
  }

  PyRef dict_;
  Py_ssize_t size_;
  Py_ssize_t left_;
  Py_ssize_t position_ = 0;
};

// visit(key, value) -> Result<void>, with both held strongly for the call, so
// a visitor that deletes the entry cannot free them under it.
template <class Visit>
Result<void> for_each_dict_entry(PyObject* dict, Visit&& visit) {
  DictEntries entries(dict);
  PyRef key;
  PyRef value;
  for (;;) {
    switch (entries.next(key, value)) {
      case DictEntries::Step::End:
        return {};
      case DictEntries::Step::Changed:
        return fail(PyExc_RuntimeError, entries.changed_message());
      case DictEntries::Step::Entry:
        break;
    }
    if (auto visited = visit(key.get(), value.get()); !visited) return visited;
  }
}

}  // namespace quillmar::ext
