// Rules for the kinds that test a value directly: the type kinds, literals,
// lists and tuples, sets and frozensets, and instances.
#include <fmt/format.h>

#include <array>
#include <optional>
#include <string_view>

#include "check/walk/check_tables.hpp"
#include "check/walk/plain_types.hpp"
#include "check/walk/sequence_shape.hpp"
#include "check/walk/walk.hpp"
#include "text.hpp"

namespace quillmar::ext {
namespace {

// Same exact type, then Python == and its truth. No identity shortcut, so a
// NaN literal matches nothing.
int literal_outcome(PyObject* value, PyObject* literal) {
  if (Py_TYPE(value) != Py_TYPE(literal)) return 0;
  PyObject* result = PyObject_RichCompare(value, literal, Py_EQ);
  if (!result) return -1;
  int truth = PyObject_IsTrue(result);
  Py_DECREF(result);
  return truth;
}

// held: the references the container's walk holds to the item.
bool walk_item(const ShapeView& shape, std::uint64_t i, PyObject* item, Py_ssize_t held, Path& path,
               WalkContext ctx, ErrorList& errors) {
  const SchemaNode* node = shape.at(i);
  if (!node) return false;
  if (is_shared_container(item, held)) return walk_shared_item(*node, item, path, ctx, errors);
  return walk_fast(*node, item, path, ctx, errors);
}

// The position of the first item that fails a plain type, or n. The type is
// a template argument so that each loop is a bare type test per item; the
// test reads only the type, so no Python code changes the container or drops
// the item meanwhile.
template <PlainType Type>
Py_ssize_t first_mismatch(PyObject* const* items, Py_ssize_t n) {
  for (Py_ssize_t i = 0; i < n; ++i) {
    if (!has_plain_type(Type, items[i])) return i;
  }
  return n;
}

Py_ssize_t first_type_mismatch(PlainType type, PyObject* const* items, Py_ssize_t n) {
  switch (type) {
    case PlainType::Anything:
      return n;
    case PlainType::Nothing:
      return 0;
    case PlainType::None:
      return first_mismatch<PlainType::None>(items, n);
    case PlainType::Bool:
      return first_mismatch<PlainType::Bool>(items, n);
    case PlainType::Int:
      return first_mismatch<PlainType::Int>(items, n);
    case PlainType::Float:
      return first_mismatch<PlainType::Float>(items, n);
    case PlainType::Str:
      return first_mismatch<PlainType::Str>(items, n);
    case PlainType::Bytes:
      return first_mismatch<PlainType::Bytes>(items, n);
  }
  return 0;
}

// A str refined only by patterns that all have automata: its items are
// decided without Python code. The position of the first item the scan
// cannot pass (a mismatch, or text not stored as compact ASCII), or n.
Py_ssize_t first_pattern_mismatch(const SchemaNode& refined, const CheckTables& tables, PyObject* const* items,
                                  Py_ssize_t n) {
  constexpr std::size_t MAX_SCANNED = 4;
  if (refined.base().kind != NodeKind::Str || refined.constraints.size() > MAX_SCANNED) return 0;
  std::array<const PatternDfa*, MAX_SCANNED> dfas{};
  const std::size_t count = refined.constraints.size();
  for (std::size_t k = 0; k < count; ++k) {
    const core::Constraint& constraint = refined.constraints[k];
    if (constraint.kind != core::ConstraintKind::Regex) return 0;
    const PatternMatcher* matcher = tables.matcher(constraint);
    if (!matcher || !matcher->dfa) return 0;
    dfas[k] = &*matcher->dfa;
  }
  for (Py_ssize_t i = 0; i < n; ++i) {
    PyObject* item = items[i];
    if (!PyUnicode_CheckExact(item) || !PyUnicode_IS_COMPACT_ASCII(item)) return i;
    const std::string_view text(static_cast<const char*>(PyUnicode_DATA(item)),
                                static_cast<std::size_t>(PyUnicode_GET_LENGTH(item)));
    for (std::size_t k = 0; k < count; ++k) {
      if (!dfas[k]->matches(text)) return i;
    }
  }
  return n;
}

// Where the general loop must take over: past the leading run of items that
// a homogeneous sequence passes without running Python code (a plain type, or
// a str under pattern automata). The general loop walks the rest in full.
}  // namespace

[[gnu::noinline]] Py_ssize_t plain_prefix(std::size_t prefix, const SchemaNode* tail_node, WalkContext ctx,
                                           PyObject* const* items, Py_ssize_t n) {
#ifdef Py_GIL_DISABLED
  // Another thread may change a list under the scan; the general loop holds each item.
  (void)prefix;
  (void)tail_node;
  (void)ctx;
  (void)items;
  (void)n;
  return 0;
#else
  if (prefix != 0 || !tail_node) return 0;
  const SchemaNode& tail = *tail_node;
  if (std::optional<PlainType> type = plain_type(tail.kind)) return first_type_mismatch(*type, items, n);
  if (tail.kind == NodeKind::Refined && ctx.tables()) {
    return first_pattern_mismatch(tail, *ctx.tables(), items, n);
  }
  return 0;
#endif
}

namespace {

// A list may change under Python code run by the check: the loop re-reads its
// length and never follows it past n.
bool walk_list_items(const ShapeView& shape, PyObject* list, Py_ssize_t n, Path& path, WalkContext ctx,
                     ErrorList& errors) {
  Py_ssize_t start = plain_prefix(shape.prefix, shape.tail, ctx, reinterpret_cast<PyListObject*>(list)->ob_item, n);
  if (start == n) return true;
  for (Py_ssize_t i = start; i < n && i < PyList_GET_SIZE(list); ++i) {
#ifdef Py_GIL_DISABLED
    PyRef item = PyRef::steal(PyList_GetItemRef(list, i));
    if (!item) {
      PyErr_Clear();
      break;
    }
#else
    PyRef item = PyRef::borrow(PyList_GET_ITEM(list, i));
#endif
    if (!walk_item(shape, static_cast<std::uint64_t>(i), item.get(), 1, path, ctx, errors)) return false;
  }
  return true;
}

bool walk_tuple_items(const ShapeView& shape, PyObject* tuple, Py_ssize_t n, Path& path, WalkContext ctx,
                      ErrorList& errors) {
  Py_ssize_t start = plain_prefix(shape.prefix, shape.tail, ctx, reinterpret_cast<PyTupleObject*>(tuple)->ob_item, n);
  if (start == n) return true;
  for (Py_ssize_t i = start; i < n; ++i) {
    if (!walk_item(shape, static_cast<std::uint64_t>(i), PyTuple_GET_ITEM(tuple, i), 0, path, ctx, errors)) {
      return false;
    }
  }
  return true;
}

}  // namespace

bool walk_type_kind(const SchemaNode& node, PyObject* value, Path& path, WalkContext ctx, ErrorList& errors) {
  const bool held = has_plain_type(plain_type(node.kind).value_or(PlainType::Nothing), value);
  return push_kind_error(held, node, value, path, ctx, errors);
}

bool walk_literal(const SchemaNode& node, PyObject* value, Path& path, WalkContext ctx, ErrorList& errors) {
  PyObject* literal = ctx.schema()->pool.at(node.value_index());
  if (!literal) return false;
  PyRef held = PyRef::borrow(literal);
  if (fold_outcome(literal_outcome(value, literal), *ctx.state)) return true;
  if (ctx.recording()) {
    errors.push_back(make_error_item("literal_error", fmt::format("the literal {}", safe_repr(literal)), value, path));
  }
  return false;
}

bool walk_sequence(const SchemaNode& node, PyObject* value, Path& path, WalkContext ctx, ErrorList& errors) {
  std::optional<ShapeView> shape = shape_of(node.seq_pattern());
  if (!shape) return false;
  bool is_list = node.seq_kind == core::SeqKind::List;
  if (is_list ? !PyList_Check(value) : !PyTuple_Check(value)) return false;
  Py_ssize_t n = Py_SIZE(value);
  if (!shape->admits_length(static_cast<std::size_t>(n))) return false;
  if (n == 0) return true;
  return is_list ? walk_list_items(*shape, value, n, path, ctx, errors)
                 : walk_tuple_items(*shape, value, n, path, ctx, errors);
}

bool walk_set(const SchemaNode& node, PyObject* value, Path& path, WalkContext ctx, ErrorList& errors) {
  bool frozen = node.kind == NodeKind::FrozenSet;
  // A frozenset is no set and a set no frozenset, subclasses aside.
  if (frozen ? !PyFrozenSet_Check(value) : !PySet_Check(value)) return false;
  // The base iterator, so a subclass's __iter__ never runs; it raises
  // RuntimeError when the set changes size, which ends the whole check.
  PyRef iterator = PyRef::steal(PySet_Type.tp_iter(value));
  if (!iterator) {
    abort_check(*ctx.state);
    return false;
  }
  bool all_ok = true;
  while (PyRef item = PyRef::steal(PyIter_Next(iterator.get()))) {
    if (!walk_held_item(node.element(), item.get(), 1, path, ctx, errors)) {
      all_ok = false;
      break;
    }
  }
  if (PyErr_Occurred()) {
    abort_check(*ctx.state);
    return false;
  }
  return all_ok;
}

bool walk_instance(const SchemaNode& node, PyObject* value, Path& path, WalkContext ctx, ErrorList& errors) {
  PyObject* cls = ctx.schema()->pool.at(node.class_index());
  if (!cls) return false;
  PyRef held = PyRef::borrow(cls);
  if (fold_outcome(PyObject_IsInstance(value, cls), *ctx.state)) return true;
  if (ctx.recording()) errors.push_back(make_error_item("instance_type", class_name_text(cls), value, path));
  return false;
}

}  // namespace quillmar::ext
