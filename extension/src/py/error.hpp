// The error value of every fallible operation: an exception taken from the
// interpreter, or an exception type with an owned message that becomes a
// Python exception only when raised at the Python boundary.
#pragma once

#include <Python.h>

#include <expected>
#include <string>

#include "py/ref.hpp"

namespace quillmar::ext {

class Error {
 public:
  // Takes the interpreter's current exception (SystemError if none is set).
  static Error fetch();
  static Error lazy(PyObject* type, std::string message);
  static Error from_exception(PyRef exception);

  // Sets this error as the interpreter's current exception.
  void raise() &&;
  // The exception object itself, built now if it was lazy.
  PyRef into_exception() &&;
  PyObject* exception() const { return exception_.get(); }

 private:
  PyRef exception_;
  PyObject* type_ = nullptr;  // lazy form: a process-lifetime exception type
  std::string message_;
};

template <class T>
using Result = std::expected<T, Error>;

inline std::unexpected<Error> fail(PyObject* type, std::string message) {
  return std::unexpected(Error::lazy(type, std::move(message)));
}
inline std::unexpected<Error> fetched() { return std::unexpected(Error::fetch()); }
inline std::unexpected<Error> fail_with(Error error) { return std::unexpected(std::move(error)); }

// Returns a failed Result's error from the enclosing function.
#define QUILLMAR_RETURN_IF_FAILED(result)                                                 \
  do {                                                                                    \
    if (!(result)) return ::quillmar::ext::fail_with(std::move((result).error()));       \
  } while (false)

// Evaluates a Result and returns its error from the enclosing function.
#define QUILLMAR_TRY(expression)                                                          \
  do {                                                                                    \
    if (auto quillmar_tried = (expression); !quillmar_tried) {                            \
      return ::quillmar::ext::fail_with(std::move(quillmar_tried.error()));               \
    }                                                                                     \
  } while (false)

// A new reference from the C API, or the pending exception.
inline Result<PyRef> checked(PyObject* object) {
  if (!object) return fetched();
  return PyRef::steal(object);
}

// Hands a result to the interpreter: a new reference, or NULL with the
// exception set.
inline PyObject* to_python(Result<PyRef> result) {
  if (result) return result->release();
  std::move(result.error()).raise();
  return nullptr;
}

// Adds a note to an exception through its add_note method; a failure of the
// note itself is ignored.
Error with_note(Error error, const char* note);

}  // namespace quillmar::ext
