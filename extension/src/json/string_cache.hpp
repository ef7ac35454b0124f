// The process-wide cache of short str objects made by the Python sink, so
// repeated keys and values share one object and skip the allocation.
#pragma once

#include <Python.h>

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string_view>

namespace quillmar::ext::json_detail {

inline constexpr std::size_t STRING_CACHE_MIN_BYTES = 2;
inline constexpr std::size_t STRING_CACHE_MAX_BYTES = 63;

// Where a cached string came from.
enum class CacheOutcome : std::uint8_t {
  Made,      // made now (and remembered)
  Shared,    // last used by another document
  Repeated,  // used before in this document
};

// A stamp for one document's lookups, telling a repeat within the document
// from a hit left by another one.
std::uint16_t new_cache_document();

// A new reference to a str with these UTF-8 bytes (2 to 63 of them), from the
// cache or made now and remembered; nullptr with the exception set when the
// bytes do not decode or memory runs out. outcome, when given, says which.
PyObject* cached_json_string(std::string_view bytes, bool ascii, std::uint16_t document, CacheOutcome* outcome);

// A new str from UTF-8 bytes, taking the ASCII path when the caller knows it
// applies; nullptr with the exception set on failure.
inline PyObject* new_json_string(std::string_view bytes, bool ascii) {
  if (ascii && bytes.size() > 1) {
    PyObject* text = PyUnicode_New(static_cast<Py_ssize_t>(bytes.size()), 127);
    if (text) std::memcpy(PyUnicode_DATA(text), bytes.data(), bytes.size());
    return text;
  }
  // Empty and one-character strings come back as the interpreter's singletons.
  return PyUnicode_DecodeUTF8(bytes.data(), static_cast<Py_ssize_t>(bytes.size()), nullptr);
}

}  // namespace quillmar::ext::json_detail
