#include "py/args.hpp"

#include <fmt/format.h>

#include <cstring>
#include <string>
#include <string_view>

#include "py/utf8_view.hpp"

namespace quillmar::ext {
namespace {

std::string full_name(const Signature& s) {
  if (s.class_name) return fmt::format("{}.{}()", s.class_name, s.function);
  return fmt::format("{}()", s.function);
}

std::unexpected<Error> type_error(std::string message) { return fail(PyExc_TypeError, std::move(message)); }

std::unexpected<Error> too_many_positional(const Signature& s, Py_ssize_t given) {
  std::size_t count = s.positional.size();
  const char* verb = given == 1 ? "was" : "were";
  if (s.required < count) {
    return type_error(fmt::format("{} takes from {} to {} positional arguments but {} {} given", full_name(s),
                                  s.required, count, given, verb));
  }
  return type_error(fmt::format("{} takes {} positional arguments but {} {} given", full_name(s), count, given, verb));
}

// The keyword's text for messages; a name that is not UTF-8 text is shown
// with escapes.
std::string keyword_display(PyObject* name) {
  PyObject* text = PyUnicode_Check(name) ? PyUnicode_AsEncodedString(name, "utf-8", "backslashreplace")
                                         : PyObject_Str(name);
  if (text && PyUnicode_Check(text)) {
    PyObject* bytes = PyUnicode_AsEncodedString(text, "utf-8", "backslashreplace");
    Py_DECREF(text);
    text = bytes;
  }
  std::string out;
  if (text && PyBytes_Check(text)) out.assign(PyBytes_AS_STRING(text), PyBytes_GET_SIZE(text));
  Py_XDECREF(text);
  PyErr_Clear();
  return out;
}

// Index into out for a keyword name, or -1 when it names no parameter.
Py_ssize_t match_keyword(const Signature& s, PyObject* name) {
  if (!PyUnicode_Check(name)) return -1;
  const std::optional<std::string_view> key = utf8_view(name);
  if (!key) return -1;
  for (std::size_t i = 0; i < s.keyword_only.size(); ++i) {
    if (*key == s.keyword_only[i]) return static_cast<Py_ssize_t>(s.positional.size() + i);
  }
  for (std::size_t i = 0; i < s.positional.size(); ++i) {
    if (*key == s.positional[i]) return static_cast<Py_ssize_t>(i);
  }
  return -1;
}

Result<void> take_keyword(const Signature& s, PyObject* name, PyObject* value, std::span<PyObject*> out) {
  Py_ssize_t slot = match_keyword(s, name);
  if (slot < 0) {
    return type_error(fmt::format("{} got an unexpected keyword argument '{}'", full_name(s), keyword_display(name)));
  }
  if (out[static_cast<std::size_t>(slot)]) {
    const char* parameter = static_cast<std::size_t>(slot) < s.positional.size()
                                ? s.positional[static_cast<std::size_t>(slot)]
                                : s.keyword_only[static_cast<std::size_t>(slot) - s.positional.size()];
    return type_error(fmt::format("{} got multiple values for argument '{}'", full_name(s), parameter));
  }
  out[static_cast<std::size_t>(slot)] = value;
  return {};
}

Result<void> check_required(const Signature& s, std::span<PyObject*> out) {
  std::string names;
  std::size_t missing = 0;
  for (std::size_t i = 0; i < s.required; ++i) {
    if (out[i]) continue;
    if (missing++) names += ", ";
    names += fmt::format("'{}'", s.positional[i]);
  }
  if (!missing) return {};
  return type_error(fmt::format("{} missing {} required positional {}: {}", full_name(s), missing,
                                missing == 1 ? "argument" : "arguments", names));
}

Result<void> take_positional(const Signature& s, PyObject* const* args, Py_ssize_t nargs, std::span<PyObject*> out) {
  if (s.collects_positional) return {};
  if (static_cast<std::size_t>(nargs) > s.positional.size()) return too_many_positional(s, nargs);
  for (Py_ssize_t i = 0; i < nargs; ++i) out[static_cast<std::size_t>(i)] = args[i];
  return {};
}

}  // namespace

Result<void> parse_fastcall(const Signature& s, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames,
                            std::span<PyObject*> out) {
  for (PyObject*& slot : out) slot = nullptr;
  if (auto ok = take_positional(s, args, nargs, out); !ok) return ok;
  Py_ssize_t nkw = kwnames ? PyTuple_GET_SIZE(kwnames) : 0;
  for (Py_ssize_t i = 0; i < nkw; ++i) {
    if (auto ok = take_keyword(s, PyTuple_GET_ITEM(kwnames, i), args[nargs + i], out); !ok) return ok;
  }
  return check_required(s, out);
}

Result<void> parse_tuple_dict(const Signature& s, PyObject* args, PyObject* kwargs, std::span<PyObject*> out) {
  for (PyObject*& slot : out) slot = nullptr;
  if (auto ok = take_positional(s, &PyTuple_GET_ITEM(args, 0), PyTuple_GET_SIZE(args), out); !ok) return ok;
  if (kwargs) {
    Py_ssize_t pos = 0;
    PyObject* name = nullptr;
    PyObject* value = nullptr;
    while (PyDict_Next(kwargs, &pos, &name, &value)) {
      if (auto ok = take_keyword(s, name, value, out); !ok) return ok;
    }
  }
  return check_required(s, out);
}

namespace {

bool is_numpy_bool_type(PyTypeObject* type) {
  PyObject* module = PyType_GetModuleName(type);
  PyObject* name = PyType_GetName(type);
  bool found = module && name && PyUnicode_Check(module) && PyUnicode_Check(name) &&
               PyUnicode_EqualToUTF8(module, "numpy") &&
               (PyUnicode_EqualToUTF8(name, "bool_") || PyUnicode_EqualToUTF8(name, "bool"));
  Py_XDECREF(module);
  Py_XDECREF(name);
  PyErr_Clear();
  return found;
}

std::string type_text(PyObject* (*getter)(PyTypeObject*), PyTypeObject* type) {
  PyObject* name = getter(type);
  std::string out = "?";
  if (name) {
    if (const char* text = PyUnicode_AsUTF8(name)) out = text;
    Py_DECREF(name);
  }
  PyErr_Clear();
  return out;
}

std::string type_str(PyTypeObject* type) {
  PyObject* text = PyObject_Str(reinterpret_cast<PyObject*>(type));
  std::string out = "?";
  if (text) {
    if (const char* utf8 = PyUnicode_AsUTF8(text)) out = utf8;
    Py_DECREF(text);
  }
  PyErr_Clear();
  return out;
}

Result<bool> read_bool(PyObject* value) {
  if (PyBool_Check(value)) return value == Py_True;
  PyTypeObject* type = Py_TYPE(value);
  if (is_numpy_bool_type(type)) {
    auto slot = reinterpret_cast<inquiry>(PyType_GetSlot(type, Py_nb_bool));
    PyErr_Clear();
    if (!slot) {
      return type_error(fmt::format("object of type '{}' does not define a '__bool__' conversion",
                                    type_str(type)));
    }
    int truth = slot(value);
    if (truth < 0) return fetched();
    return truth != 0;
  }
  if (value == Py_None) return type_error("'None' is not an instance of 'bool'");
  return type_error(
      fmt::format("'{}' object is not an instance of 'bool'", type_text(PyType_GetQualName, type)));
}

}  // namespace

Result<bool> read_fail_fast(PyObject* value) {
  if (!value) return false;
  auto flag = read_bool(value);
  if (!flag) return fail_with(with_note(std::move(flag.error()), "while processing 'fail_fast'"));
  return flag;
}

}  // namespace quillmar::ext
