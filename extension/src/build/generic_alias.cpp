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

Result<void> compile_only_argument(PyObject* args, Node& out, ConstantPoolBuilder& builder,
                                   std::vector<Node>& definitions) {
  if (PyTuple_GET_SIZE(args) != 1) return build_error(ONE_ARGUMENT);
  return compile_into(PyTuple_GET_ITEM(args, 0), out, builder, definitions);
}

// Every argument in order, stopping at the first failure.
Result<void> compile_each(PyObject* args, std::vector<Node>& nodes, ConstantPoolBuilder& builder,
                          std::vector<Node>& definitions) {
  const Py_ssize_t count = PyTuple_GET_SIZE(args);
  nodes.reserve(static_cast<std::size_t>(count));
  for (Py_ssize_t i = 0; i < count; ++i) {
    PyObject* argument = PyTuple_GET_ITEM(args, i);
    if (auto compiled = compile_into(argument, nodes.emplace_back(), builder, definitions); !compiled) return compiled;
  }
  return {};
}

// The node shells are built out of line: their temporaries would otherwise
// sit in the frame of every nesting level.
[[gnu::noinline]] void assemble_tuple(Node& out, std::vector<Node>& nodes, bool variadic) {
  if (variadic) {
    out = Node::sequence(SeqKind::Tuple, variadic_pattern(std::move(nodes)));
  } else {
    out = Node::sequence(SeqKind::Tuple, concat_of_items(std::move(nodes)));
  }
}

[[gnu::noinline]] void assemble_union(Node& out, std::vector<Node>& members) {
  out = Node::union_of(std::move(members));
}

// Literal[v] is v's own node; Literal[a, b] their union.
[[gnu::noinline]] void assemble_literal(Node& out, std::vector<Node>& values) {
  if (values.size() == 1) {
    out = std::move(values.front());
  } else {
    out = Node::union_of(std::move(values));
  }
}

[[gnu::noinline]] void assemble_dict(Node& out, std::vector<Node>& pair) {
  out = core::dict_of(std::move(pair[0]), std::move(pair[1]));
}

// The one-element forms, wrapped round their compiled element in place.
enum class AliasForm : std::uint8_t { List, Set, FrozenSet, Dict, Tuple, OnlyArgument, Union, Literal, Callable };

[[gnu::noinline]] void wrap_element(Node& node, AliasForm form) {
  if (form == AliasForm::List) {
    node = Node::sequence(SeqKind::List, core::star_of_item(std::move(node)));
  } else if (form == AliasForm::Set) {
    node = Node::set(std::move(node));
  } else {
    node = Node::frozen_set(std::move(node));
  }
}

[[gnu::noinline]] std::unexpected<Error> misplaced_tuple_ellipsis() {
  return build_error("`...` may appear only as the last element of a tuple schema");
}

Result<void> compile_tuple_arguments(PyObject* args, Node& out, ConstantPoolBuilder& builder,
                                     std::vector<Node>& definitions) {
  const Py_ssize_t count = PyTuple_GET_SIZE(args);
  const bool variadic = count >= 2 && is_ellipsis(PyTuple_GET_ITEM(args, count - 1));
  const Py_ssize_t compiled = variadic ? count - 1 : count;
  std::vector<Node> nodes;
  nodes.reserve(static_cast<std::size_t>(compiled));
  for (Py_ssize_t i = 0; i < compiled; ++i) {
    PyObject* argument = PyTuple_GET_ITEM(args, i);
    if (is_ellipsis(argument)) return misplaced_tuple_ellipsis();
    if (auto done = compile_into(argument, nodes.emplace_back(), builder, definitions); !done) return done;
  }
  assemble_tuple(out, nodes, variadic);
  return {};
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

// Which form (origin, args) is, or why it is refused; nothing is compiled yet.
[[gnu::noinline]] Result<AliasForm> classify_alias(PyObject* annotation, PyObject* origin, PyObject* args) {
  // Refused as its typing.Unpack spelling is.
  if (is_unpacked_alias(annotation)) return unsupported_origin("typing.Unpack");
  if (is_builtin(origin, PyList_Type)) return AliasForm::List;
  if (is_builtin(origin, PySet_Type)) return AliasForm::Set;
  if (is_builtin(origin, PyFrozenSet_Type)) return AliasForm::FrozenSet;
  if (is_builtin(origin, PyDict_Type)) {
    if (PyTuple_GET_SIZE(args) != 2) return build_error("dict[...] needs a key type and a value type");
    return AliasForm::Dict;
  }
  if (is_builtin(origin, PyTuple_Type)) return AliasForm::Tuple;

  auto typing = checked(PyImport_ImportModule("typing"));
  QUILLMAR_RETURN_IF_FAILED(typing);
  // The markers leave no trace: whether a key is required is the typed
  // dict's business, read from its __required_keys__.
  if (is_typing_attribute(typing->get(), "Required", origin) ||
      is_typing_attribute(typing->get(), "NotRequired", origin)) {
    return AliasForm::OnlyArgument;
  }

  auto cache = typing_cache();
  QUILLMAR_RETURN_IF_FAILED(cache);
  const TypingCache& c = **cache;
  if (origin == c.union_ || origin == c.union_type) return AliasForm::Union;
  auto literal = is_literal_form(origin);
  QUILLMAR_RETURN_IF_FAILED(literal);
  if (*literal) return AliasForm::Literal;
  if (origin == c.callable) return AliasForm::Callable;
  return unsupported_origin(safe_repr(origin));
}

}  // namespace

Result<void> compile_generic_alias(PyObject* annotation, PyObject* origin, PyObject* args, SchemaNode& out,
                                   ConstantPoolBuilder& builder, std::vector<SchemaNode>& definitions) {
  auto form = classify_alias(annotation, origin, args);
  QUILLMAR_RETURN_IF_FAILED(form);
  switch (*form) {
    case AliasForm::List:
    case AliasForm::Set:
    case AliasForm::FrozenSet:
      if (auto compiled = compile_only_argument(args, out, builder, definitions); !compiled) return compiled;
      wrap_element(out, *form);
      return {};
    case AliasForm::Dict: {
      std::vector<Node> pair;
      if (auto compiled = compile_each(args, pair, builder, definitions); !compiled) return compiled;
      assemble_dict(out, pair);
      return {};
    }
    case AliasForm::Tuple: return compile_tuple_arguments(args, out, builder, definitions);
    case AliasForm::OnlyArgument: return compile_only_argument(args, out, builder, definitions);
    case AliasForm::Union: {
      std::vector<Node> members;
      if (auto compiled = compile_each(args, members, builder, definitions); !compiled) return compiled;
      assemble_union(out, members);
      return {};
    }
    case AliasForm::Literal: {
      std::vector<Node> values;
      if (auto compiled = compile_each(args, values, builder, definitions); !compiled) return compiled;
      assemble_literal(out, values);
      return {};
    }
    case AliasForm::Callable: out = Node::instance(builder.intern_constant(origin)); return {};
  }
  return {};
}

}  // namespace quillmar::ext
