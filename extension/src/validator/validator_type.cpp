#include "validator/validator_type.hpp"

#include <new>

#include "py/once.hpp"
#include "quillmar/core/measures.hpp"
#include "validator/slots.hpp"

namespace quillmar::ext {
namespace {

PyDoc_STRVAR(validator_doc,
             "Validator(schema)\n"
             "--\n"
             "\n"
             "A compiled, immutable schema validator.\n"
             "\n"
             "Build one by calling `Validator(schema)`, or with a combinator such as\n"
             "`union`, `intersection`, or `recursive`. Then check values with `validate`,\n"
             "`is_valid`, or `ensure`, and JSON documents with `validate_json` or\n"
             "`is_valid_json`.\n"
             "\n"
             "Validation is a membership test against the set the schema denotes: the value\n"
             "is never copied or coerced. A validator never changes after it is built and\n"
             "is safe to share across threads. Its `repr` is the annotation that produces\n"
             "it, and it can be copied with `copy.copy`/`copy.deepcopy`.");

void validator_dealloc(PyObject* self) {
  PyTypeObject* type = Py_TYPE(self);
  reinterpret_cast<ValidatorObject*>(self)->schema.~CompiledSchema();
  type->tp_free(self);
  Py_DECREF(type);
}

PyObject* create_validator_type() {
  static PyType_Slot slots[] = {
      {Py_tp_doc, const_cast<char*>(validator_doc)},
      {Py_tp_dealloc, reinterpret_cast<void*>(validator_dealloc)},
      {Py_tp_new, reinterpret_cast<void*>(validator_new)},
      {Py_tp_repr, reinterpret_cast<void*>(validator_repr)},
      {Py_tp_hash, reinterpret_cast<void*>(validator_hash)},
      {Py_tp_richcompare, reinterpret_cast<void*>(validator_richcompare)},
      {Py_sq_contains, reinterpret_cast<void*>(validator_contains)},
      {Py_nb_or, reinterpret_cast<void*>(validator_or)},
      {Py_tp_methods, validator_methods},
      {0, nullptr},
  };
  static PyType_Spec spec = {
      "quillmar._quillmar.Validator", static_cast<int>(sizeof(ValidatorObject)), 0, Py_TPFLAGS_DEFAULT, slots,
  };
  return PyType_FromSpec(&spec);
}

}  // namespace

Result<PyTypeObject*> validator_type() {
  static OnceCell<PyTypeObject*> cell;
  auto type = cell.get_or_init([]() -> Result<PyTypeObject*> {
    PyObject* made = create_validator_type();
    if (!made) return fetched();
    return reinterpret_cast<PyTypeObject*>(made);
  });
  QUILLMAR_RETURN_IF_FAILED(type);
  return **type;
}

const ValidatorObject* downcast_validator(PyObject* object) {
  const PyTypeObject* type = validator_type().value_or(nullptr);
  if (!type) {
    PyErr_Clear();
    return nullptr;
  }
  if (Py_TYPE(object) != type && !PyType_IsSubtype(Py_TYPE(object), const_cast<PyTypeObject*>(type))) return nullptr;
  return reinterpret_cast<const ValidatorObject*>(object);
}

Result<PyRef> wrap_validator_as(PyTypeObject* type, CompiledSchema schema) {
  PyObject* self = type->tp_alloc(type, 0);
  if (!self) return fetched();
  new (&reinterpret_cast<ValidatorObject*>(self)->schema) CompiledSchema(std::move(schema));
  return PyRef::steal(self);
}

Result<PyRef> wrap_validator(CompiledSchema schema) {
  auto type = validator_type();
  QUILLMAR_RETURN_IF_FAILED(type);
  return wrap_validator_as(*type, std::move(schema));
}

Result<PyRef> validator_from_root(SchemaNode root) {
  CompiledSchema schema;
  schema.root = std::move(root);
  schema.slot_count = core::number_nodes(schema.root, schema.definitions);
  return wrap_validator(std::move(schema));
}

}  // namespace quillmar::ext
