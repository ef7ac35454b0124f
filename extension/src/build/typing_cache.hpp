// The typing objects the compiler compares against by identity, loaded once
// per process and never released.
#pragma once

#include <Python.h>

#include "py/error.hpp"

namespace quillmar::ext {

struct TypingCache {
  PyObject* any;
  PyObject* union_;
  PyObject* optional;
  PyObject* union_type;
  PyObject* literal;
  PyObject* object;
  PyObject* enum_;
  PyObject* callable;
  PyObject* ellipsis;
  PyObject* never;            // nullptr where the interpreter lacks it
  PyObject* no_return;        // nullptr where the interpreter lacks it
  PyObject* type_alias_type;  // nullptr where the interpreter lacks it
};

Result<const TypingCache*> typing_cache();

// Identity with Ellipsis; false when the cache cannot be loaded.
bool is_ellipsis(PyObject* object);
// Identity with typing.Literal.
Result<bool> is_literal_form(PyObject* origin);

}  // namespace quillmar::ext
