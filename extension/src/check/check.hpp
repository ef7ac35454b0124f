// The check entry points: one value against a compiled schema.
#pragma once

#include <Python.h>

#include "compiled_schema.hpp"
#include "py/error.hpp"

namespace quillmar::ext {

// Membership without a report; the error is a fatal exception met on the way.
Result<bool> check_membership(const CompiledSchema& schema, PyObject* value);

// Nothing for a member; else the exception to raise: the fatal one met on the
// way, or the ValidationError built from the recorded failures.
Result<void> check_or_raise(const CompiledSchema& schema, PyObject* value, bool fail_fast);

}  // namespace quillmar::ext
