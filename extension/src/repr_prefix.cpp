#include "repr_prefix.hpp"

#include <charconv>
#include <cstring>
#include <iterator>
#include <string_view>

#include "py/ref.hpp"
#include "text.hpp"
#include "py/utf8_view.hpp"

namespace quillmar::ext {
namespace {

bool is_continuation(char byte) { return (static_cast<unsigned char>(byte) & 0xC0) == 0x80; }

// The text made so far, never more than the characters wanted.
class PrefixText {
 public:
  explicit PrefixText(std::size_t wanted) : wanted_(wanted) {}

  bool full() const { return chars_ == wanted_; }
  std::size_t room() const { return wanted_ - chars_; }

  void append(std::string_view utf8) {
    std::size_t end = 0;
    for (; end < utf8.size(); ++end) {
      if (is_continuation(utf8[end])) continue;
      if (chars_ == wanted_) break;
      ++chars_;
    }
    text_.append(utf8.substr(0, end));
  }

  void append_str(PyObject* str) {
    if (PyUnicode_IS_ASCII(str)) {
      append(std::string_view(static_cast<const char*>(PyUnicode_DATA(str)),
                              static_cast<std::size_t>(PyUnicode_GET_LENGTH(str))));
      return;
    }
    if (std::optional<std::string_view> text = utf8_view(str)) {
      append(*text);
      return;
    }
    append(utf8_lossy(str));
  }

  std::string take() { return std::move(text_); }

 private:
  std::string text_;
  std::size_t chars_ = 0;
  std::size_t wanted_;
};

// An ASCII str that repr() shows between single quotes as it is: no escape,
// no choice of quote.
bool is_plain_ascii(PyObject* str) {
  if (!PyUnicode_IS_COMPACT_ASCII(str)) return false;
  const std::string_view text(static_cast<const char*>(PyUnicode_DATA(str)),
                              static_cast<std::size_t>(PyUnicode_GET_LENGTH(str)));
  for (const char c : text) {
    if (c < 0x20 || c > 0x7E || c == '\'' || c == '"' || c == '\\') return false;
  }
  return true;
}

// repr() of None, the booleans, ints that fit 64 bits, floats (by the
// interpreter's own shortest-repr routine) and plain strs shorter than
// max_length without the call, in the same text, which is ASCII. Anything
// else answers false.
bool quick_text(PyObject* object, std::size_t max_length, std::string& out) {
  if (object == Py_None) {
    out = "None";
    return true;
  }
  if (object == Py_True || object == Py_False) {
    out = object == Py_True ? "True" : "False";
    return true;
  }
  PyTypeObject* type = Py_TYPE(object);
  if (type == &PyLong_Type) {
    int overflow = 0;
    const long long number = PyLong_AsLongLongAndOverflow(object, &overflow);
    if (overflow != 0 || (number == -1 && PyErr_Occurred())) {
      PyErr_Clear();
      return false;
    }
    char digits[24];
    const auto [end, ec] = std::to_chars(std::begin(digits), std::end(digits), number);
    if (ec != std::errc()) return false;
    out.assign(digits, end);
    return true;
  }
  if (type == &PyFloat_Type) {
    char* text = PyOS_double_to_string(PyFloat_AS_DOUBLE(object), 'r', 0, Py_DTSF_ADD_DOT_0, nullptr);
    if (!text) {
      PyErr_Clear();
      return false;
    }
    out.assign(text);
    PyMem_Free(text);
    return true;
  }
  if (type == &PyUnicode_Type && static_cast<std::size_t>(PyUnicode_GET_LENGTH(object)) < max_length &&
      is_plain_ascii(object)) {
    const auto length = static_cast<std::size_t>(PyUnicode_GET_LENGTH(object));
    out.assign(1, '\'');
    out.append(static_cast<const char*>(PyUnicode_DATA(object)), length);
    out.push_back('\'');
    return true;
  }
  return false;
}

// Whether showing the value runs no Python code. repr() of a set takes all its
// elements before it shows any; here they are taken one at a time only while
// nothing shown can change the set.
bool shown_without_python(PyObject* value) {
  PyTypeObject* type = Py_TYPE(value);
  return value == Py_None || type == &PyBool_Type || type == &PyLong_Type || type == &PyFloat_Type ||
         type == &PyUnicode_Type || type == &PyBytes_Type;
}

// repr() quotes a text with '"' only when it holds a "'" and no '"'. For a
// text cut at `cut`, the quote added past the cut (or none) that makes the
// cut text choose as the whole does; its own escape lies past the cut.
const char* quote_keeper(Py_ssize_t single, Py_ssize_t double_, Py_ssize_t cut) {
  const bool whole_double = single >= 0 && double_ < 0;
  const bool cut_double = single >= 0 && single < cut && (double_ < 0 || double_ >= cut);
  if (whole_double == cut_double) return "";
  return whole_double ? "'" : "\"";
}

class ReprPrefix {
 public:
  explicit ReprPrefix(std::size_t chars) : text_(chars) {}

