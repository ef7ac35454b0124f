// The reporting walk's frames for lists, tuples, sets and frozensets.
#include "check/walk/report_frames.hpp"

namespace quillmar::ext {
namespace {

// After a failing item: the loop ends in the stopping modes, and in every
// mode once the check holds a fatal exception.
bool stops_here(WalkContext ctx) { return ctx.stops_at_first_failure() || ctx.state->fatal_seen; }

}  // namespace

Move SequenceFrame::start(ReportWalk& walk) {
  const WalkContext ctx = walk.ctx(mode);
  std::optional<ShapeView> read = shape_of(node->seq_pattern());
  if (!read) return Move::finish(false);
  shape = *read;
  is_list = node->seq_kind == core::SeqKind::List;
  if (is_list ? !PyList_Check(value) : !PyTuple_Check(value)) {
    push_error(is_list ? "list_type" : "tuple_type", is_list ? "list" : "tuple", value, walk.path(), ctx,
               walk.errors());
    return Move::finish(false);
  }
  size = Py_SIZE(value);
  if (!shape.admits_length(static_cast<std::size_t>(size))) {
    push_length_error(is_list ? "list_length" : "tuple_length", is_list ? "list" : "tuple", shape.prefix,
                      shape.tail != nullptr, value, walk.path(), ctx, walk.errors());
    return Move::finish(false);
  }
  if (size == 0) return Move::finish(true);
  PyObject* const* items = is_list ? reinterpret_cast<PyListObject*>(value)->ob_item
                                   : reinterpret_cast<PyTupleObject*>(value)->ob_item;
  next = plain_prefix(shape.prefix, shape.tail, ctx, items, size);
  return next_item(walk);
}

// A list may change under Python code run by the check: the loop re-reads
// its length and never follows it past the length it began with.
Move SequenceFrame::next_item(ReportWalk& walk) {
  for (; next < size; ++next) {
    PyObject* current;
    Py_ssize_t held = 0;
    if (is_list) {
      if (next >= PyList_GET_SIZE(value)) break;
#ifdef Py_GIL_DISABLED
      item = PyRef::steal(PyList_GetItemRef(value, next));
      if (!item) {
        PyErr_Clear();
        break;
      }
#else
      item = PyRef::borrow(PyList_GET_ITEM(value, next));
#endif
      current = item.get();
      held = 1;
    } else {
      current = PyTuple_GET_ITEM(value, next);
    }
    const SchemaNode* item_node = shape.at(static_cast<std::size_t>(next));
    if (item_node) {
      push_index_segment(walk.path(), static_cast<std::uint64_t>(next));
      const Move move = Move::walk_held(*item_node, current, held, mode);
      const std::optional<bool> leaf = walk.leaf_answer(move);
      if (!leaf) return move;
      walk.path().pop_back();
      if (!item_walked(walk, *leaf)) return Move::finish(false);
      continue;
    }
    if (!item_walked(walk, false)) return Move::finish(false);
  }
  return Move::finish(all_ok);
}

// After an item's walk: whether the loop goes on.
bool SequenceFrame::item_walked(ReportWalk& walk, bool child) {
  item = PyRef();
  if (child) return true;
  all_ok = false;
  return !stops_here(walk.ctx(mode));
}

Move SequenceFrame::resume(ReportWalk& walk, bool child) {
  walk.path().pop_back();
  if (!item_walked(walk, child)) return Move::finish(false);
  ++next;
  return next_item(walk);
}

Move SetFrame::start(ReportWalk& walk) {
  const bool frozen = node->kind == NodeKind::FrozenSet;
  // A frozenset is no set and a set no frozenset, subclasses aside.
  if (frozen ? !PyFrozenSet_Check(value) : !PySet_Check(value)) {
    push_error(frozen ? "frozen_set_type" : "set_type", frozen ? "frozenset" : "set", value, walk.path(),
               walk.ctx(mode), walk.errors());
    return Move::finish(false);
  }
  // The base iterator, so a subclass's __iter__ never runs; it raises
  // RuntimeError when the set changes size, which ends the whole check.
  iterator = PyRef::steal(PySet_Type.tp_iter(value));
  if (!iterator) {
    abort_check(walk.state());
    return Move::finish(false);
  }
  return next_item(walk);
}

Move SetFrame::next_item(ReportWalk& walk) {
  item = PyRef::steal(PyIter_Next(iterator.get()));
  if (!item) return end(walk);
  return Move::walk_held(node->element(), item.get(), 1, mode);
}

Move SetFrame::resume(ReportWalk& walk, bool child) {
  item = PyRef();
  if (!child) {
    all_ok = false;
    if (stops_here(walk.ctx(mode))) return end(walk);
  }
  return next_item(walk);
}

Move SetFrame::end(ReportWalk& walk) {
  if (PyErr_Occurred()) {
    abort_check(walk.state());
    return Move::finish(false);
  }
  return Move::finish(all_ok);
}

}  // namespace quillmar::ext
