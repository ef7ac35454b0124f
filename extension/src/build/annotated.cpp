// Annotated[T, m1, m2, ...]: T's node refined by the constraints read, by
// attribute, from each metadata item.
#include "build/compile.hpp"
#include "build/forms.hpp"
#include "py/utf8_view.hpp"
#include "regex/pattern.hpp"

#include <optional>

namespace quillmar::ext {
namespace {

using core::Constraint;
using Node = SchemaNode;

// getattr without default; any exception means the attribute is absent.
PyRef read_attribute(PyObject* item, const char* name) {
  PyObject* value = PyObject_GetAttrString(item, name);
  if (!value) PyErr_Clear();
  return PyRef::steal(value);
}

PyRef read_present(PyObject* item, const char* name) {
  PyRef value = read_attribute(item, name);
  if (value && value.get() == Py_None) return PyRef();
  return value;
}

// The pattern's text, or nothing when it is not a str with a UTF-8 form.
std::optional<std::string_view> pattern_text(PyObject* value) {
  if (!PyUnicode_Check(value)) return std::nullopt;
  return utf8_view(value);
}

// A count that fits 64 bits unsigned, through __index__ for non-ints;
// anything else is ignored.
std::optional<std::uint64_t> length_of(PyObject* value) {
  PyRef index = PyLong_Check(value) ? PyRef::borrow(value) : PyRef::steal(PyNumber_Index(value));
  if (!index) {
    PyErr_Clear();
    return std::nullopt;
  }
  unsigned long long length = PyLong_AsUnsignedLongLong(index.get());
  if (length == static_cast<unsigned long long>(-1) && PyErr_Occurred()) {
    PyErr_Clear();
    return std::nullopt;
  }
  return static_cast<std::uint64_t>(length);
}

// An error of the comparison or of its truth counts as nonzero.
bool equals_zero(PyObject* value) {
  PyRef zero = PyRef::steal(PyLong_FromLong(0));
  if (!zero) {
    PyErr_Clear();
    return false;
  }
  PyRef equal = PyRef::steal(PyObject_RichCompare(value, zero.get(), Py_EQ));
  if (!equal) {
    PyErr_Clear();
    return false;
  }
  int truth = PyObject_IsTrue(equal.get());
  if (truth < 0) PyErr_Clear();
  return truth == 1;
}

// Appends what one item yields, in attribute order.
Result<void> read_item(PyObject* item, ConstantPoolBuilder& builder, std::vector<Constraint>& constraints) {
  if (PyRef pattern = read_attribute(item, "pattern")) {
    if (auto text = pattern_text(pattern.get())) {
      // Compiled only to test it; the walk compiles its own.
      auto compiled = compile_pattern(*text);
      QUILLMAR_RETURN_IF_FAILED(compiled);
      constraints.push_back(Constraint::regex(std::string(*text)));
      return {};
    }
  }
  if (PyRef bound = read_present(item, "ge")) constraints.push_back(Constraint::ge(builder.intern_constant(bound.get())));
  if (PyRef bound = read_present(item, "gt")) constraints.push_back(Constraint::gt(builder.intern_constant(bound.get())));
  if (PyRef bound = read_present(item, "le")) constraints.push_back(Constraint::le(builder.intern_constant(bound.get())));
  if (PyRef bound = read_present(item, "lt")) constraints.push_back(Constraint::lt(builder.intern_constant(bound.get())));
  if (PyRef min_length = read_attribute(item, "min_length")) {
    if (auto length = length_of(min_length.get())) constraints.push_back(Constraint::min_len(*length));
  }
  if (PyRef max_length = read_present(item, "max_length")) {
    if (auto length = length_of(max_length.get())) constraints.push_back(Constraint::max_len(*length));
  }
  if (PyRef divisor = read_present(item, "multiple_of")) {
    if (equals_zero(divisor.get())) {
      return fail(PyExc_ValueError,
                  "MultipleOf(0) is not a valid constraint: no value is a multiple of zero. Use a nonzero divisor.");
    }
    constraints.push_back(Constraint::multiple_of(builder.intern_constant(divisor.get())));
  }
  // A callable item is its own predicate, whatever its "func" holds: a
  // functools.partial keeps its bound arguments, a wrapper its own logic.
  if (PyCallable_Check(item)) {
    constraints.push_back(Constraint::predicate(builder.intern_constant(item)));
    return {};
  }
  if (PyRef func = read_attribute(item, "func"); func && PyCallable_Check(func.get())) {
    constraints.push_back(Constraint::predicate(builder.intern_constant(func.get())));
  }
  return {};
}

// The constraints of every metadata item, refining the compiled base in
// place; out of line, so that none of it sits in a nesting level's frame.
[[gnu::noinline]] Result<void> refine_by_metadata(PyObject* metadata, Node& base, ConstantPoolBuilder& builder) {
  std::vector<Constraint> constraints;
  const Py_ssize_t count = PyTuple_GET_SIZE(metadata);
  for (Py_ssize_t i = 0; i < count; ++i) {
    // Held: reading an attribute runs Python code.
    PyRef item = PyRef::borrow(PyTuple_GET_ITEM(metadata, i));
    auto read = read_item(item.get(), builder, constraints);
    QUILLMAR_RETURN_IF_FAILED(read);
  }
  if (!constraints.empty()) base = Node::refined(std::move(base), std::move(constraints));
  return {};
}

}  // namespace

Result<void> compile_annotated(PyObject* origin, PyObject* metadata, SchemaNode& out, ConstantPoolBuilder& builder,
                               std::vector<SchemaNode>& definitions) {
  if (auto base = compile_into(origin, out, builder, definitions); !base) return base;
  return refine_by_metadata(metadata, out, builder);
}

}  // namespace quillmar::ext
