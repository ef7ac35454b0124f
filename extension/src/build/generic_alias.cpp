// Subscripted typing forms, given as the (origin, args) pair of
// typing.get_origin and typing.get_args.
#include <fmt/format.h>

#include "build/compile.hpp"
#include "build/forms.hpp"
#include "build/sequence_patterns.hpp"
#include "build/typing_cache.hpp"
#include "text.hpp"

namespace quillmar::ext {
namespace {

using core::NodeKind;
using core::SeqKind;
using Node = SchemaNode;

constexpr const char* ONE_ARGUMENT = "expected exactly one type argument";

bool is_builtin(PyObject* origin, PyTypeObject& type) { return origin == reinterpret_cast<PyObject*>(&type); }

Result<PyRef> single_type_argument(PyObject* args) {
  if (PyTuple_GET_SIZE(args) != 1) return build_error(ONE_ARGUMENT);
  return PyRef::borrow(PyTuple_GET_ITEM(args, 0));
}

Result<Node> compile_only_argument(PyObject* args, ConstantPoolBuilder& builder, std::vector<Node>& definitions) {
  auto argument = single_type_argument(args);
  if (!argument) return fail_with(std::move(argument.error()));
  return compile_annotation(argument->get(), builder, definitions);
}

// Every argument in order, stopping at the first failure.
Result<std::vector<Node>> compile_each(PyObject* args, ConstantPoolBuilder& builder, std::vector<Node>& definitions) {
  const Py_ssize_t count = PyTuple_GET_SIZE(args);
  std::vector<Node> nodes;
  nodes.reserve(static_cast<std::size_t>(count));
  for (Py_ssize_t i = 0; i < count; ++i) {
    auto node = compile_annotation(PyTuple_GET_ITEM(args, i), builder, definitions);
    if (!node) return fail_with(std::move(node.error()));
    nodes.push_back(std::move(*node));
  }
  return nodes;
}

Result<Node> compile_tuple_arguments(PyObject* args, ConstantPoolBuilder& builder, std::vector<Node>& definitions) {
  const Py_ssize_t count = PyTuple_GET_SIZE(args);
  const bool variadic = count >= 2 && is_ellipsis(PyTuple_GET_ITEM(args, count - 1));
  const Py_ssize_t compiled = variadic ? count - 1 : count;
  std::vector<Node> nodes;
  nodes.reserve(static_cast<std::size_t>(compiled));
  for (Py_ssize_t i = 0; i < compiled; ++i) {
    PyObject* argument = PyTuple_GET_ITEM(args, i);
    if (is_ellipsis(argument)) return build_error("`...` may appear only as the last element of a tuple schema");
    auto node = compile_annotation(argument, builder, definitions);
    if (!node) return fail_with(std::move(node.error()));
    nodes.push_back(std::move(*node));
  }
  if (variadic) return Node::sequence(SeqKind::Tuple, variadic_pattern(std::move(nodes)));
  return Node::sequence(SeqKind::Tuple, concat_of_items(std::move(nodes)));
}

// typing.Required / typing.NotRequired; an attribute that cannot be read
// skips the test.
bool is_typing_attribute(PyObject* typing, const char* name, PyObject* origin) {
  PyObject* marker = PyObject_GetAttrString(typing, name);
  if (!marker) {
    PyErr_Clear();
    return false;
  }
  const bool same = marker == origin;
  Py_DECREF(marker);
  return same;
}

std::unexpected<Error> unsupported_origin(std::string_view origin_text) {
  return build_error(fmt::format(
      "unsupported typing form with origin {}; supported: list, set, dict, tuple, Union, Optional, Literal, Callable",
      origin_text));
}

// `*tuple[...]` reports tuple as its origin, yet it splices its elements into
// the enclosing form: read as a tuple it would silently mean a nested tuple.
bool is_unpacked_alias(PyObject* annotation) {
  return PyObject_TypeCheck(annotation, &Py_GenericAliasType) && attr_is_truthy(annotation, "__unpacked__");
}

}  // namespace

Result<SchemaNode> compile_generic_alias(PyObject* annotation, PyObject* origin, PyObject* args,
                                         ConstantPoolBuilder& builder, std::vector<SchemaNode>& definitions) {
  // Refused as its typing.Unpack spelling is.
  if (is_unpacked_alias(annotation)) return unsupported_origin("typing.Unpack");
  if (is_builtin(origin, PyList_Type)) {
    auto element = compile_only_argument(args, builder, definitions);
    if (!element) return element;
    return Node::sequence(SeqKind::List, core::star_of_item(std::move(*element)));
  }
  if (is_builtin(origin, PySet_Type)) {
    auto element = compile_only_argument(args, builder, definitions);
    if (!element) return element;
    return Node::set(std::move(*element));
  }
  if (is_builtin(origin, PyFrozenSet_Type)) {
    auto element = compile_only_argument(args, builder, definitions);
    if (!element) return element;
    return Node::frozen_set(std::move(*element));
  }
  if (is_builtin(origin, PyDict_Type)) {
    if (PyTuple_GET_SIZE(args) != 2) return build_error("dict[...] needs a key type and a value type");
    auto key = compile_annotation(PyTuple_GET_ITEM(args, 0), builder, definitions);
    if (!key) return key;
    auto value = compile_annotation(PyTuple_GET_ITEM(args, 1), builder, definitions);
    if (!value) return value;
    return core::dict_of(std::move(*key), std::move(*value));
  }
  if (is_builtin(origin, PyTuple_Type)) return compile_tuple_arguments(args, builder, definitions);

  auto typing = checked(PyImport_ImportModule("typing"));
  if (!typing) return fail_with(std::move(typing.error()));
  // The markers leave no trace: whether a key is required is the typed
  // dict's business, read from its __required_keys__.
  if (is_typing_attribute(typing->get(), "Required", origin) ||
      is_typing_attribute(typing->get(), "NotRequired", origin)) {
    return compile_only_argument(args, builder, definitions);
  }

  auto cache = typing_cache();
  if (!cache) return fail_with(std::move(cache.error()));
  const TypingCache& c = **cache;
  if (origin == c.union_ || origin == c.union_type) {
    auto members = compile_each(args, builder, definitions);
    if (!members) return fail_with(std::move(members.error()));
    return Node::union_of(std::move(*members));
  }
  auto literal = is_literal_form(origin);
  if (!literal) return fail_with(std::move(literal.error()));
  if (*literal) {
    auto values = compile_each(args, builder, definitions);
    if (!values) return fail_with(std::move(values.error()));
    if (values->size() == 1) return std::move(values->front());
    return Node::union_of(std::move(*values));
  }
  if (origin == c.callable) return Node::instance(builder.intern_constant(origin));
  return unsupported_origin(safe_repr(origin));
}

}  // namespace quillmar::ext
