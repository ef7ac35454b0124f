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

}  // namespace quillmar::ext
