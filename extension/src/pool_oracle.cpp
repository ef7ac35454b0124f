#include "pool_oracle.hpp"

#include <cmath>

#include "check/walk/check_tables.hpp"
#include "check/walk/walk.hpp"
#include "class_inclusion.hpp"
#include "py/once.hpp"

namespace quillmar::ext {
namespace {

using core::ConstOrder;
using core::Verdict;

// Leaves the interpreter as it was found: whatever a Python call left pending
// is dropped.
struct ClearOnExit {
  ~ClearOnExit() {
    if (PyErr_Occurred()) PyErr_Clear();
  }
};

// 1 true, 0 false, -1 raised.
int compare_true(PyObject* x, PyObject* y, int op) {
  PyObject* result = PyObject_RichCompare(x, y, op);
  if (!result) return -1;
  int truth = PyObject_IsTrue(result);
  Py_DECREF(result);
  return truth;
}

ConstOrder order_of(PyObject* x, PyObject* y) {
  static constexpr std::pair<int, ConstOrder> tries[] = {
      {Py_EQ, ConstOrder::Equal}, {Py_LT, ConstOrder::Less}, {Py_GT, ConstOrder::Greater}};
  for (auto [op, answer] : tries) {
    int truth = compare_true(x, y, op);
    if (truth < 0) return ConstOrder::Unknown;
    if (truth > 0) return answer;
  }
  return ConstOrder::Unknown;
}

// A Literal admits every value of exactly its type equal to it, but the walk
// tests only the literal object. That is the whole set only where equal
// values of that type are indistinguishable: not for 0.0 and -0.0, nor for a
// type whose equality is its own business.
bool literal_stands_for_its_set(PyObject* literal) {
  PyTypeObject* type = Py_TYPE(literal);
  if (type == &PyBool_Type || type == &PyLong_Type || type == &PyUnicode_Type || type == &PyBytes_Type) return true;
  if (type == &PyFloat_Type) {
    double value = PyFloat_AS_DOUBLE(literal);
    return value != 0.0 && !std::isnan(value);
  }
  return false;
}

// The least or greatest integer of a bound: floor or ceil, then one step
// inward for a strict bound. nullptr with an exception pending on failure.
PyObject* integer_edge(PyObject* rounding, PyObject* bound, bool strict, const char* step) {
  PyObject* rounded = PyObject_CallOneArg(rounding, bound);
  if (!rounded || !strict) return rounded;
  PyObject* method = PyObject_GetAttrString(rounded, step);
  Py_DECREF(rounded);
  if (!method) return nullptr;
  PyObject* one = PyLong_FromLong(1);
  if (!one) {
    Py_DECREF(method);
    return nullptr;
  }
  PyObject* moved = PyObject_CallOneArg(method, one);
  Py_DECREF(one);
  Py_DECREF(method);
  // A method that declines gives no integer at all.
  if (moved == Py_NotImplemented) {
    Py_DECREF(moved);
    PyErr_SetString(PyExc_TypeError, "the bound has no integer step");
    return nullptr;
  }
  return moved;
}

}  // namespace

Result<const MathCache*> math_cache() {
  static OnceCell<MathCache> cell;
  return cell.get_or_init([]() -> Result<MathCache> {
    PyObject* math = PyImport_ImportModule("math");
    if (!math) return fetched();
    PyObject* floor = PyObject_GetAttrString(math, "floor");
    if (!floor) {
      Py_DECREF(math);
      return fetched();
    }
    PyObject* ceil = PyObject_GetAttrString(math, "ceil");
    Py_DECREF(math);
    if (!ceil) {
      Py_DECREF(floor);
      return fetched();
    }
    return MathCache{floor, ceil};
  });
}

Verdict PoolOracle::leaf_subtype(const SchemaNode& sub, const SchemaNode& sup) {
  ClearOnExit clear;
  switch (sub.kind) {
    case NodeKind::Instance:
      return instance_subtype(sub, sup);
    case NodeKind::Literal:
      return literal_subtype(sub, sup);
    case NodeKind::Anything:
    case NodeKind::Any:
    case NodeKind::Nothing:
    case NodeKind::None:
    case NodeKind::Bool:
    case NodeKind::Int:
    case NodeKind::Float:
    case NodeKind::Str:
    case NodeKind::Bytes:
    case NodeKind::Sequence:
    case NodeKind::Set:
    case NodeKind::FrozenSet:
    case NodeKind::Record:
    case NodeKind::Union:
    case NodeKind::Intersection:
    case NodeKind::Complement:
    case NodeKind::Object:
    case NodeKind::Refined:
    case NodeKind::Ref:
    case NodeKind::Placeholder:
      return Verdict::Unknown;
  }
  return Verdict::Unknown;
}

Verdict PoolOracle::instance_subtype(const SchemaNode& sub, const SchemaNode& sup) {
  if (sup.kind != NodeKind::Instance) return Verdict::Unknown;
  PyObject* sub_class = schema_.pool.at(sub.class_index());
  PyObject* sup_class = schema_.pool.at(sup.class_index());
  if (!sub_class || !sup_class) return Verdict::Unknown;
  if (!PyType_Check(sub_class)) return Verdict::No;
  if (!PyType_Check(sup_class)) return Verdict::Unknown;
  PyRef held_sub = PyRef::borrow(sub_class);
  PyRef held_sup = PyRef::borrow(sup_class);
  return class_inclusion(reinterpret_cast<PyTypeObject*>(sub_class), reinterpret_cast<PyTypeObject*>(sup_class));
}

Verdict PoolOracle::literal_subtype(const SchemaNode& sub, const SchemaNode& sup) {
  PyObject* literal = schema_.pool.at(sub.value_index());
  if (!literal) return Verdict::Unknown;
  if (!literal_stands_for_its_set(literal)) return Verdict::Unknown;
  PyRef held = PyRef::borrow(literal);
  // No precomputed tables: the walk answers the same without them.
  const CheckTables no_tables{};
  CheckState state(schema_, &no_tables);
  Path path;
  ErrorList errors;
  bool member = walk(sup, literal, path, WalkContext{&state, WalkMode::BooleanOnly}, errors);
  // A fatal exception is dropped here, never raised.
  if (state.fatal_seen || state.first_fatal) return Verdict::No;
  return member ? Verdict::Yes : Verdict::No;
}

ConstOrder PoolOracle::compare_constants(std::uint64_t a, std::uint64_t b) {
  ClearOnExit clear;
  PyObject* x = schema_.pool.at(a);
  PyObject* y = schema_.pool.at(b);
  if (!x || !y) return ConstOrder::Unknown;
  PyRef held_x = PyRef::borrow(x);
  PyRef held_y = PyRef::borrow(y);
  return order_of(x, y);
}

Verdict PoolOracle::no_integer_between(std::uint64_t lo, bool lo_strict, std::uint64_t hi, bool hi_strict) {
  ClearOnExit clear;
  auto cache = math_cache();
  if (!cache) return Verdict::Unknown;
  PyObject* lo_bound = schema_.pool.at(lo);
  PyObject* hi_bound = schema_.pool.at(hi);
  if (!lo_bound || !hi_bound) return Verdict::Unknown;
  PyRef held_lo = PyRef::borrow(lo_bound);
  PyRef held_hi = PyRef::borrow(hi_bound);
  const MathCache& math = **cache;
  PyRef least = PyRef::steal(integer_edge(lo_strict ? math.floor : math.ceil, lo_bound, lo_strict, "__add__"));
  if (!least) return Verdict::Unknown;
  PyRef greatest = PyRef::steal(integer_edge(hi_strict ? math.ceil : math.floor, hi_bound, hi_strict, "__sub__"));
  if (!greatest) return Verdict::Unknown;
  switch (order_of(least.get(), greatest.get())) {
    case ConstOrder::Greater:
      return Verdict::Yes;
    case ConstOrder::Equal:
    case ConstOrder::Less:
      return Verdict::No;
    case ConstOrder::Unknown:
      return Verdict::Unknown;
  }
  return Verdict::Unknown;
}

}  // namespace quillmar::ext
