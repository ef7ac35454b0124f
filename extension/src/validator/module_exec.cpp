// Fills a new module object: the classes, the module functions, the two
// constant validators and the limits, each listed in __all__ as it is added.
#include <Python.h>

#include "build/compile.hpp"
#include "compiled_schema.hpp"
#include "exception/validation_error.hpp"
#include "py/guarded.hpp"
#include "validator/module_functions.hpp"
#include "validator/slots.hpp"
#include "validator/validator_type.hpp"

namespace quillmar::ext {
namespace {

// __all__ lists a name before the attribute is set.
Result<void> add_attribute(PyObject* module, const char* name, PyRef value) {
  PyObject* all = PyObject_GetAttrString(module, "__all__");
  if (!all) {
    if (!PyErr_ExceptionMatches(PyExc_AttributeError)) return fetched();
    PyErr_Clear();
    all = PyList_New(0);
    if (!all) return fetched();
    if (PyObject_SetAttrString(module, "__all__", all) < 0) {
      Py_DECREF(all);
      return fetched();
    }
  }
  PyRef all_ref = PyRef::steal(all);
  if (!PyList_Check(all)) return fail(PyExc_TypeError, not_an_instance_message(all, "list"));
  PyRef text = PyRef::steal(PyUnicode_FromString(name));
  if (!text || PyList_Append(all, text.get()) < 0) return fetched();
  if (PyObject_SetAttrString(module, name, value.get()) < 0) return fetched();
  return {};
}

Result<void> add_checked(PyObject* module, const char* name, Result<PyRef> value) {
  QUILLMAR_RETURN_IF_FAILED(value);
  return add_attribute(module, name, std::move(*value));
}

Result<void> fill_module(PyObject* module) {
  if (!PyModule_Check(module)) return fail(PyExc_TypeError, not_an_instance_message(module, "module"));
  if (auto ok = add_checked(module, "ValidationError", validation_error_type()); !ok) return ok;
  auto type = validator_type();
  QUILLMAR_RETURN_IF_FAILED(type);
  if (auto ok = add_attribute(module, "Validator", PyRef::borrow(reinterpret_cast<PyObject*>(*type))); !ok) return ok;
  PyRef module_name = PyRef::steal(PyModule_GetNameObject(module));
  if (!module_name) return fetched();
  for (PyMethodDef* def = module_functions; def->ml_name; ++def) {
    auto function = checked(PyCMethod_New(def, module, module_name.get(), nullptr));
    QUILLMAR_RETURN_IF_FAILED(function);
    if (auto ok = add_attribute(module, def->ml_name, std::move(*function)); !ok) return ok;
  }
  if (auto ok = add_checked(module, "anything", validator_from_root(SchemaNode::leaf(core::NodeKind::Anything))); !ok) {
    return ok;
  }
  if (auto ok = add_checked(module, "nothing", validator_from_root(SchemaNode::leaf(core::NodeKind::Nothing))); !ok) {
    return ok;
  }
  const std::pair<const char*, std::uint64_t> limits[] = {
      {"MAX_SCHEMA_DEPTH", MAX_SCHEMA_DEPTH},
      {"MAX_DEFINITIONS", MAX_DEFINITIONS},
      {"MAX_SCHEMA_NODES", MAX_SCHEMA_NODES},
  };
  for (auto [name, value] : limits) {
    if (auto ok = add_checked(module, name, checked(PyLong_FromUnsignedLongLong(value))); !ok) return ok;
  }
  return {};
}

}  // namespace

int module_exec(PyObject* module) {
  return guarded([&]() -> int {
    auto ok = fill_module(module);
    if (ok) return 0;
    std::move(ok.error()).raise();
    return -1;
  });
}

}  // namespace quillmar::ext
