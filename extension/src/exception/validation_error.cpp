#include "exception/validation_error.hpp"

#include "py/once.hpp"

namespace quillmar::ext {

namespace {

// A raw pointer on purpose: the class lives as long as the process and is
// never released, not even by static destruction after the interpreter ends.
OnceCell<PyObject*> validation_error_cell;

Result<PyObject*> make_validation_error_type() {
  // The dotted name gives __module__ "quillmar._quillmar", where pickle finds
  // the class again. The inherited __reduce__ and __setstate__ carry args and
  // the instance dict (code, expected, value, message, path, errors).
  PyObject* type = PyErr_NewExceptionWithDoc("quillmar._quillmar.ValidationError",
                                             "Raised when a value is not a member of a schema's set.",
                                             nullptr, nullptr);
  if (!type) return fetched();
  return type;
}

}  // namespace

Result<PyRef> validation_error_type() {
  Result<PyObject* const*> type = validation_error_cell.get_or_init(make_validation_error_type);
  QUILLMAR_RETURN_IF_FAILED(type);
  return PyRef::borrow(**type);
}

}  // namespace quillmar::ext
