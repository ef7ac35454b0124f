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

Result<SchemaNode> compile_generic_alias(PyObject* annotation, PyObject* origin, PyObject* args,
                                         ConstantPoolBuilder& builder, std::vector<SchemaNode>& definitions);
Result<SchemaNode> compile_list_literal(PyObject* list, ConstantPoolBuilder& builder,
                                        std::vector<SchemaNode>& definitions);
Result<SchemaNode> compile_dict_literal(PyObject* dict, ConstantPoolBuilder& builder,
                                        std::vector<SchemaNode>& definitions);
Result<SchemaNode> compile_typed_dict(PyObject* cls, ConstantPoolBuilder& builder,
                                      std::vector<SchemaNode>& definitions);
Result<SchemaNode> compile_object_class(PyObject* cls, ConstantPoolBuilder& builder,
                                        std::vector<SchemaNode>& definitions);
Result<SchemaNode> compile_annotated(PyObject* origin, PyObject* metadata, ConstantPoolBuilder& builder,
                                     std::vector<SchemaNode>& definitions);

// The UTF-8 text of a str used as a record key or field name; a lone
// surrogate is a ValueError.
Result<std::string> record_key_text(PyObject* str);

}  // namespace quillmar::ext
