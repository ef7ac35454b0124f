// Union, intersection, complement and recursion rules have not landed yet.
#include "check/walk/walk.hpp"

namespace quillmar::ext {

bool walk_union(const SchemaNode&, PyObject*, Path&, WalkContext, ErrorList&) { return false; }
bool walk_intersection(const SchemaNode&, PyObject*, Path&, WalkContext, ErrorList&) { return false; }
bool walk_complement(const SchemaNode&, PyObject*, Path&, WalkContext, ErrorList&) { return false; }
bool walk_ref(const SchemaNode&, PyObject*, Path&, WalkContext, ErrorList&) { return false; }
bool walk_placeholder(const SchemaNode&, PyObject*, Path&, WalkContext, ErrorList&) { return false; }

}  // namespace quillmar::ext
