// The reporting walk's frames for records and objects.
#include <fmt/format.h>

#include <algorithm>

#include "check/walk/record_keys.hpp"
#include "check/walk/report_frames.hpp"
#include "text.hpp"

namespace quillmar::ext {
namespace {

using core::ExtrasPair;
using core::RecordField;

// str() of a key as the text of a path segment: turned into text as safe_repr
// turns a repr, but whole. When str() raises: safe_repr of the key where
// extras pairs exist, the empty text for a closed record.
std::string undeclared_key_text(PyObject* key, bool has_extras) {
  PyRef text = PyRef::steal(PyObject_Str(key));
  if (!text) {
    PyErr_Clear();
    return has_extras ? safe_repr(key) : std::string();
  }
  // A str subclass shows through its own str(), with the value texts' fallbacks.
  return shown_text(text.get());
}

void push_missing_key(const Path& path, const std::string& key, ErrorList& errors) {
  errors.push_back(
      make_keyed_error_item(path, key, "missing_key", fmt::format("required key {}", quoted_text(key)), "missing"));
}

void push_undeclared_key_segment(Path& path, PyObject* key) {
  path.push_back(PathSegment::named(truncate_text(undeclared_key_text(key, true), KEY_TEXT_MAX_CHARS)));
}

void push_extra_forbidden(const Path& path, PyObject* key, ErrorList& errors) {
  std::string text = undeclared_key_text(key, false);
  std::string shown = quoted_text(text);
  errors.push_back(
      make_keyed_error_item(path, std::move(text), "extra_forbidden", "no unexpected key", std::move(shown)));
}

// A few entries are sorted by insertion, which needs no buffer.
void sort_by_declared_key(std::vector<std::pair<std::size_t, PyRef>>& found) {
  auto by_key = [](const auto& a, const auto& b) { return a.first < b.first; };
  if (found.size() <= 32) {
    for (std::size_t i = 1; i < found.size(); ++i) {
      for (std::size_t j = i; j > 0 && by_key(found[j], found[j - 1]); --j) std::swap(found[j], found[j - 1]);
    }
  } else {
    std::stable_sort(found.begin(), found.end(), by_key);
  }
}

}  // namespace

Move RecordFrame::start(ReportWalk& walk) {
  CheckState& state = walk.state();
  const WalkContext ctx = walk.ctx(mode);
  steps = state.guard.entered();
  if (dict_matches_record(*node, value, ctx)) return Move::finish(true);
  if (state.fatal_seen) return Move::finish(false);
  note_rewalk(steps, state);
  if (!PyDict_Check(value)) {
    walk.errors().push_back(make_error_item("dict_type", "dict", value, walk.path()));
    return Move::finish(false);
  }
  held = PyRef::borrow(value);
  index = record_keys(*node, ctx, local);
  if (!index) return Move::finish(false);
  if (index->keys().empty()) return start_undeclared(walk);
  if (!collect_declared(walk)) return Move::finish(false);
  return next_declared(walk);
}

// Outside CollectAll the report ends once any item stands in the list, also
// one recorded before it began (an extras key that failed before its value
// was reported); after a fatal exception the answer is settled, so no more
// user code runs.
bool RecordFrame::done(ReportWalk& walk) const {
  return walk.state().fatal_seen || (walk.ctx(mode).stops_at_first_failure() && !walk.errors().empty());
}

// The entries of declared keys, stably sorted by declared key; false when the
// dict changed while read. Declared keys are found by text, as the boolean
// pass finds them, so the two agree on whether a key is present.
bool RecordFrame::collect_declared(ReportWalk& walk) {
  found.reserve(static_cast<std::size_t>(PyDict_GET_SIZE(value)));
  DictEntries read(value);
  PyRef key_object;
  PyRef item;
  for (;;) {
    DictEntries::Step step = read.next(key_object, item);
    if (step == DictEntries::Step::End) break;
    if (step == DictEntries::Step::Changed) {
      abort_dict_changed(read.changed_message(), walk.state());
      return false;
    }
    if (std::optional<std::size_t> declared = declared_key(*index, key_object.get())) {
      found.emplace_back(*declared, std::move(item));
    }
  }
  sort_by_declared_key(found);
  return true;
}

// After a field's walk of an entry: whether the report goes on.
bool RecordFrame::declared_field_walked(ReportWalk& walk) {
  walk.path().pop_back();
  if (done(walk)) return false;
  note_rewalk(steps, walk.state());
  ++field;
  return true;
}

// Keys in the order first declared; each entry of a key is walked by every
// field that declares it, as union members walk one value.
Move RecordFrame::next_declared(ReportWalk& walk) {
  const std::span<const RecordKey> keys = index->keys();
  while (key < keys.size()) {
    const RecordKey& record_key = keys[key];
    if (!key_started) {
      key_started = true;
      key_end = entry;
      while (key_end < found.size() && found[key_end].first == key) ++key_end;
      if (entry == key_end && record_key.required) push_missing_key(walk.path(), record_key.text, walk.errors());
      field = 0;
    }
    if (entry < key_end) {
      if (field < record_key.fields.size()) {
        steps = walk.state().guard.entered();
        push_key_segment(walk.path(), record_key.text);
        const Move move =
            Move::walk_held(node->fields[record_key.fields[field]].node, found[entry].second.get(), 1, mode);
        if (!walk.leaf_answer(move)) return move;
        if (!declared_field_walked(walk)) return Move::finish(false);
        continue;
      }
      ++entry;
      field = 0;
      continue;
    }
    if (done(walk)) return Move::finish(false);
    ++key;
    key_started = false;
  }
  return start_undeclared(walk);
}

Move RecordFrame::start_undeclared(ReportWalk& walk) {
  entries.emplace(value);
  return next_undeclared(walk);
}

Move RecordFrame::next_undeclared(ReportWalk& walk) {
  const WalkContext ctx = walk.ctx(mode);
  for (;;) {
    DictEntries::Step step = entries->next(entry_key, entry_value);
    if (step == DictEntries::Step::End) return Move::finish(false);
    if (step == DictEntries::Step::Changed) {
      abort_dict_changed(entries->changed_message(), walk.state());
      return Move::finish(false);
    }
    if (declared_key(*index, entry_key.get())) continue;
    if (some_pair_matches(node->extras, entry_key.get(), entry_value.get(), 1, ctx)) continue;
    if (!node->extras.empty()) {
      // Reported against the first pair only: its key and value walks both run.
      push_undeclared_key_segment(walk.path(), entry_key.get());
      phase = Phase::UndeclaredKey;
      return Move::walk(node->extras.front().key, entry_key.get(), mode);
    }
    push_extra_forbidden(walk.path(), entry_key.get(), walk.errors());
    if (done(walk)) return Move::finish(false);
  }
}

Move RecordFrame::resume(ReportWalk& walk, bool) {
  switch (phase) {
    case Phase::Declared:
      if (!declared_field_walked(walk)) return Move::finish(false);
      return next_declared(walk);
    case Phase::UndeclaredKey:
      phase = Phase::UndeclaredValue;
      return Move::walk_held(node->extras.front().value, entry_value.get(), 1, mode);
    case Phase::UndeclaredValue:
      walk.path().pop_back();
      if (done(walk)) return Move::finish(false);
      return next_undeclared(walk);
  }
  return Move::finish(false);
}

Move ObjectFrame::start(ReportWalk& walk) {
  CheckState& state = walk.state();
  PyObject* cls = state.schema->pool.at(node->class_index());
  if (!cls) return Move::finish(false);
  // Attribute reads run user code that may drop every other reference.
  held_value = PyRef::borrow(value);
  held_class = PyRef::borrow(cls);
  if (!fold_outcome(PyObject_IsInstance(value, cls), state)) {
    if (walk.ctx(mode).recording()) {
      walk.errors().push_back(make_error_item("instance_type", class_name_text(cls), value, walk.path()));
    }
    return Move::finish(false);
  }
  names = state.tables->attribute_names_of(*node);
  return next_field(walk);
}

Move ObjectFrame::next_field(ReportWalk& walk) {
  CheckState& state = walk.state();
  for (; next < node->fields.size(); ++next) {
    if (state.fatal_seen) return Move::finish(false);
    const RecordField& field = node->fields[next];
    attribute = field_attribute(names, *node, next, value, state);
    if (attribute) {
      push_key_segment(walk.path(), field.key);
      return Move::walk_held(field.node, attribute.get(), 1, mode);
    }
    if (state.fatal_seen) return Move::finish(false);
    walk.errors().push_back(make_keyed_error_item(walk.path(), field.key, "missing_attribute",
                                                  fmt::format("attribute {}", quoted_text(field.key)), "missing"));
    all_ok = false;
    if (walk.ctx(mode).stops_at_first_failure()) return Move::finish(false);
  }
  return Move::finish(all_ok);
}

Move ObjectFrame::resume(ReportWalk& walk, bool child) {
  walk.path().pop_back();
  attribute = PyRef();
  if (!child) {
    all_ok = false;
    if (walk.ctx(mode).stops_at_first_failure()) return Move::finish(false);
  }
  ++next;
  return next_field(walk);
}

}  // namespace quillmar::ext
