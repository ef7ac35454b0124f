// The combinators and `|` have not landed yet.
#include "validator/module_functions.hpp"
#include "validator/slots.hpp"

namespace quillmar::ext {

static PyObject* not_yet(PyObject*, PyObject* const*, Py_ssize_t, PyObject*) {
  PyErr_SetString(PyExc_NotImplementedError, "not available yet");
  return nullptr;
}

#define QM_PENDING reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(not_yet))

PyMethodDef module_functions[] = {
    {"union", QM_PENDING, METH_FASTCALL | METH_KEYWORDS, nullptr},
    {"intersection", QM_PENDING, METH_FASTCALL | METH_KEYWORDS, nullptr},
    {"complement", QM_PENDING, METH_FASTCALL | METH_KEYWORDS, nullptr},
    {"recursive", QM_PENDING, METH_FASTCALL | METH_KEYWORDS, nullptr},
    {nullptr, nullptr, 0, nullptr},
};

PyObject* validator_or(PyObject*, PyObject*) { Py_RETURN_NOTIMPLEMENTED; }

}  // namespace quillmar::ext
