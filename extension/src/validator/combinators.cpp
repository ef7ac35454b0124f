// The module functions that build a validator out of schemas (union,
// intersection, complement, recursive) and the `|` operator.
#include <atomic>
#include <cstdint>
#include <vector>

#include "build/compile.hpp"
#include "py/args.hpp"
#include "py/guarded.hpp"
#include "quillmar/core/recursion.hpp"
#include "validator/module_functions.hpp"
#include "validator/slots.hpp"
#include "validator/validator_type.hpp"

namespace quillmar::ext {
namespace {

// Only has to differ between calls, so relaxed ordering suffices.
std::atomic<std::uint64_t> NEXT_PLACEHOLDER_ID{0};

constexpr const char* schema_param[] = {"schema"};
constexpr const char* builder_param[] = {"builder"};

const Signature union_signature{nullptr, "union", {}, {}, 0, true};
const Signature intersection_signature{nullptr, "intersection", {}, {}, 0, true};
const Signature complement_signature{nullptr, "complement", schema_param, {}, 1};
const Signature recursive_signature{nullptr, "recursive", builder_param, {}, 1};

Result<PyRef> finish(SchemaNode root, ConstantPoolBuilder builder, std::vector<SchemaNode> definitions) {
  auto schema = finalize_schema(std::move(root), std::move(builder).take_pool(), std::move(definitions));
  QUILLMAR_RETURN_IF_FAILED(schema);
  return wrap_validator(std::move(*schema));
}

// union and intersection: one member per argument, in order, none merged.
template <SchemaNode (*make)(std::vector<SchemaNode>)>
Result<PyRef> combine(const Signature& signature, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
  QUILLMAR_TRY(parse_fastcall(signature, args, nargs, kwnames, {}));
  ConstantPoolBuilder builder;
  std::vector<SchemaNode> definitions;
  std::vector<SchemaNode> members;
  members.reserve(static_cast<std::size_t>(nargs));
  for (Py_ssize_t i = 0; i < nargs; ++i) {
    auto member = compile_annotation(args[i], builder, definitions);
    QUILLMAR_RETURN_IF_FAILED(member);
    members.push_back(std::move(*member));
  }
  return finish(make(std::move(members)), std::move(builder), std::move(definitions));
}

Result<PyRef> union_function(PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
  return combine<SchemaNode::union_of>(union_signature, args, nargs, kwnames);
}

Result<PyRef> intersection_function(PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
  return combine<SchemaNode::intersection_of>(intersection_signature, args, nargs, kwnames);
}

Result<PyRef> complement_function(PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
  PyObject* parsed[1];
  QUILLMAR_TRY(parse_fastcall(complement_signature, args, nargs, kwnames, parsed));
  ConstantPoolBuilder builder;
  std::vector<SchemaNode> definitions;
  auto inner = compile_annotation(parsed[0], builder, definitions);
  QUILLMAR_RETURN_IF_FAILED(inner);
  return finish(SchemaNode::complement(std::move(*inner)), std::move(builder), std::move(definitions));
}

Result<PyRef> recursive_function(PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
  PyObject* parsed[1];
  QUILLMAR_TRY(parse_fastcall(recursive_signature, args, nargs, kwnames, parsed));
  const std::uint64_t id = NEXT_PLACEHOLDER_ID.fetch_add(1, std::memory_order_relaxed);
  PyRef result;
  {
    auto placeholder = validator_from_root(SchemaNode::placeholder(id));
    QUILLMAR_RETURN_IF_FAILED(placeholder);
    // Our reference to the placeholder ends with the call; the builder may keep its own.
    result = PyRef::steal(PyObject_CallOneArg(parsed[0], placeholder->get()));
  }
  if (!result) return fetched();

  ConstantPoolBuilder builder;
  std::vector<SchemaNode> definitions;
  auto node = compile_annotation(result.get(), builder, definitions);
  QUILLMAR_RETURN_IF_FAILED(node);

  // The placeholder can also sit in a definition this compile appended: an
  // inner recursive(...) built inside the builder that mentions it. Binding
  // only the root would leave it unresolved there, so every definition is
  // bound as well; the body is about to become definition d.
  const std::uint64_t d = definitions.size();
  SchemaNode body = core::bind_placeholder(*node, id, d);
  for (SchemaNode& definition : definitions) definition = core::bind_placeholder(definition, id, d);
  // Binding may close a cycle through those definitions, so the test follows
  // their Refs rather than looking at the body alone.
  if (core::has_unguarded_cycle(body, d, definitions)) {
    return fail(PyExc_ValueError,
                "recursive schema is not contractive: the recursive reference must occur under a structural "
                "constructor (a list, tuple, set, dict, record, or object)");
  }
  definitions.push_back(std::move(body));
  return finish(SchemaNode::ref(d), std::move(builder), std::move(definitions));
}

// The validator operand's pool keeps its indices; the other operand's
// constants and definitions are appended after its own.
Result<CompiledSchema> union_operator(const CompiledSchema& schema, PyObject* other, bool reflected) {
  ConstantPoolBuilder builder(schema.pool.copy());
  std::vector<SchemaNode> definitions = schema.definitions;
  auto node = compile_annotation(other, builder, definitions);
  QUILLMAR_RETURN_IF_FAILED(node);
  std::vector<SchemaNode> members;
  members.reserve(2);
  if (reflected) {
    members.push_back(std::move(*node));
    members.push_back(schema.root);
  } else {
    members.push_back(schema.root);
    members.push_back(std::move(*node));
  }
  return finalize_schema(SchemaNode::union_of(std::move(members)), std::move(builder).take_pool(),
                         std::move(definitions));
}

using ModuleFunction = Result<PyRef> (*)(PyObject* const*, Py_ssize_t, PyObject*);

template <ModuleFunction function>
PyObject* module_entry(PyObject*, PyObject* const* args, Py_ssize_t nargsf, PyObject* kwnames) {
  return guarded([&] { return to_python(function(args, PyVectorcall_NARGS(nargsf), kwnames)); });
}

#define QM_MODULE_FUNCTION(fn) reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(module_entry<fn>))

PyDoc_STRVAR(union_doc,
             "union(*schemas)\n--\n\n"
             "The union of the given schemas: a value in at least one of their sets.");

PyDoc_STRVAR(intersection_doc,
             "intersection(*schemas)\n--\n\n"
             "The intersection of the given schemas: a value in every one of their sets.");

PyDoc_STRVAR(complement_doc,
             "complement(schema)\n--\n\n"
             "The complement of a schema: every value not in its set.\n"
             "\n"
             "Membership is decided by the inner schema: a value belongs to the complement\n"
             "exactly when it is not a member of the inner. When deciding the inner raises\n"
             "an ordinary Python exception — a value whose comparison or `__eq__` throws —\n"
             "that value folds to a non-member of the inner, and therefore a **member** of\n"
             "the complement. A filter of the form `complement(P)` over values whose own\n"
             "methods can raise should not rely on the complement alone to exclude them;\n"
             "intersect with a positive type that pins the shape instead.");

PyDoc_STRVAR(recursive_doc,
             "recursive(builder)\n--\n\n"
             "Build a recursive schema as a checked fixpoint.\n"
             "\n"
             "`builder` receives a placeholder validator standing for the schema being\n"
             "defined and returns its body. The placeholder's self-reference is resolved\n"
             "to a back edge, and a non-contractive body — one whose recursive reference\n"
             "is not under a structural constructor — is rejected.");

}  // namespace

PyMethodDef module_functions[] = {
    {"union", QM_MODULE_FUNCTION(union_function), METH_FASTCALL | METH_KEYWORDS, union_doc},
    {"intersection", QM_MODULE_FUNCTION(intersection_function), METH_FASTCALL | METH_KEYWORDS, intersection_doc},
    {"complement", QM_MODULE_FUNCTION(complement_function), METH_FASTCALL | METH_KEYWORDS, complement_doc},
    {"recursive", QM_MODULE_FUNCTION(recursive_function), METH_FASTCALL | METH_KEYWORDS, recursive_doc},
    {nullptr, nullptr, 0, nullptr},
};

PyObject* validator_or(PyObject* left, PyObject* right) {
  return guarded([&]() -> PyObject* {
    const ValidatorObject* validator = downcast_validator(left);
    bool reflected = false;
    PyObject* other = right;
    if (!validator) {
      validator = downcast_validator(right);
      reflected = true;
      other = left;
    }
    if (!validator) Py_RETURN_NOTIMPLEMENTED;
    auto schema = union_operator(validator->schema, other, reflected);
    if (!schema) {
      std::move(schema.error()).raise();
      return nullptr;
    }
    return to_python(wrap_validator(std::move(*schema)));
  });
}

}  // namespace quillmar::ext
