// The reporting walk: a value against a node in CollectAll or FailFast,
// recording an ErrorItem for each failure. It follows the walk's rules, but
// keeps each container and combinator step in progress in a frame on a stack
// of its own, so that the report of the deepest value the limits admit takes
// no more native stack than its boolean passes, which are the walk's.
#pragma once

#include <Python.h>

#include "check/walk/walk.hpp"

namespace quillmar::ext {

bool report_walk(const SchemaNode& root, PyObject* value, Path& path, WalkContext ctx, ErrorList& errors);

}  // namespace quillmar::ext
