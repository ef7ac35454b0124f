// The schema compiler: any Python object a user wrote as a schema, to the
// node that denotes the same set.
#pragma once

#include <Python.h>

#include <string>
#include <vector>

#include "constant_pool.hpp"
#include "py/error.hpp"
#include "quillmar/core/node.hpp"

namespace quillmar::ext {

using core::SchemaNode;

inline constexpr std::uint64_t MAX_COMPILE_NESTING = 100;

// Compiles into the builder and definitions that the whole compile shares.
// Limits are the caller's business, applied to the finished schema.
Result<SchemaNode> compile_annotation(PyObject* annotation, ConstantPoolBuilder& builder,
                                      std::vector<SchemaNode>& definitions);

// The same, written into out, which the caller owns. The compile recurses once
// per nesting level through this; its frames hold no node or Result<node> of
// their own, so a schema at the depth limit compiles on a small thread stack.
Result<void> compile_into(PyObject* annotation, SchemaNode& out, ConstantPoolBuilder& builder,
                          std::vector<SchemaNode>& definitions);

// NotImplementedError with message.
std::unexpected<Error> build_error(std::string message);

// Whether object.name can be read and is true; every exception counts as false.
bool attr_is_truthy(PyObject* object, const char* name);

// An instance of TypeVar, ParamSpec, TypeVarTuple or _SpecialForm.
Result<bool> is_typing_construct(PyObject* object);

// "'T' object is not an instance of 'expected'" (or the None form).
std::string not_an_instance_message(PyObject* value, const char* expected);

}  // namespace quillmar::ext
