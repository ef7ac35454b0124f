// Inclusion of one class's instances in another's, proven from the class
// graph. A subclass test proves nothing by itself: a hook (a
// __subclasshook__, a registration, a metaclass's own __instancecheck__) may
// judge a subclass of sub otherwise than it judges sub.
#pragma once

#include <Python.h>

#include "quillmar/core/decision/oracle.hpp"

namespace quillmar::ext {

// Yes only when sup is a real base of sub (in its MRO) and no membership test
// on the way can be answered otherwise by a hook; Unknown in every other case,
// and whenever something cannot be read. Runs no Python code of the classes'
// own and leaves no exception pending.
core::Verdict class_inclusion(PyTypeObject* sub, PyTypeObject* sup);

}  // namespace quillmar::ext
