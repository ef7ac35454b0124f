// Record, object and refinement rules have not landed yet: they admit nothing.
#include "check/walk/walk.hpp"

namespace quillmar::ext {

bool walk_record(const SchemaNode&, PyObject*, Path&, WalkContext, ErrorList&) { return false; }
bool walk_object(const SchemaNode&, PyObject*, Path&, WalkContext, ErrorList&) { return false; }
bool walk_refined(const SchemaNode&, PyObject*, Path&, WalkContext, ErrorList&) { return false; }

}  // namespace quillmar::ext
