// The Validator methods that treat a schema as a set: the three decisions and
// the three derivations, with their docstrings, for the method table.
#pragma once

#include <Python.h>

namespace quillmar::ext {

// METH_NOARGS
PyObject* algebra_is_empty(PyObject* self, PyObject* unused);
PyObject* algebra_open(PyObject* self, PyObject* unused);
PyObject* algebra_close(PyObject* self, PyObject* unused);
PyObject* algebra_simplify(PyObject* self, PyObject* unused);
// METH_FASTCALL | METH_KEYWORDS
PyObject* algebra_is_subtype_of(PyObject* self, PyObject* const* args, Py_ssize_t nargsf, PyObject* kwnames);
PyObject* algebra_is_equivalent(PyObject* self, PyObject* const* args, Py_ssize_t nargsf, PyObject* kwnames);

extern const char algebra_is_empty_doc[];
extern const char algebra_is_subtype_of_doc[];
extern const char algebra_is_equivalent_doc[];
extern const char algebra_open_doc[];
extern const char algebra_close_doc[];
extern const char algebra_simplify_doc[];

}  // namespace quillmar::ext
