// The parser's sink that builds Python objects: list, dict (a repeated key
// keeps its first place and takes the later value), str through the string
// cache, int, float, bool, None. Internal to the reader and json/cursor.hpp.
#pragma once

#include <Python.h>

#include <cstddef>
#include <cstdint>
#include <string_view>
#include <vector>

#include "json/number.hpp"
#include "json/parser.hpp"
#include "json/string_cache.hpp"
#include "json/utf8.hpp"
#include "json/value.hpp"
#include "py/error.hpp"
#include "py/ref.hpp"

namespace quillmar::ext::json_detail {

// Builds Python objects as the parser goes. Every object on the stack is a
// strong reference; whatever is left when parsing stops early is released
// with the sink.
class PythonSink {
 public:
  PythonSink() { stack_.reserve(64); }
  PythonSink(const PythonSink&) = delete;
  PythonSink& operator=(const PythonSink&) = delete;
  ~PythonSink() {
    for (PyObject* object : stack_) Py_DECREF(object);
  }

  std::size_t mark() const { return stack_.size(); }

  bool null() { return push(Py_NewRef(Py_None)); }
  bool boolean(bool value) { return push(Py_NewRef(value ? Py_True : Py_False)); }
  bool integer(std::int64_t value) {
    make_room();
    return push(PyLong_FromLongLong(value));
  }
  bool real(std::string_view text, const double* value) {
    make_room();
    return push(PyFloat_FromDouble(value ? *value : json_detail::rounded_decimal_to_double(text)));
  }
  bool big_integer(std::string_view text) {
    make_room();
    Result<PyRef> made = int_from_decimal(text);
    if (!made) {
      std::move(made.error()).raise();
      return false;
    }
    return push(made->release());
  }

  std::size_t string(std::string_view bytes, bool ascii, bool check_utf8, bool in_scratch, bool key) {
    last_string_ = bytes;
    last_in_scratch_ = in_scratch;
    make_room();
    PyObject* text = cacheable(bytes) && (key || caching_values()) ? cached_string(bytes, ascii, key)
                                                                    : json_detail::new_json_string(bytes, ascii);
    if (text) {
      stack_.push_back(text);
      return utf8_ok;
    }
    // The interpreter's decoder and ours refuse the same bytes; ours says where.
    if (check_utf8 && PyErr_ExceptionMatches(PyExc_UnicodeDecodeError)) {
      PyObject* raised = PyErr_GetRaisedException();
      std::size_t bad = utf8_invalid_offset(reinterpret_cast<const unsigned char*>(bytes.data()), bytes.size());
      if (bad != utf8_ok) {
        Py_DECREF(raised);
        return bad;
      }
      PyErr_SetRaisedException(raised);
    }
    return string_sink_failed;
  }

  // Out of line: a check that closes containers itself keeps its frames small.
  [[gnu::noinline]] bool end_array(std::size_t mark) {
    make_room();
    std::size_t count = stack_.size() - mark;
    PyObject* list = PyList_New(static_cast<Py_ssize_t>(count));
    if (!list) return false;
    for (std::size_t i = 0; i < count; ++i) PyList_SET_ITEM(list, static_cast<Py_ssize_t>(i), stack_[mark + i]);
    stack_.resize(mark);
    stack_.push_back(list);
    return true;
  }

  [[gnu::noinline]] bool end_object(std::size_t mark) {
    make_room();
    PyObject* dict = PyDict_New();
    if (!dict) return false;
    // A repeated key keeps its first place and takes the later value.
    for (std::size_t i = mark; i < stack_.size(); i += 2) {
      if (PyDict_SetItem(dict, stack_[i], stack_[i + 1]) < 0) {
        Py_DECREF(dict);
        return false;
      }
    }
    for (std::size_t i = mark; i < stack_.size(); ++i) Py_DECREF(stack_[i]);
    stack_.resize(mark);
    stack_.push_back(dict);
    return true;
  }

  // The object on top: the value just read.
  PyObject* top() const { return stack_.back(); }
  PyObject* at(std::size_t index) const { return stack_[index]; }
  // Drops every object above mark, as a value read again will make them anew.
  void discard_to(std::size_t mark) {
    for (std::size_t i = mark; i < stack_.size(); ++i) Py_DECREF(stack_[i]);
    stack_.resize(mark);
  }
  // The bytes of the last string read; transient when they sit in the
  // parser's buffer, which the next escaped string reuses.
  std::string_view last_string() const { return last_string_; }
  bool last_string_is_transient() const { return last_in_scratch_; }

  PyRef take_root() {
    PyObject* root = stack_.back();
    stack_.pop_back();
    return PyRef::steal(root);
  }

 private:
  // Growth happens before an object is made, so pushing it cannot throw and
  // leak it.
  void make_room() {
    if (stack_.size() == stack_.capacity()) stack_.reserve(stack_.capacity() * 2 + 16);
  }
  // Mostly called with room made before the object was: then the push
  // itself cannot fail.
  [[gnu::always_inline]] bool push(PyObject* object) {
    if (!object) return false;
    if (stack_.size() == stack_.capacity()) [[unlikely]] return push_growing(object);
    stack_.push_back(object);
    return true;
  }
  [[gnu::noinline]] bool push_growing(PyObject* object) {
    try {
      make_room();
    } catch (...) {
      Py_DECREF(object);
      throw;
    }
    stack_.push_back(object);
    return true;
  }


  static bool cacheable(std::string_view bytes) {
    return bytes.size() >= json_detail::STRING_CACHE_MIN_BYTES && bytes.size() <= json_detail::STRING_CACHE_MAX_BYTES;
  }

  // Keys always repeat enough to pay for the cache. A value lookup pays when
  // it finds a string used before in this document, or a non-ASCII one (whose
  // decoding it saves) left by another; a miss, or an ASCII string last used
  // by another document, costs more than making a fresh str. So values stop
  // going through the cache once a trial shows too few lookups paying.
  bool caching_values() const {
    return value_lookups_ < VALUE_CACHE_TRIAL || value_paid_ * VALUE_PAID_PER >= value_lookups_;
  }
  PyObject* cached_string(std::string_view bytes, bool ascii, bool key) {
    if (key) return json_detail::cached_json_string(bytes, ascii, document_, nullptr);
    json_detail::CacheOutcome outcome = json_detail::CacheOutcome::Made;
    PyObject* text = json_detail::cached_json_string(bytes, ascii, document_, &outcome);
    ++value_lookups_;
    value_paid_ += outcome == json_detail::CacheOutcome::Repeated ||
                   (outcome == json_detail::CacheOutcome::Shared && !ascii);
    return text;
  }
  static constexpr std::size_t VALUE_CACHE_TRIAL = 256;
  static constexpr std::size_t VALUE_PAID_PER = 4;  // at least one lookup in this many pays

  std::vector<PyObject*> stack_;
  std::string_view last_string_;
  bool last_in_scratch_ = false;
  std::uint16_t document_ = json_detail::new_cache_document();
  std::size_t value_lookups_ = 0;
  std::size_t value_paid_ = 0;
};

}  // namespace quillmar::ext::json_detail
