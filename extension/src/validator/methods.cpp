// Construction, the checking methods and the protocol slots of Validator.
#include <new>

#include "build/compile.hpp"
#include "check/check.hpp"
#include "py/args.hpp"
#include "py/guarded.hpp"
#include "quillmar/core/hash.hpp"
#include "validator/json_methods.hpp"
#include "validator/algebra.hpp"
#include "validator/slots.hpp"
#include "validator/validator_type.hpp"

namespace quillmar::ext {
namespace {

constexpr const char* schema_param[] = {"schema"};
constexpr const char* obj_param[] = {"obj"};
constexpr const char* memo_param[] = {"_memo"};
constexpr const char* fail_fast_param[] = {"fail_fast"};

const Signature new_signature{"Validator", "__new__", schema_param, {}, 1};
const Signature validate_signature{"Validator", "validate", obj_param, fail_fast_param, 1};
const Signature is_valid_signature{"Validator", "is_valid", obj_param, {}, 1};
const Signature ensure_signature{"Validator", "ensure", obj_param, {}, 1};
const Signature deepcopy_signature{"Validator", "__deepcopy__", memo_param, {}, 1};

Result<CompiledSchema> compile_schema(PyObject* annotation) {
  ConstantPoolBuilder builder;
  std::vector<SchemaNode> definitions;
  auto root = compile_annotation(annotation, builder, definitions);
  QUILLMAR_RETURN_IF_FAILED(root);
  return finalize_schema(std::move(*root), std::move(builder).take_pool(), std::move(definitions));
}

Result<PyRef> none() { return PyRef::borrow(Py_None); }

Result<PyRef> validate(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
  PyObject* parsed[2];
  QUILLMAR_TRY(parse_fastcall(validate_signature, args, nargs, kwnames, parsed));
  auto fail_fast = read_fail_fast(parsed[1]);
  QUILLMAR_RETURN_IF_FAILED(fail_fast);
  QUILLMAR_TRY(check_or_raise(schema_of(self), parsed[0], *fail_fast));
  return none();
}

Result<PyRef> is_valid(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
  PyObject* parsed[1];
  QUILLMAR_TRY(parse_fastcall(is_valid_signature, args, nargs, kwnames, parsed));
  auto member = check_membership(schema_of(self), parsed[0]);
  QUILLMAR_RETURN_IF_FAILED(member);
  return PyRef::borrow(*member ? Py_True : Py_False);
}

Result<PyRef> ensure(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
  PyObject* parsed[1];
  QUILLMAR_TRY(parse_fastcall(ensure_signature, args, nargs, kwnames, parsed));
  QUILLMAR_TRY(check_or_raise(schema_of(self), parsed[0], false));
  return PyRef::borrow(parsed[0]);
}

Result<PyRef> deepcopy(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
  PyObject* parsed[1];
  QUILLMAR_TRY(parse_fastcall(deepcopy_signature, args, nargs, kwnames, parsed));
  return wrap_validator(clone_schema(schema_of(self)));
}

bool validators_equal(const CompiledSchema& a, const CompiledSchema& b) {
  if (!core::nodes_equal(a.root, b.root)) return false;
  if (a.definitions.size() != b.definitions.size()) return false;
  for (std::size_t i = 0; i < a.definitions.size(); ++i) {
    if (!core::nodes_equal(a.definitions[i], b.definitions[i])) return false;
  }
  return pools_equal(a.pool, b.pool);
}

using FastMethod = Result<PyRef> (*)(PyObject*, PyObject* const*, Py_ssize_t, PyObject*);

template <FastMethod method>
PyObject* fast_entry(PyObject* self, PyObject* const* args, Py_ssize_t nargsf, PyObject* kwnames) {
  return guarded([&] { return to_python(method(self, args, PyVectorcall_NARGS(nargsf), kwnames)); });
}

PyObject* copy_method(PyObject* self, PyObject*) {
  return guarded([&] { return to_python(wrap_validator(clone_schema(schema_of(self)))); });
}

#define QM_FAST(fn) reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(fast_entry<fn>))
#define QM_FAST_RAW(fn) reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(fn))

PyDoc_STRVAR(validate_doc,
             "validate($self, obj, *, fail_fast=False)\n--\n\n"
             "Validate `obj`, raising `ValidationError` if it is not a member of the\n"
             "schema's set. Check-only: `obj` is never copied or coerced.\n\n"
             "Args:\n"
             "    obj: The object to check.\n"
             "    fail_fast: Stop at the first failure instead of aggregating every\n"
             "        independent failure into the error.\n\n"
             "Returns:\n"
             "    `None` if `obj` is a member of the schema's set.\n\n"
             "Raises:\n"
             "    ValidationError: If `obj` is not a member; its `errors` lists each\n"
             "        failure with a code and a path.");

PyDoc_STRVAR(is_valid_doc,
             "is_valid($self, obj)\n--\n\n"
             "Whether `obj` is a member of the schema's set.\n\n"
             "Check-only: it does not build an error and returns as soon as membership\n"
             "is decided. It raises only if a comparison the membership test performs\n"
             "raises a fatal interpreter signal (for example a KeyboardInterrupt during\n"
             "a long check); an ordinary exception in a comparison is folded to a\n"
             "non-member, as the membership contract requires.\n\n"
             "Args:\n"
             "    obj: The object to check.\n\n"
             "Returns:\n"
             "    `True` if `obj` is a member of the schema's set, else `False`.\n\n"
             "Raises:\n"
             "    BaseException: If a membership comparison raises a fatal interpreter\n"
             "        signal, it propagates rather than being read as a non-member.");

PyDoc_STRVAR(ensure_doc,
             "ensure($self, obj)\n--\n\n"
             "Validate `obj` and return it unchanged.\n\n"
             "The value-returning check. Because validation is a membership test rather\n"
             "than a coercion, the returned object is exactly the input; `ensure` exists\n"
             "so code that wants the checked value back reads distinctly from the\n"
             "boolean `is_valid`.\n\n"
             "Args:\n"
             "    obj: The object to check.\n\n"
             "Returns:\n"
             "    `obj` unchanged.\n\n"
             "Raises:\n"
             "    ValidationError: If `obj` is not a member of the schema's set.");

PyDoc_STRVAR(copy_doc,
             "__copy__($self)\n--\n\n"
             "Return an equivalent validator. The validator is immutable, so the copy\n"
             "shares the pooled constants, classes, and predicates rather than\n"
             "duplicating them.");

PyDoc_STRVAR(deepcopy_doc,
             "__deepcopy__($self, _memo)\n--\n\n"
             "Deep-copy to an equivalent validator. Since the validator is immutable,\n"
             "this shares the pool like `__copy__`; the memo is unused.");

}  // namespace

PyMethodDef validator_methods[] = {
    {"validate", QM_FAST(validate), METH_FASTCALL | METH_KEYWORDS, validate_doc},
    {"is_valid", QM_FAST(is_valid), METH_FASTCALL | METH_KEYWORDS, is_valid_doc},
    {"ensure", QM_FAST(ensure), METH_FASTCALL | METH_KEYWORDS, ensure_doc},
    {"validate_json", QM_FAST(validate_json), METH_FASTCALL | METH_KEYWORDS, validate_json_doc},
    {"load", QM_FAST(load), METH_FASTCALL | METH_KEYWORDS, load_doc},
    {"is_valid_json", QM_FAST(is_valid_json), METH_FASTCALL | METH_KEYWORDS, is_valid_json_doc},
    {"is_empty", algebra_is_empty, METH_NOARGS, algebra_is_empty_doc},
    {"is_subtype_of", QM_FAST_RAW(algebra_is_subtype_of), METH_FASTCALL | METH_KEYWORDS, algebra_is_subtype_of_doc},
    {"is_equivalent", QM_FAST_RAW(algebra_is_equivalent), METH_FASTCALL | METH_KEYWORDS, algebra_is_equivalent_doc},
    {"__copy__", copy_method, METH_NOARGS, copy_doc},
    {"__deepcopy__", QM_FAST(deepcopy), METH_FASTCALL | METH_KEYWORDS, deepcopy_doc},
    {"open", algebra_open, METH_NOARGS, algebra_open_doc},
    {"close", algebra_close, METH_NOARGS, algebra_close_doc},
    {"simplify", algebra_simplify, METH_NOARGS, algebra_simplify_doc},
    {nullptr, nullptr, 0, nullptr},
};

PyObject* validator_new(PyTypeObject* type, PyObject* args, PyObject* kwargs) {
  return guarded([&]() -> PyObject* {
    PyObject* parsed[1];
    if (auto ok = parse_tuple_dict(new_signature, args, kwargs, parsed); !ok) {
      std::move(ok.error()).raise();
      return nullptr;
    }
    auto schema = compile_schema(parsed[0]);
    if (!schema) {
      std::move(schema.error()).raise();
      return nullptr;
    }
    return to_python(wrap_validator_as(type, std::move(*schema)));
  });
}

int validator_contains(PyObject* self, PyObject* value) {
  return guarded([&]() -> int {
    auto member = check_membership(schema_of(self), value);
    if (!member) {
      std::move(member.error()).raise();
      return -1;
    }
    return *member ? 1 : 0;
  });
}

// The pool is left out, so equal validators (whose pools compare equal
// item by item) always hash alike.
Py_hash_t validator_hash(PyObject* self) {
  return guarded([&]() -> Py_hash_t {
    const CompiledSchema& schema = schema_of(self);
    core::SipHasher13 hasher;
    core::hash_node(schema.root, hasher);
    hasher.write_word(schema.definitions.size());
    for (const SchemaNode& body : schema.definitions) core::hash_node(body, hasher);
    auto hash = static_cast<Py_hash_t>(hasher.finish());
    // -1 is the interpreter's error signal.
    return hash == -1 ? -2 : hash;
  });
}

PyObject* validator_richcompare(PyObject* self, PyObject* other, int op) {
  return guarded([&]() -> PyObject* {
    if (op == Py_NE) {
      PyRef equal = PyRef::steal(PyObject_RichCompare(self, other, Py_EQ));
      if (!equal) return nullptr;
      int truth = PyObject_IsTrue(equal.get());
      if (truth < 0) return nullptr;
      return PyBool_FromLong(!truth);
    }
    if (op != Py_EQ) Py_RETURN_NOTIMPLEMENTED;
    const ValidatorObject* left = downcast_validator(self);
    const ValidatorObject* right = downcast_validator(other);
    if (!left || !right) Py_RETURN_FALSE;
    return PyBool_FromLong(validators_equal(left->schema, right->schema));
  });
}

}  // namespace quillmar::ext
