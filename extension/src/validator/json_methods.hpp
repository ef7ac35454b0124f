// The JSON entry points of Validator: validate_json, load and is_valid_json.
#pragma once

#include <Python.h>

#include "py/error.hpp"
#include "py/ref.hpp"

namespace quillmar::ext {

Result<PyRef> validate_json(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames);
Result<PyRef> load(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames);
Result<PyRef> is_valid_json(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames);

extern const char validate_json_doc[];
extern const char load_doc[];
extern const char is_valid_json_doc[];

}  // namespace quillmar::ext
