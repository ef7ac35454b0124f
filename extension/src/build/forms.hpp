// The composite forms the dispatcher hands on: subscripted generics, list and
// dict literals, typed dicts, object classes and Annotated.
#pragma once

#include <Python.h>

#include <string>
#include <vector>

#include "constant_pool.hpp"
#include "py/error.hpp"
#include "quillmar/core/node.hpp"

namespace quillmar::ext {

using core::SchemaNode;

// Each writes its node into out (see compile_into).
Result<void> compile_generic_alias(PyObject* annotation, PyObject* origin, PyObject* args, SchemaNode& out,
                                   ConstantPoolBuilder& builder, std::vector<SchemaNode>& definitions);
Result<void> compile_list_literal(PyObject* list, SchemaNode& out, ConstantPoolBuilder& builder,
                                  std::vector<SchemaNode>& definitions);
Result<void> compile_dict_literal(PyObject* dict, SchemaNode& out, ConstantPoolBuilder& builder,
                                  std::vector<SchemaNode>& definitions);
Result<void> compile_typed_dict(PyObject* cls, SchemaNode& out, ConstantPoolBuilder& builder,
                                std::vector<SchemaNode>& definitions);
Result<void> compile_object_class(PyObject* cls, SchemaNode& out, ConstantPoolBuilder& builder,
                                  std::vector<SchemaNode>& definitions);
Result<void> compile_annotated(PyObject* origin, PyObject* metadata, SchemaNode& out, ConstantPoolBuilder& builder,
                               std::vector<SchemaNode>& definitions);

// The UTF-8 text of a str used as a record key or field name; a lone
// surrogate is a ValueError.
Result<std::string> record_key_text(PyObject* str);

}  // namespace quillmar::ext
