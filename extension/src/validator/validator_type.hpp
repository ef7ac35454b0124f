// The Validator type: one process-wide heap type whose instances each own one
// CompiledSchema, moved in at construction and never changed.
#pragma once

#include <Python.h>

#include "compiled_schema.hpp"
#include "py/error.hpp"

namespace quillmar::ext {

struct ValidatorObject {
  PyObject_HEAD
  CompiledSchema schema;
};

// The type object, made on first use (borrowed; it lives for the process).
Result<PyTypeObject*> validator_type();

// The object as a Validator, or nullptr when it is none.
const ValidatorObject* downcast_validator(PyObject* object);

inline const CompiledSchema& schema_of(PyObject* self) {
  return reinterpret_cast<ValidatorObject*>(self)->schema;
}

// A new Validator owning schema (released on failure).
Result<PyRef> wrap_validator(CompiledSchema schema);
// Allocates from the given type (tp_new passes its own).
Result<PyRef> wrap_validator_as(PyTypeObject* type, CompiledSchema schema);
// A Validator over a bare root: empty pool, no definitions, no limit check.
Result<PyRef> validator_from_root(SchemaNode root);

}  // namespace quillmar::ext
