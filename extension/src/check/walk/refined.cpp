// The Refined rule: the base first, then each constraint in stored order.
#include <fmt/format.h>

#include "check/walk/check_tables.hpp"
#include "py/utf8_view.hpp"
#include "check/walk/walk.hpp"
#include "text.hpp"

namespace quillmar::ext {
namespace {

using core::Constraint;
using core::ConstraintKind;

template <class T>
int ordered(T value, T bound, int op) {
  switch (op) {
    case Py_GE: return value >= bound;
    case Py_GT: return value > bound;
    case Py_LE: return value <= bound;
    default: return value < bound;
  }
}

// value <op> bound and its truth; RichCompareBool has no identity shortcut
// for the ordering operators, so NaN bounds behave as Python says. Two exact
// compact ints, or two exact floats, compare as int and float themselves do,
// so they are compared here without the call.
int comparison_outcome(PyObject* value, PyObject* bound, int op) {
  PyTypeObject* type = Py_TYPE(value);
  if (type == Py_TYPE(bound)) {
    if (type == &PyLong_Type) {
      auto* v = reinterpret_cast<PyLongObject*>(value);
      auto* b = reinterpret_cast<PyLongObject*>(bound);
      if (PyUnstable_Long_IsCompact(v) && PyUnstable_Long_IsCompact(b)) {
        return ordered(PyUnstable_Long_CompactValue(v), PyUnstable_Long_CompactValue(b), op);
      }
      int value_overflow = 0;
      int bound_overflow = 0;
      const long long v64 = PyLong_AsLongLongAndOverflow(value, &value_overflow);
      const long long b64 = PyLong_AsLongLongAndOverflow(bound, &bound_overflow);
      if (value_overflow == 0 && bound_overflow == 0) return ordered(v64, b64, op);
    }
    if (type == &PyFloat_Type) return ordered(PyFloat_AS_DOUBLE(value), PyFloat_AS_DOUBLE(bound), op);
  }
  return PyObject_RichCompareBool(value, bound, op);
}

// 1 when value.__mod__(divisor) is falsy. The divisor's __rmod__ is never
// tried; NotImplemented means not a multiple without asking for its truth,
// which is deprecated.
int multiple_outcome(PyObject* value, PyObject* divisor) {
  PyRef remainder;
  // int.__mod__ and float.__mod__ cannot be replaced on these exact types,
  // and with these divisors the slot never falls back to __rmod__.
  bool plain = (PyLong_CheckExact(value) && PyLong_CheckExact(divisor)) ||
               (PyFloat_CheckExact(value) && (PyFloat_CheckExact(divisor) || PyLong_CheckExact(divisor)));
  if (plain) {
    remainder = PyRef::steal(PyNumber_Remainder(value, divisor));
  } else {
    PyRef method = PyRef::steal(PyObject_GetAttrString(value, "__mod__"));
    if (!method) return -1;
    remainder = PyRef::steal(PyObject_CallOneArg(method.get(), divisor));
  }
  if (!remainder) return -1;
  if (remainder.get() == Py_NotImplemented) return 0;
  int truth = PyObject_IsTrue(remainder.get());
  return truth < 0 ? -1 : !truth;
}

// "QualName: str(exception)", for the predicate_error text.
std::string exception_text(PyObject* exception) {
  std::string name;
  if (PyRef qualname = PyRef::steal(PyType_GetQualName(Py_TYPE(exception)))) {
    name = utf8_lossy(qualname.get());
  } else {
    PyErr_Clear();
    name = "<unknown>";
  }
  PyRef text = PyRef::steal(PyObject_Str(exception));
  if (!text) {
    PyErr_Clear();
    return name + ": <exception str() failed>";
  }
  return fmt::format("{}: {}", name, utf8_lossy(text.get()));
}

bool pattern_outcome(const Constraint& constraint, PyObject* value, const CheckTables& tables) {
  if (!PyUnicode_Check(value)) return false;
  std::optional<std::string_view> text = utf8_view(value);
  if (!text) return false;  // a lone surrogate cannot be matched
  return tables.text_matches(constraint, *text);
}

struct ConstraintCheck {
  PyObject* value;
  const Path& path;
  WalkContext ctx;
  ErrorList& errors;

  // Records the failure; the expected text is built only when it is shown.
  template <class Expected>
  bool reject(std::string_view code, Expected&& expected) {
    if (ctx.recording()) errors.push_back(make_error_item(code, expected(), value, path));
    return false;
  }

