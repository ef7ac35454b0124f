#include "py/error.hpp"

namespace quillmar::ext {

Error Error::fetch() {
  PyObject* raised = PyErr_GetRaisedException();
  if (!raised) return lazy(PyExc_SystemError, "error return without exception set");
  Error error;
  error.exception_ = PyRef::steal(raised);
  return error;
}

Error Error::from_exception(PyRef exception) {
  // An exception that could not be made leaves the reason pending.
  if (!exception) return fetch();
  Error error;
  error.exception_ = std::move(exception);
  return error;
}

Error Error::lazy(PyObject* type, std::string message) {
  Error error;
  error.type_ = type;
  error.message_ = std::move(message);
  return error;
}

void Error::raise() && {
  if (exception_) {
    PyErr_SetRaisedException(exception_.release());
    return;
  }
  PyObject* type = type_ ? type_ : PyExc_SystemError;
  PyObject* text = PyUnicode_FromStringAndSize(message_.data(), static_cast<Py_ssize_t>(message_.size()));
  if (!text) return;
  PyErr_SetObject(type, text);
  Py_DECREF(text);
}

PyRef Error::into_exception() && {
  if (exception_) return std::move(exception_);
  std::move(*this).raise();
  return PyRef::steal(PyErr_GetRaisedException());
}

Error with_note(Error error, const char* note) {
  PyRef exception = std::move(error).into_exception();
  if (!exception) return Error::fetch();
  PyObject* name = PyUnicode_FromString("add_note");
  PyObject* text = PyUnicode_FromString(note);
  if (name && text) {
    PyObject* call_args[] = {exception.get(), text};
    PyObject* result =
        PyObject_VectorcallMethod(name, call_args, 2 | PY_VECTORCALL_ARGUMENTS_OFFSET, nullptr);
    Py_XDECREF(result);
  }
  Py_XDECREF(name);
  Py_XDECREF(text);
  PyErr_Clear();
  return Error::from_exception(std::move(exception));
}

}  // namespace quillmar::ext