  // False when a repr() raised; the exception is pending.
  bool value(PyObject* value) {
    if (text_.full()) return true;
    if (std::string quick; quick_text(value, text_.room(), quick)) {
      text_.append(quick);
      return true;
    }
    PyTypeObject* type = Py_TYPE(value);
    if (type == &PyUnicode_Type) return str(value);
    if (type == &PyBytes_Type) return bytes(value);
    if (type == &PyList_Type) return nested(value, &ReprPrefix::list);
    if (type == &PyTuple_Type) return nested(value, &ReprPrefix::tuple);
    if (type == &PyDict_Type) return nested(value, &ReprPrefix::dict);
    if (type == &PySet_Type || type == &PyFrozenSet_Type) return nested(value, &ReprPrefix::set);
    return by_repr(value);
  }

  std::string take() { return text_.take(); }

 private:
  bool by_repr(PyObject* value) {
    PyRef shown = PyRef::steal(PyObject_Repr(value));
    if (!shown) return false;
    text_.append_str(shown.get());
    return true;
  }

  // A long text is shown by repr() of its start alone.
  bool str(PyObject* str) {
    const Py_ssize_t length = PyUnicode_GET_LENGTH(str);
    const auto cut = static_cast<Py_ssize_t>(text_.room());
    if (length < cut) return by_repr(str);
    const Py_ssize_t single = PyUnicode_FindChar(str, '\'', 0, length, 1);
    const Py_ssize_t double_ = PyUnicode_FindChar(str, '"', 0, length, 1);
    if (single == -2 || double_ == -2) return false;
    PyRef start = PyRef::steal(PyUnicode_Substring(str, 0, cut));
    if (!start) return false;
    if (const char* quote = quote_keeper(single, double_, cut); *quote) {
      PyRef quote_text = PyRef::steal(PyUnicode_FromString(quote));
      if (!quote_text) return false;
      start = PyRef::steal(PyUnicode_Concat(start.get(), quote_text.get()));
      if (!start) return false;
    }
    return by_repr(start.get());
  }

  bool bytes(PyObject* bytes) {
    const auto size = static_cast<std::size_t>(PyBytes_GET_SIZE(bytes));
    const std::size_t cut = text_.room();
    if (size < cut) return by_repr(bytes);
    const char* data = PyBytes_AS_STRING(bytes);
    auto position = [&](char quote) -> Py_ssize_t {
      const void* at = std::memchr(data, quote, size);
      return at ? static_cast<const char*>(at) - data : -1;
    };
    std::string start(data, cut);
    start.append(quote_keeper(position('\''), position('"'), static_cast<Py_ssize_t>(cut)));
    PyRef cut_bytes = PyRef::steal(PyBytes_FromStringAndSize(start.data(), static_cast<Py_ssize_t>(start.size())));
    if (!cut_bytes) return false;
    return by_repr(cut_bytes.get());
  }

  // A container, counted against the interpreter's recursion limit as its
  // repr() would be.
  bool nested(PyObject* container, bool (ReprPrefix::*show)(PyObject*)) {
    if (Py_EnterRecursiveCall(" while getting the repr of an object")) return false;
    const bool shown = (this->*show)(container);
    Py_LeaveRecursiveCall();
    return shown;
  }

  // The body of a container that is not already being shown further out on
  // this thread; one that is shows as the mark, as repr() shows it.
  template <class Body>
  bool unless_inside_itself(PyObject* container, std::string_view mark, Body body) {
    const int inside = Py_ReprEnter(container);
    if (inside < 0) return false;
    if (inside > 0) {
      text_.append(mark);
      return true;
    }
    const bool shown = body();
    Py_ReprLeave(container);
    return shown;
  }

