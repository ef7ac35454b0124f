#include "build/compile.hpp"

#include <fmt/format.h>

#include "build/forms.hpp"
#include "build/typing_cache.hpp"
#include "compiled_schema.hpp"
#include "quillmar/core/stack_guard.hpp"
#include "text.hpp"
#include "validator/validator_type.hpp"

namespace quillmar::ext {
namespace {

thread_local std::uint64_t compile_depth = 0;

// Holds one level of the per-thread nesting count for the length of a call.
class NestingLevel {
 public:
  NestingLevel() { ++compile_depth; }
  ~NestingLevel() { --compile_depth; }
  NestingLevel(const NestingLevel&) = delete;
  NestingLevel& operator=(const NestingLevel&) = delete;
};

using Node = SchemaNode;
using core::NodeKind;

// A step of the compiler may run typing's Python code (type hints are
// evaluated), which needs more room than a check's step.
constexpr std::size_t COMPILE_STACK_RESERVE = 2 * core::STACK_RESERVE;

[[gnu::noinline, gnu::cold]] std::unexpected<Error> out_of_stack() {
  return fail(PyExc_RecursionError, "maximum recursion depth exceeded while compiling a schema");
}

// Classes that compile to a type kind by identity; subclasses go on.
std::optional<NodeKind> builtin_kind(PyObject* cls) {
  if (cls == reinterpret_cast<PyObject*>(&PyBool_Type)) return NodeKind::Bool;
  if (cls == reinterpret_cast<PyObject*>(&PyLong_Type)) return NodeKind::Int;
  if (cls == reinterpret_cast<PyObject*>(&PyFloat_Type)) return NodeKind::Float;
  if (cls == reinterpret_cast<PyObject*>(&PyUnicode_Type)) return NodeKind::Str;
  if (cls == reinterpret_cast<PyObject*>(&PyBytes_Type)) return NodeKind::Bytes;
  if (cls == reinterpret_cast<PyObject*>(Py_TYPE(Py_None))) return NodeKind::None;
  return std::nullopt;
}

Result<bool> has_attr(PyObject* object, const char* name) {
  int found = PyObject_HasAttrStringWithError(object, name);
  if (found < 0) return fetched();
  return found == 1;
}

// One positional argument, passed as itself: a tuple argument must not be
// spread into several (PyObject_CallMethod's "O" format would do that).
Result<PyRef> call_method(PyObject* module, const char* name, PyObject* argument) {
  PyRef method_name = PyRef::steal(PyUnicode_FromString(name));
  if (!method_name) return fetched();
  return checked(PyObject_CallMethodOneArg(module, method_name.get(), argument));
}

Result<bool> call_is_dataclass(PyObject* cls) {
  auto dataclasses = checked(PyImport_ImportModule("dataclasses"));
  QUILLMAR_RETURN_IF_FAILED(dataclasses);
  auto result = call_method(dataclasses->get(), "is_dataclass", cls);
  QUILLMAR_RETURN_IF_FAILED(result);
  int truth = PyObject_IsTrue(result->get());
  if (truth < 0) return fetched();
  return truth == 1;
}

// What one annotation asks of the dispatcher: nothing more (its node is
// written, or it failed), or a form compiled from the objects held here.
enum class FormKind : std::uint8_t { Done, TypedDict, ObjectClass, Annotated, GenericAlias, Alias, ListLiteral, DictLiteral };

struct Form {
  FormKind kind = FormKind::Done;
  PyRef first;   // Annotated: the origin; GenericAlias: the origin; Alias: the aliased annotation
  PyRef second;  // Annotated: the metadata; GenericAlias: the arguments
};

[[gnu::noinline]] std::unexpected<Error> special_form_error(PyObject* cls) {
  return build_error(fmt::format(
      "{} is a typing special form, not a value; write a concrete type (for a union, X | Y or Union[X, Y])",
      safe_repr(cls)));
}

[[gnu::noinline]] std::unexpected<Error> typing_construct_error(PyObject* annotation) {
  return build_error(fmt::format(
      "{} is a typing construct, not a value: a type variable, ParamSpec, TypeVarTuple, or special form (such as "
      "Final or ClassVar) cannot be a schema; use a concrete type",
      safe_repr(annotation)));
}

Result<void> classify_class(PyObject* cls, const TypingCache& cache, ConstantPoolBuilder& builder, Form& form,
                            Node& out) {
  if (auto kind = builtin_kind(cls)) {
    out = Node::leaf(*kind);
    return {};
  }
  if (cls == cache.object) {
    out = Node::leaf(NodeKind::Anything);
    return {};
  }
  if (cls == cache.union_ || cls == cache.optional) return special_form_error(cls);
  auto typed_dict = has_attr(cls, "__required_keys__");
  QUILLMAR_RETURN_IF_FAILED(typed_dict);
  if (*typed_dict) {
    form.kind = FormKind::TypedDict;
    return {};
  }

  int is_enum = PyObject_IsSubclass(cls, cache.enum_);
  if (is_enum < 0) return fetched();
  if (is_enum) {
    out = Node::instance(builder.intern_constant(cls));
    return {};
  }

  auto dataclass = call_is_dataclass(cls);
  QUILLMAR_RETURN_IF_FAILED(dataclass);
  if (*dataclass) {
    form.kind = FormKind::ObjectClass;
    return {};
  }

  int is_tuple = PyObject_IsSubclass(cls, reinterpret_cast<PyObject*>(&PyTuple_Type));
  if (is_tuple < 0) return fetched();
  if (is_tuple) {
    auto named = has_attr(cls, "_fields");
    QUILLMAR_RETURN_IF_FAILED(named);
    if (*named) {
      form.kind = FormKind::ObjectClass;
      return {};
    }
  }
  if (attr_is_truthy(cls, "_is_protocol") && !attr_is_truthy(cls, "_is_runtime_protocol")) {
    return build_error("a Protocol must be @runtime_checkable to be used as a schema");
  }
  out = Node::instance(builder.intern_constant(cls));
  return {};
}

Result<void> classify_value(PyObject* annotation, PyObject* typing, const TypingCache& cache,
                            ConstantPoolBuilder& builder, std::vector<Node>& definitions, Form& form, Node& out) {
  auto annotated = has_attr(annotation, "__metadata__");
  QUILLMAR_RETURN_IF_FAILED(annotated);
  if (*annotated) {
    auto origin = checked(PyObject_GetAttrString(annotation, "__origin__"));
    QUILLMAR_RETURN_IF_FAILED(origin);
    auto metadata = checked(PyObject_GetAttrString(annotation, "__metadata__"));
    QUILLMAR_RETURN_IF_FAILED(metadata);
    if (!PyTuple_Check(metadata->get())) {
      return fail(PyExc_TypeError, not_an_instance_message(metadata->get(), "tuple"));
    }
    form = {FormKind::Annotated, std::move(*origin), std::move(*metadata)};
    return {};
  }

  auto origin = call_method(typing, "get_origin", annotation);
  QUILLMAR_RETURN_IF_FAILED(origin);
  if (origin->get() != Py_None) {
    auto args = call_method(typing, "get_args", annotation);
    QUILLMAR_RETURN_IF_FAILED(args);
    if (!PyTuple_Check(args->get())) return fail(PyExc_TypeError, not_an_instance_message(args->get(), "tuple"));
    form = {FormKind::GenericAlias, std::move(*origin), std::move(*args)};
    return {};
  }

  if (cache.type_alias_type) {
    int is_alias = PyObject_IsInstance(annotation, cache.type_alias_type);
    if (is_alias < 0) return fetched();
    if (is_alias) {
      auto value = checked(PyObject_GetAttrString(annotation, "__value__"));
      QUILLMAR_RETURN_IF_FAILED(value);
      form = {FormKind::Alias, std::move(*value), PyRef()};
      return {};
    }
  }

  auto new_type = has_attr(annotation, "__supertype__");
  QUILLMAR_RETURN_IF_FAILED(new_type);
  if (*new_type) {
    auto supertype = checked(PyObject_GetAttrString(annotation, "__supertype__"));
    QUILLMAR_RETURN_IF_FAILED(supertype);
    form = {FormKind::Alias, std::move(*supertype), PyRef()};
    return {};
  }

  if (PyList_Check(annotation)) {
    form.kind = FormKind::ListLiteral;
    return {};
  }
  if (PyTuple_Check(annotation)) {
    return build_error(
        "a tuple literal is not a schema; write a fixed-length tuple as tuple[A, B] (the list literal [A, B] is the "
        "fixed-length list)");
  }
  if (PySet_Check(annotation)) return build_error("a set literal is not a schema; write a set as set[T]");
  if (PyDict_Check(annotation)) {
    form.kind = FormKind::DictLiteral;
    return {};
  }
  if (const ValidatorObject* embedded = downcast_validator(annotation)) {
    out = embed_schema(embedded->schema, builder, definitions);
    return {};
  }
  auto construct = is_typing_construct(annotation);
  QUILLMAR_RETURN_IF_FAILED(construct);
  if (*construct) return typing_construct_error(annotation);
  out = Node::literal(builder.intern_constant(annotation));
  return {};
}

// Everything about one annotation that is not the recursion itself: the
// leaves are written into out here, off the per-level stack.
[[gnu::noinline]] Result<void> classify(PyObject* annotation, ConstantPoolBuilder& builder,
                                        std::vector<Node>& definitions, Form& form, Node& out) {
  if (annotation == Py_None) {
    out = Node::leaf(NodeKind::None);
    return {};
  }
  auto cache = typing_cache();
  QUILLMAR_RETURN_IF_FAILED(cache);
  auto typing = checked(PyImport_ImportModule("typing"));
  QUILLMAR_RETURN_IF_FAILED(typing);
  const TypingCache& c = **cache;
  if (annotation == c.any) {
    out = Node::leaf(NodeKind::Any);
    return {};
  }
  if ((c.never && annotation == c.never) || (c.no_return && annotation == c.no_return)) {
    out = Node::leaf(NodeKind::Nothing);
    return {};
  }
  if (PyType_Check(annotation)) return classify_class(annotation, c, builder, form, out);
  return classify_value(annotation, typing->get(), c, builder, definitions, form, out);
}

[[gnu::noinline]] std::unexpected<Error> nesting_too_deep() {
  return build_error(
      "schema nesting is too deep to compile; a class whose own type appears in its fields is recursive and must be "
      "written with recursive(...), which ties the fixpoint explicitly");
}

}  // namespace

std::unexpected<Error> build_error(std::string message) {
  return fail(PyExc_NotImplementedError, std::move(message));
}

bool attr_is_truthy(PyObject* object, const char* name) {
  PyObject* value = PyObject_GetAttrString(object, name);
  if (!value) {
    PyErr_Clear();
    return false;
  }
  int truth = PyObject_IsTrue(value);
  Py_DECREF(value);
  if (truth < 0) PyErr_Clear();
  return truth == 1;
}

Result<bool> is_typing_construct(PyObject* object) {
  auto typing = checked(PyImport_ImportModule("typing"));
  QUILLMAR_RETURN_IF_FAILED(typing);
  for (const char* name : {"TypeVar", "ParamSpec", "TypeVarTuple", "_SpecialForm"}) {
    PyObject* cls = PyObject_GetAttrString(typing->get(), name);
    if (!cls) {
      PyErr_Clear();
      continue;
    }
    int found = PyObject_IsInstance(object, cls);
    Py_DECREF(cls);
    if (found < 0) return fetched();
    if (found) return true;
  }
  return false;
}

std::string not_an_instance_message(PyObject* value, const char* expected) {
  if (value == Py_None) return fmt::format("'None' is not an instance of '{}'", expected);
  PyObject* name = PyType_GetQualName(Py_TYPE(value));
  std::string type_name = name ? utf8_lossy(name) : "?";
  Py_XDECREF(name);
  PyErr_Clear();
  return fmt::format("'{}' object is not an instance of '{}'", type_name, expected);
}

Result<void> compile_into(PyObject* annotation, SchemaNode& out, ConstantPoolBuilder& builder,
                          std::vector<SchemaNode>& definitions) {
  if (compile_depth + 1 > MAX_COMPILE_NESTING) return nesting_too_deep();
  if (core::stack_pointer() < core::stack_floor(COMPILE_STACK_RESERVE)) return out_of_stack();
  NestingLevel level;
  Form form;
  if (auto classified = classify(annotation, builder, definitions, form, out); !classified) return classified;
  switch (form.kind) {
    case FormKind::Done: return {};
    case FormKind::TypedDict: return compile_typed_dict(annotation, out, builder, definitions);
    case FormKind::ObjectClass: return compile_object_class(annotation, out, builder, definitions);
    case FormKind::Annotated: return compile_annotated(form.first.get(), form.second.get(), out, builder, definitions);
    case FormKind::GenericAlias:
      return compile_generic_alias(annotation, form.first.get(), form.second.get(), out, builder, definitions);
    case FormKind::Alias: return compile_into(form.first.get(), out, builder, definitions);
    case FormKind::ListLiteral: return compile_list_literal(annotation, out, builder, definitions);
    case FormKind::DictLiteral: return compile_dict_literal(annotation, out, builder, definitions);
  }
  return {};
}

Result<SchemaNode> compile_annotation(PyObject* annotation, ConstantPoolBuilder& builder,
                                      std::vector<SchemaNode>& definitions) {
  SchemaNode node;
  QUILLMAR_TRY(compile_into(annotation, node, builder, definitions));
  return node;
}

}  // namespace quillmar::ext
