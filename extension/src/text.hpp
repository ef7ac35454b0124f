// Texts about Python objects and user strings for messages; none can fail.
#pragma once

#include <Python.h>

#include <cstddef>
#include <string>
#include <string_view>

namespace quillmar::ext {

inline constexpr std::size_t VALUE_TEXT_MAX_CHARS = 80;
inline constexpr std::size_t KEY_TEXT_MAX_CHARS = 40;

// The first max characters (code points) of text, then "..." when cut.
std::string truncate_text(std::string_view text, std::size_t max);

// The text of a str that repr() or str() returned, whole: its own str() as
// UTF-8 (lossy), or "<unprintable {type} object>" when that raises, which is
// reported to the unraisable hook. Leaves no exception pending.
std::string shown_text(PyObject* shown);

// repr() of any object, cut to VALUE_TEXT_MAX_CHARS; "<unrepresentable>"
// when repr raises. Of a builtin value only the start is made (repr_prefix):
// an element past the cut is never asked for its repr. Leaves no exception
// pending.
std::string safe_repr(PyObject* object);

// A class's __name__ whole, else safe_repr of it.
std::string class_name_text(PyObject* cls);

// The text in double quotes with quotes, backslashes, controls and
// non-printable characters escaped.
std::string quoted_text(std::string_view text);

// UTF-8 of a str; lone surrogates become U+FFFD (three per surrogate).
std::string utf8_lossy(PyObject* str);

}  // namespace quillmar::ext
