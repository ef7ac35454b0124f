// is_empty, is_subtype_of, is_equivalent, open, close and simplify: thin
// frames around the schema core's decisions and transforms.
#include "py/guarded.hpp"
#include "validator/algebra.hpp"

#include <new>
#include <vector>

#include "build/compile.hpp"
#include "pool_oracle.hpp"
#include "py/args.hpp"
#include "quillmar/core/decision/emptiness.hpp"
#include "quillmar/core/decision/inclusion.hpp"
#include "quillmar/core/simplify.hpp"
#include "validator/slots.hpp"
#include "validator/validator_type.hpp"

namespace quillmar::ext {
namespace {

constexpr const char* other_param[] = {"other"};
const Signature is_subtype_of_signature{"Validator", "is_subtype_of", other_param, {}, 1};
const Signature is_equivalent_signature{"Validator", "is_equivalent", other_param, {}, 1};

// The receiver's pool and definitions with `other` compiled after them; the
// receiver's root stays valid in them, since they only grew at the end. No
// limit is applied to `other`.
struct Operands {
  CompiledSchema scope;  // pool and definitions only; its root is unused
  SchemaNode other_root;
};

Result<Operands> compile_operand(const CompiledSchema& receiver, const Signature& signature, PyObject* const* args,
                                 Py_ssize_t nargs, PyObject* kwnames) {
  PyObject* parsed[1];
  QUILLMAR_TRY(parse_fastcall(signature, args, nargs, kwnames, parsed));
  ConstantPoolBuilder builder(receiver.pool.copy());
  std::vector<SchemaNode> definitions = receiver.definitions;
  auto root = compile_annotation(parsed[0], builder, definitions);
  QUILLMAR_RETURN_IF_FAILED(root);
  Operands operands;
  operands.scope.pool = std::move(builder).take_pool();
  operands.scope.definitions = std::move(definitions);
  operands.other_root = std::move(*root);
  return operands;
}

PyObject* as_bool(bool answer) { return Py_NewRef(answer ? Py_True : Py_False); }

}  // namespace

PyObject* algebra_is_empty(PyObject* self, PyObject*) {
  return guarded([&]() -> PyObject* {
    const CompiledSchema& schema = schema_of(self);
    PoolOracle oracle(schema);
    return as_bool(core::query_is_empty(schema.root, oracle, schema.definitions));
  });
}

PyObject* algebra_is_subtype_of(PyObject* self, PyObject* const* args, Py_ssize_t nargsf, PyObject* kwnames) {
  return guarded([&]() -> PyObject* {
    const CompiledSchema& receiver = schema_of(self);
    auto operands = compile_operand(receiver, is_subtype_of_signature, args, PyVectorcall_NARGS(nargsf), kwnames);
    if (!operands) {
      std::move(operands.error()).raise();
      return nullptr;
    }
    PoolOracle oracle(operands->scope);
    return as_bool(core::query_is_subtype(receiver.root, operands->other_root, oracle, operands->scope.definitions));
  });
}

PyObject* algebra_is_equivalent(PyObject* self, PyObject* const* args, Py_ssize_t nargsf, PyObject* kwnames) {
  return guarded([&]() -> PyObject* {
    const CompiledSchema& receiver = schema_of(self);
    auto operands = compile_operand(receiver, is_equivalent_signature, args, PyVectorcall_NARGS(nargsf), kwnames);
    if (!operands) {
      std::move(operands.error()).raise();
      return nullptr;
    }
    PoolOracle oracle(operands->scope);
    return as_bool(
        core::query_is_equivalent(receiver.root, operands->other_root, oracle, operands->scope.definitions));
  });
}

PyObject* algebra_open(PyObject* self, PyObject*) {
  return guarded([&] { return to_python(wrap_validator(with_records_open(schema_of(self), true))); });
}

PyObject* algebra_close(PyObject* self, PyObject*) {
  return guarded([&] { return to_python(wrap_validator(with_records_open(schema_of(self), false))); });
}

PyObject* algebra_simplify(PyObject* self, PyObject*) {
  return guarded([&]() -> PyObject* {
    const CompiledSchema& schema = schema_of(self);
    // The definitions are carried over as they are: every Ref in the new root
    // still names its body.
    auto simplified = finalize_schema(core::simplify_node(schema.root), schema.pool.copy(), schema.definitions);
    if (!simplified) {
      std::move(simplified.error()).raise();
      return nullptr;
    }
    return to_python(wrap_validator(std::move(*simplified)));
  });
}

const char algebra_is_empty_doc[] =
    "is_empty($self)\n--\n\n"
    "Whether the schema is unsatisfiable \u2014 provably empty, so `is_valid`\n"
    "returns `False` for every value.\n\n"
    "Decided soundly: `True` only when no value can belong to the schema \u2014 an\n"
    "unsatisfiable intersection, a fixed sequence with an impossible position,\n"
    "a record with an impossible required field, a refinement whose bounds\n"
    "cannot hold together (a lower bound above an upper bound, or a minimum\n"
    "length above a maximum), or a recursive schema with no base case (a\n"
    "mandatory self-reference that can never bottom out). It never reports a\n"
    "satisfiable schema as empty; for forms it cannot decide it returns `False`.\n"
    "The decision is also bounded by a fixed work budget, so on a deeply nested\n"
    "adversarial schema a `False` can mean \"not proven empty within the bound\"\n"
    "rather than \"non-empty\"; a real schema decides far inside the bound.\n\n"
    "Returns:\n"
    "    `True` if the schema denotes the empty set, else `False`.";

const char algebra_is_subtype_of_doc[] =
    "is_subtype_of($self, other)\n--\n\n"
    "Whether every value of this schema is also a value of `other` \u2014 set\n"
    "inclusion, the subtyping relation.\n\n"
    "`other` is any schema spec or compiled validator. The decision is sound:\n"
    "`True` only when the inclusion provably holds (`bool` is a subtype of\n"
    "`int`, `list[bool]` of `list[int]`, a recursive schema of a wider one, a\n"
    "class of a base class). For the forms it cannot decide \u2014 an alternation of\n"
    "sequence shapes, or a leaf relation the oracle declines \u2014 it returns\n"
    "`False` rather than a relation it cannot justify. The decision is bounded by\n"
    "a fixed work budget, so on a deeply nested adversarial schema a `False` can\n"
    "mean \"not proven a subtype within the bound\"; a real schema decides far\n"
    "inside the bound.\n\n"
    "Args:\n"
    "    other: The candidate supertype, as a schema spec or validator.\n\n"
    "Returns:\n"
    "    `True` if this schema is a subtype of `other`, else `False`.";

const char algebra_is_equivalent_doc[] =
    "is_equivalent($self, other)\n--\n\n"
    "Whether this schema and `other` denote the same set \u2014 mutual inclusion.\n\n"
    "`other` is any schema spec or compiled validator. Sound, like\n"
    "`is_subtype_of`: `True` only when the two are provably equivalent,\n"
    "whatever their syntax (`bool | int` is equivalent to `int`). Bounded by the\n"
    "same work budget as `is_subtype_of`, so on a deeply nested adversarial\n"
    "schema a `False` can mean \"not proven equivalent within the bound\".\n\n"
    "Args:\n"
    "    other: The schema to compare, as a spec or validator.\n\n"
    "Returns:\n"
    "    `True` if the two schemas are equivalent, else `False`.";

const char algebra_open_doc[] =
    "open($self)\n--\n\n"
    "Open every record in the schema: undeclared keys are admitted throughout.\n\n"
    "Returns a new validator; this one is unchanged.\n\n"
    "Returns:\n"
    "    A validator whose every record admits keys beyond those declared.";

const char algebra_close_doc[] =
    "close($self)\n--\n\n"
    "Close every record in the schema: only declared keys are admitted\n"
    "throughout. The inverse of `open`.\n\n"
    "Returns a new validator; this one is unchanged.\n\n"
    "Returns:\n"
    "    A validator whose every record admits only its declared keys.";

const char algebra_simplify_doc[] =
    "simplify($self)\n--\n\n"
    "An equivalent validator reduced by the lattice laws.\n\n"
    "The result admits exactly the same values in a simpler form (flattened\n"
    "and deduplicated unions and intersections, identities applied,\n"
    "complements in negation-normal form). Returns a new validator; this one\n"
    "is unchanged.\n\n"
    "Returns:\n"
    "    A validator denoting the same set in negation-normal form.\n\n"
    "Raises:\n"
    "    ValueError: If negation-normal form expands the schema past the size\n"
    "        bound (distributing a complement over a wide union can grow the\n"
    "        node count); a schema built within the bounds can still exceed\n"
    "        it this way, and then `ValueError` is raised.";

}  // namespace quillmar::ext
