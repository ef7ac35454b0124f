// The start of repr() of a builtin value, made only as far as it is read. A
// report shows the first characters of a value, and the whole repr() of a
// container can be as large as the input.
#pragma once

#include <Python.h>

#include <cstddef>
#include <optional>
#include <string>

namespace quillmar::ext {

// Whether repr_prefix makes the text of this value: None, the booleans, and
// values whose class is exactly int, float, str, bytes, list, tuple, dict,
// set or frozenset.
bool has_builtin_repr(PyObject* value);

// The first `chars` characters of repr(value) (as utf8_lossy gives them), or
// all of it when it is shorter. Containers are read as repr() reads them,
// with the same marks for a container inside itself; any other element is
// shown by its own repr(), called when repr() would call it but never for an
// element past those characters. nullopt when a repr() it needed raised; no
// exception is left pending.
std::optional<std::string> repr_prefix(PyObject* value, std::size_t chars);

}  // namespace quillmar::ext