  bool compare(const Constraint& constraint, int op, std::string_view symbol, std::string_view code) {
    PyObject* bound = ctx.schema()->pool.at(constraint.bound_index());
    if (!bound) return false;
    if (fold_outcome(comparison_outcome(value, bound, op), *ctx.state)) return true;
    return reject(code, [&] { return fmt::format("{} {}", symbol, safe_repr(bound)); });
  }

  bool length(const Constraint& constraint, bool at_least) {
    Py_ssize_t size = PyObject_Size(value);
    bool ok = size >= 0 ? (at_least ? static_cast<std::uint64_t>(size) >= constraint.length()
                                    : static_cast<std::uint64_t>(size) <= constraint.length())
                        : fold_outcome(-1, *ctx.state);
    if (ok) return true;
    return reject(at_least ? "too_short" : "too_long", [&] {
      return fmt::format("length {} {}", at_least ? ">=" : "<=", constraint.length());
    });
  }

  bool multiple_of(const Constraint& constraint) {
    PyObject* divisor = ctx.schema()->pool.at(constraint.divisor_index());
    if (!divisor) return false;
    if (fold_outcome(multiple_outcome(value, divisor), *ctx.state)) return true;
    return reject("multiple_of", [&] { return fmt::format("a multiple of {}", safe_repr(divisor)); });
  }

  bool predicate(const Constraint& constraint) {
    PyObject* callable = ctx.schema()->pool.at(constraint.predicate_index());
    if (!callable) return false;
    PyRef result = PyRef::steal(PyObject_CallOneArg(callable, value));
    int truth = result ? PyObject_IsTrue(result.get()) : -1;
    result = PyRef();
    if (truth > 0) return true;
    if (truth == 0) return reject("predicate_failed", [] { return std::string("a passing predicate"); });
    PyRef exception = PyRef::steal(PyErr_GetRaisedException());
    if (exception && is_fatal_exception(exception.get())) {
      store_fatal_error(std::move(exception), *ctx.state);
      return false;
    }
    return reject("predicate_error", [&] {
      return fmt::format("a predicate that does not raise (raised {})",
                         exception ? exception_text(exception.get()) : std::string("<unknown>"));
    });
  }

  bool regex(const Constraint& constraint) {
    if (pattern_outcome(constraint, value, *ctx.tables())) return true;
    return reject("string_pattern_mismatch",
                  [&] { return fmt::format("a string matching {}", quoted_text(constraint.pattern_text)); });
  }

  bool run(const Constraint& constraint) {
    switch (constraint.kind) {
      case ConstraintKind::Ge:
        return compare(constraint, Py_GE, ">=", "greater_than_equal");
      case ConstraintKind::Gt:
        return compare(constraint, Py_GT, ">", "greater_than");
      case ConstraintKind::Le:
        return compare(constraint, Py_LE, "<=", "less_than_equal");
      case ConstraintKind::Lt:
        return compare(constraint, Py_LT, "<", "less_than");
      case ConstraintKind::MinLen:
        return length(constraint, true);
      case ConstraintKind::MaxLen:
        return length(constraint, false);
      case ConstraintKind::MultipleOf:
        return multiple_of(constraint);
      case ConstraintKind::Predicate:
        return predicate(constraint);
      case ConstraintKind::Regex:
        return regex(constraint);
    }
    return false;
  }
};

}  // namespace

bool check_constraint(const core::Constraint& constraint, PyObject* value, const Path& path, WalkContext ctx,
                      ErrorList& errors) {
  return ConstraintCheck{value, path, ctx, errors}.run(constraint);
}

// Out of line, in tail position: the constraints' locals stay off the frame
// that is live while the base walks the value.
[[gnu::noinline]] bool constraints_hold(const SchemaNode& node, PyObject* value, const Path& path, WalkContext ctx,
                                        ErrorList& errors) {
  // Held while Python code (predicates, comparisons) may drop other references to it.
  PyRef held = PyRef::borrow(value);
  bool all_ok = true;
  for (const Constraint& constraint : node.constraints) {
    // After a fatal exception the answer is settled; no further user code runs.
    if (ctx.state->fatal_seen) return false;
    if (!check_constraint(constraint, held.get(), path, ctx, errors)) {
      all_ok = false;
      if (ctx.stops_at_first_failure()) break;
    }
  }
  return all_ok;
}

bool walk_refined(const SchemaNode& node, PyObject* value, Path& path, WalkContext ctx, ErrorList& errors) {
  if (!walk(node.base(), value, path, ctx, errors)) return false;
  return constraints_hold(node, value, path, ctx, errors);
}

}  // namespace quillmar::ext