  bool list(PyObject* list) {
    if (PyList_GET_SIZE(list) == 0) {
      text_.append("[]");
      return true;
    }
    return unless_inside_itself(list, "[...]", [&] {
      text_.append("[");
      // An element's repr() may change the list: its size is read each time.
      for (Py_ssize_t i = 0; i < PyList_GET_SIZE(list) && !text_.full(); ++i) {
        if (i > 0) text_.append(", ");
        PyRef item = PyRef::steal(PyList_GetItemRef(list, i));
        if (!item || !value(item.get())) return false;
      }
      text_.append("]");
      return true;
    });
  }

  bool tuple(PyObject* tuple) {
    const Py_ssize_t size = PyTuple_GET_SIZE(tuple);
    if (size == 0) {
      text_.append("()");
      return true;
    }
    return unless_inside_itself(tuple, "(...)", [&] {
      text_.append("(");
      for (Py_ssize_t i = 0; i < size && !text_.full(); ++i) {
        if (i > 0) text_.append(", ");
        if (!value(PyTuple_GET_ITEM(tuple, i))) return false;
      }
      text_.append(size == 1 ? ",)" : ")");
      return true;
    });
  }

  bool dict(PyObject* dict) {
    return unless_inside_itself(dict, "{...}", [&] {
      if (PyDict_GET_SIZE(dict) == 0) {
        text_.append("{}");
        return true;
      }
      text_.append("{");
      Py_ssize_t position = 0;
      for (bool first = true; !text_.full(); first = false) {
        PyRef key;
        PyRef item;
        int found = 0;
        Py_BEGIN_CRITICAL_SECTION(dict);
        PyObject* raw_key = nullptr;
        PyObject* raw_item = nullptr;
        found = PyDict_Next(dict, &position, &raw_key, &raw_item);
        if (found) {
          key = PyRef::borrow(raw_key);
          item = PyRef::borrow(raw_item);
        }
        Py_END_CRITICAL_SECTION();
        if (!found) break;
        if (!first) text_.append(", ");
        if (!value(key.get())) return false;
        text_.append(": ");
        if (!value(item.get())) return false;
      }
      text_.append("}");
      return true;
    });
  }

  bool set(PyObject* set) {
    const bool frozen = Py_IS_TYPE(set, &PyFrozenSet_Type);
    return unless_inside_itself(set, frozen ? "frozenset(...)" : "set(...)", [&] {
      if (PySet_GET_SIZE(set) == 0) {
        text_.append(frozen ? "frozenset()" : "set()");
        return true;
      }
      text_.append(frozen ? "frozenset({" : "{");
      PyRef elements = PyRef::steal(PyObject_GetIter(set));
      if (!elements) return false;
      PyRef rest;  // the elements not yet shown, once any showing may change the set
      Py_ssize_t next = 0;
      for (bool first = true; !text_.full(); first = false) {
        PyRef element;
        if (rest) {
          if (next == PyList_GET_SIZE(rest.get())) break;
          element = PyRef::borrow(PyList_GET_ITEM(rest.get(), next++));
        } else {
          element = PyRef::steal(PyIter_Next(elements.get()));
          if (!element) {
            if (PyErr_Occurred()) return false;
            break;
          }
          if (!shown_without_python(element.get())) {
            rest = PyRef::steal(PySequence_List(elements.get()));
            if (!rest) return false;
          }
        }
        if (!first) text_.append(", ");
        if (!value(element.get())) return false;
      }
      text_.append(frozen ? "})" : "}");
      return true;
    });
  }

  PrefixText text_;
};

}  // namespace

bool has_builtin_repr(PyObject* value) {
  PyTypeObject* type = Py_TYPE(value);
  return value == Py_None || type == &PyBool_Type || type == &PyLong_Type || type == &PyFloat_Type ||
         type == &PyUnicode_Type || type == &PyBytes_Type || type == &PyList_Type || type == &PyTuple_Type ||
         type == &PyDict_Type || type == &PySet_Type || type == &PyFrozenSet_Type;
}

std::optional<std::string> repr_prefix(PyObject* value, std::size_t chars) {
  // Most values shown are scalars and short texts: no count of characters.
  if (std::string text; quick_text(value, chars, text)) {
    if (text.size() > chars) text.resize(chars);
    return text;
  }
  ReprPrefix prefix(chars);
  if (!prefix.value(value)) {
    PyErr_Clear();
    return std::nullopt;
  }
  return prefix.take();
}

}  // namespace quillmar::ext
