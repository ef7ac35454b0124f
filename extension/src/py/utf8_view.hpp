// A str's UTF-8 text, read where the str keeps it.
#pragma once

#include <Python.h>

#include <cstddef>
#include <optional>
#include <string_view>

namespace quillmar::ext {

// The text of str (which must be a str) as a view valid while str lives, or
// nothing when it has no UTF-8 form (a lone surrogate, or no memory to make
// it); that error is cleared, never left pending. An ASCII str is its own
// UTF-8, read in place without a call.
inline std::optional<std::string_view> utf8_view(PyObject* str) {
  if (PyUnicode_IS_COMPACT_ASCII(str)) {
    return std::string_view(static_cast<const char*>(PyUnicode_DATA(str)),
                            static_cast<std::size_t>(PyUnicode_GET_LENGTH(str)));
  }
  Py_ssize_t size = 0;
  const char* data = PyUnicode_AsUTF8AndSize(str, &size);
  if (!data) {
    PyErr_Clear();
    return std::nullopt;
  }
  return std::string_view(data, static_cast<std::size_t>(size));
}

}  // namespace quillmar::ext
