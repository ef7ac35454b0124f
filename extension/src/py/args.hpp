// The argument parser every method and module function shares, with the
// interpreter-style TypeError texts.
#pragma once

#include <Python.h>

#include <span>

#include "py/error.hpp"

namespace quillmar::ext {

struct Signature {
  const char* class_name;  // nullptr for a module function
  const char* function;
  std::span<const char* const> positional;  // each also accepted by keyword
  std::span<const char* const> keyword_only;
  std::size_t required;  // leading positional parameters that must be given
  bool collects_positional = false;  // every positional argument goes to *args
};

// Fills out[i] (borrowed, nullptr when absent) for each positional parameter
// and then each keyword-only parameter, in declaration order.
Result<void> parse_fastcall(const Signature& signature, PyObject* const* args, Py_ssize_t nargs,
                            PyObject* kwnames, std::span<PyObject*> out);

// The same rules for a tuple and dict (tp_new).
Result<void> parse_tuple_dict(const Signature& signature, PyObject* args, PyObject* kwargs,
                              std::span<PyObject*> out);

// fail_fast: a bool or a numpy boolean; any error carries the note
// "while processing 'fail_fast'".
Result<bool> read_fail_fast(PyObject* value);

}  // namespace quillmar::ext
