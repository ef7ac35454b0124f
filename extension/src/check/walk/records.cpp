// Record and Object rules. A record is decided by a boolean pass that
// records nothing; only when it fails in a reporting mode does a second pass
// walk the dict again to record items.
#include <fmt/format.h>

#include <algorithm>
#include <array>
#include <memory>
#include <optional>

#include "check/walk/check_tables.hpp"
#include "check/walk/record_keys.hpp"
#include "check/walk/walk.hpp"
#include "py/dict_entries.hpp"
#include "text.hpp"

namespace quillmar::ext {
namespace {

using core::ExtrasPair;
using core::RecordField;

// Which declared keys an iteration has met: a key counts once even when two
// entries carry its text (a str subclass with a hash of its own). One inline
// word up to 64 keys, so the boolean pass allocates and clears nothing more
// for ordinary records.
class SeenKeys {
 public:
  explicit SeenKeys(std::size_t count) {
    if (count > 64) {
      heap_ = std::make_unique<std::uint64_t[]>((count + 63) / 64);
      words_ = heap_.get();
    }
  }
  SeenKeys(const SeenKeys&) = delete;
  SeenKeys& operator=(const SeenKeys&) = delete;

  // Whether the key is new.
  bool insert(std::size_t key) {
    std::uint64_t& word = words_[key / 64];
    const std::uint64_t bit = std::uint64_t{1} << (key % 64);
    const bool fresh = (word & bit) == 0;
    word |= bit;
    return fresh;
  }

 private:
  std::uint64_t inline_ = 0;
  std::unique_ptr<std::uint64_t[]> heap_;  // zeroed
  std::uint64_t* words_ = &inline_;
};

// The declared key an entry's key stands for: a str (or subclass) by its text.
[[gnu::noinline]] std::optional<std::size_t> declared_key(const RecordIndex& index, PyObject* key) {
  if (!PyUnicode_Check(key)) return std::nullopt;
  return index.find(key);
}

// Boolean walks on the check's empty path and error list.
struct BooleanWalk {
  WalkContext ctx;

  explicit BooleanWalk(WalkContext outer) : ctx(outer.with_mode(WalkMode::BooleanOnly)) {}
  bool accepts(const SchemaNode& node, PyObject* value) {
    return walk_fast(node, value, ctx.state->no_path, ctx, ctx.state->no_errors);
  }
  // An entry's value, given the references the walk holds to it.
  bool accepts_held(const SchemaNode& node, PyObject* value, Py_ssize_t held) {
    if (is_shared_container(value, held)) return walk_shared_item(node, value, ctx.state->no_path, ctx, ctx.state->no_errors);
    return accepts(node, value);
  }
};

// The entry is held while it is walked: Python code run by the walk may
// drop the dict's own references. held: the references the caller holds to
// the value besides the dict's.
[[gnu::noinline]] bool some_pair_matches(const std::vector<ExtrasPair>& extras, PyObject* key, PyObject* value,
                                         Py_ssize_t held, WalkContext ctx) {
  PyRef hold_key = PyRef::borrow(key);
  PyRef hold_value = PyRef::borrow(value);
  BooleanWalk check(ctx);
  return std::any_of(extras.begin(), extras.end(), [&](const ExtrasPair& pair) {
    const std::uint64_t steps = check.ctx.state->guard.entered();
    if (check.accepts(pair.key, key) && check.accepts_held(pair.value, value, held + 1)) return true;
    note_rewalk(steps, *check.ctx.state);
    return false;
  });
}

// Every field declaring the key accepts the value.
[[gnu::noinline]] bool key_value_matches(const SchemaNode& node, const RecordKey& key, PyObject* value,
                                         Py_ssize_t held, BooleanWalk& check) {
  if (key.fields.size() == 1) return check.accepts_held(node.fields[key.fields.front()].node, value, held);
  // The fields of one key walk one value, as union members do.
  return std::all_of(key.fields.begin(), key.fields.end(), [&](std::uint32_t field) {
    const std::uint64_t steps = check.ctx.state->guard.entered();
    if (!check.accepts_held(node.fields[field].node, value, held)) return false;
    note_rewalk(steps, *check.ctx.state);
    return true;
  });
}


// A value the walk accepts from its type alone, as walk_fast does: no Python
// code runs, so a borrowed entry stays alive and the dict unchanged.
inline bool passes_by_type(const SchemaNode& node, PyObject* value) {
  const NodeKind kind = node.kind;
  return (kind == NodeKind::Int && PyLong_Check(value)) || (kind == NodeKind::Str && PyUnicode_Check(value)) ||
         (kind == NodeKind::Float && PyFloat_Check(value));
}

// In a build with the GIL the entries are read borrowed: nothing can change
// the dict until Python code runs, and each walk that may run it gets strong
// references first. Without the GIL every entry is held, as DictEntries does.
#ifdef Py_GIL_DISABLED
constexpr bool BORROWED_ENTRIES = false;
#else
constexpr bool BORROWED_ENTRIES = true;
#endif
// The references the boolean pass holds to a value it walks: its hold, and
// the entry's own where entries are held.
constexpr Py_ssize_t HELD_ENTRY_VALUE = BORROWED_ENTRIES ? 1 : 2;

// Ends the check: a fatal exception, which walk_record tells apart from a
// plain refusal.
[[gnu::noinline, gnu::cold]] bool abort_dict_changed(const char* message, CheckState& state) {
  PyErr_SetString(PyExc_RuntimeError, message);
  abort_check(state);
  return false;
}

// As some_pair_matches, for a declared key.
[[gnu::noinline]] bool declared_value_matches(const SchemaNode& node, const RecordKey& key, PyObject* key_object,
                                              PyObject* value, WalkContext ctx) {
  PyRef hold_key = PyRef::borrow(key_object);
  PyRef hold_value = PyRef::borrow(value);
  BooleanWalk check(ctx);
  return key_value_matches(node, key, value, HELD_ENTRY_VALUE, check);
}

// Its frame stays on the recursive path while the values are walked: the
// walks and the holds of each entry are out of line.
[[gnu::noinline]] bool dict_matches_record(const SchemaNode& node, PyObject* value, WalkContext ctx) {
  if (!PyDict_Check(value)) return false;
  std::unique_ptr<RecordIndex> local;
  const RecordIndex* index = record_keys(node, ctx, local);
  if (!index) return false;
  std::uint64_t remaining = index->required_count();
  const bool has_keys = !index->keys().empty();
  SeenKeys seen(index->keys().size());
  DictEntries entries(value);
  // The single extras pair, when there is one, tried by type first.
  const ExtrasPair* only_pair = node.extras.size() == 1 ? &node.extras.front() : nullptr;
  PyRef held_key;
  PyRef held_item;
  std::size_t expected = 0;  // the declared key that follows the last one met
  for (;;) {
    PyObject* key = nullptr;
    PyObject* item = nullptr;
    DictEntries::Step step;
    if constexpr (BORROWED_ENTRIES) {
      step = entries.next_borrowed(key, item);
    } else {
      step = entries.next(held_key, held_item);
      key = held_key.get();
      item = held_item.get();
    }
    if (step == DictEntries::Step::End) return remaining == 0;
    if (step == DictEntries::Step::Changed) return abort_dict_changed(entries.changed_message(), *ctx.state);
    std::optional<std::size_t> declared;
    if (has_keys) {
      // The key object itself identifies its text, as find's first test does.
      if (expected < index->keys().size() && key == index->key_object(expected)) {
        declared = expected;
      } else {
        declared = declared_key(*index, key);
      }
      if (declared) expected = *declared + 1;
    }
    if (declared) {
      const RecordKey& record_key = index->keys()[*declared];
      const bool by_type = record_key.fields.size() == 1 && !ctx.state->fatal_seen &&
                           passes_by_type(node.fields[record_key.fields.front()].node, item);
      if (!by_type && !declared_value_matches(node, record_key, key, item, ctx)) return false;
      if (seen.insert(*declared) && record_key.required) --remaining;
    } else {
      const bool key_by_type = only_pair && !ctx.state->fatal_seen && passes_by_type(only_pair->key, key);
      if (key_by_type && passes_by_type(only_pair->value, item)) continue;
      if (!key_by_type) {
        if (!some_pair_matches(node.extras, key, item, BORROWED_ENTRIES ? 0 : 1, ctx)) return false;
        continue;
      }
      // The value walked from this frame: records nested through their
      // extras take one frame less per level.
      PyRef hold_key = PyRef::borrow(key);
      PyRef hold_item = PyRef::borrow(item);
      CheckState& state = *ctx.state;
      const std::uint64_t steps = state.guard.entered();
      if (!walk_held_item(only_pair->value, item, HELD_ENTRY_VALUE, state.no_path, ctx.with_mode(WalkMode::BooleanOnly),
                          state.no_errors)) {
        note_rewalk(steps, state);
        return false;
      }
    }
  }
}

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

class RecordReport {
 public:
  RecordReport(const SchemaNode& node, PyObject* dict, Path& path, WalkContext ctx, ErrorList& errors)
      : node_(node), dict_(dict), path_(path), ctx_(ctx), errors_(errors) {}

  void run() {
    std::unique_ptr<RecordIndex> local;
    const RecordIndex* index = record_keys(node_, ctx_, local);
    if (!index) return;
    if (!declared_keys(*index)) return;
    undeclared_entries(*index);
  }

 private:
  // Outside CollectAll the report ends once any item stands in the list, also
  // one recorded before it began (an extras key that failed before its value
  // was reported); after a fatal exception the answer is settled, so no more
  // user code runs.
  bool done() const { return ctx_.state->fatal_seen || (ctx_.stops_at_first_failure() && !errors_.empty()); }

  // Declared keys are found by text, as the boolean pass finds them, so the
  // two agree on whether a key is present. Keys in the order first declared;
  // answers whether the report goes on.
  [[gnu::noinline]] bool declared_keys(const RecordIndex& index) {
    if (index.keys().empty()) return true;
    std::vector<std::pair<std::size_t, PyRef>> found;  // (declared key, value) in dict order
    if (!declared_entries(index, found)) return false;
    auto next = found.begin();
    for (std::size_t k = 0; k < index.keys().size(); ++k) {
      const RecordKey& record_key = index.keys()[k];
      auto end = std::find_if(next, found.end(), [k](const auto& entry) { return entry.first != k; });
      if (next == end && record_key.required) push_missing_key(record_key.text);
      for (; next != end; ++next) {
        for (std::uint32_t field : record_key.fields) {
          const std::uint64_t steps = ctx_.state->guard.entered();
          push_key_segment(path_, record_key.text);
          walk_held_item(node_.fields[field].node, next->second.get(), 1, path_, ctx_, errors_);
          path_.pop_back();
          if (done()) return false;
          note_rewalk(steps, *ctx_.state);
        }
      }
      if (done()) return false;
    }
    return true;
  }

  // The entries of declared keys, stably sorted by declared key; false when
  // the dict changed while read.
  [[gnu::noinline]] bool declared_entries(const RecordIndex& index, std::vector<std::pair<std::size_t, PyRef>>& found) {
    found.reserve(static_cast<std::size_t>(PyDict_GET_SIZE(dict_)));
    DictEntries entries(dict_);
    PyRef key;
    PyRef item;
    for (;;) {
      DictEntries::Step step = entries.next(key, item);
      if (step == DictEntries::Step::End) break;
      if (step == DictEntries::Step::Changed) {
        abort_dict_changed(entries.changed_message(), *ctx_.state);
        return false;
      }
      if (std::optional<std::size_t> declared = declared_key(index, key.get())) {
        found.emplace_back(*declared, std::move(item));
      }
    }
    // A few entries are sorted by insertion, which needs no buffer.
    auto by_key = [](const auto& a, const auto& b) { return a.first < b.first; };
    if (found.size() <= 32) {
      for (std::size_t i = 1; i < found.size(); ++i) {
        for (std::size_t j = i; j > 0 && by_key(found[j], found[j - 1]); --j) std::swap(found[j], found[j - 1]);
      }
    } else {
      std::stable_sort(found.begin(), found.end(), by_key);
    }
    return true;
  }

  [[gnu::noinline]] void undeclared_entries(const RecordIndex& index) {
    DictEntries entries(dict_);
    PyRef key;
    PyRef item;
    for (;;) {
      DictEntries::Step step = entries.next(key, item);
      if (step == DictEntries::Step::End) return;
      if (step == DictEntries::Step::Changed) {
        abort_dict_changed(entries.changed_message(), *ctx_.state);
        return;
      }
      if (declared_key(index, key.get())) continue;
      if (some_pair_matches(node_.extras, key.get(), item.get(), 1, ctx_)) continue;
      if (!node_.extras.empty()) {
        // Reported against the first pair only: its key and value walks both run.
        const ExtrasPair& first = node_.extras.front();
        push_undeclared_key_segment(key.get());
        walk(first.key, key.get(), path_, ctx_, errors_);
        walk_held_item(first.value, item.get(), 1, path_, ctx_, errors_);
        path_.pop_back();
      } else {
        push_extra_forbidden(key.get());
      }
      if (done()) return;
    }
  }

  // Item texts are built out of line, off the walk's recursive path.
  [[gnu::noinline]] void push_missing_key(const std::string& key) {
    errors_.push_back(
        make_keyed_error_item(path_, key, "missing_key", fmt::format("required key {}", quoted_text(key)), "missing"));
  }

  [[gnu::noinline]] void push_undeclared_key_segment(PyObject* key) {
    path_.push_back(PathSegment::named(truncate_text(undeclared_key_text(key, true), KEY_TEXT_MAX_CHARS)));
  }

  [[gnu::noinline]] void push_extra_forbidden(PyObject* key) {
    std::string text = undeclared_key_text(key, false);
    std::string shown = quoted_text(text);
    errors_.push_back(
        make_keyed_error_item(path_, std::move(text), "extra_forbidden", "no unexpected key", std::move(shown)));
  }

  const SchemaNode& node_;
  PyObject* dict_;
  Path& path_;
  WalkContext ctx_;
  ErrorList& errors_;
};

// The attribute name: interned in the check tables, else made now.
PyRef attribute_name(std::span<const PyRef> names, std::size_t field, const std::string& key) {
  if (field < names.size()) return names[field].clone();
  return PyRef::steal(PyUnicode_FromStringAndSize(key.data(), static_cast<Py_ssize_t>(key.size())));
}

}  // namespace

namespace {

// The second pass, out of line: the recursive path through a record keeps
// only the boolean pass's frame.
[[gnu::noinline]] void report_record(const SchemaNode& node, PyObject* value, Path& path, WalkContext ctx,
                                     ErrorList& errors) {
  if (!PyDict_Check(value)) {
    errors.push_back(make_error_item("dict_type", "dict", value, path));
    return;
  }
  PyRef held = PyRef::borrow(value);
  RecordReport(node, held.get(), path, ctx, errors).run();
}

[[gnu::noinline]] bool walk_record_reporting(const SchemaNode& node, PyObject* value, Path& path, WalkContext ctx,
                                            ErrorList& errors) {
  const std::uint64_t steps = ctx.state->guard.entered();
  if (dict_matches_record(node, value, ctx)) return true;
  if (ctx.state->fatal_seen) return false;
  note_rewalk(steps, *ctx.state);
  report_record(node, value, path, ctx, errors);
  return false;
}

}  // namespace

// A check that records nothing leaves the boolean pass in tail position, so
// the record takes one frame of the recursive path.
bool walk_record(const SchemaNode& node, PyObject* value, Path& path, WalkContext ctx, ErrorList& errors) {
  if (!ctx.reporting()) return dict_matches_record(node, value, ctx);
  return walk_record_reporting(node, value, path, ctx, errors);
}

bool walk_object(const SchemaNode& node, PyObject* value, Path& path, WalkContext ctx, ErrorList& errors) {
  PyObject* cls = ctx.schema()->pool.at(node.class_index());
  if (!cls) return false;
  // Attribute reads run user code that may drop every other reference.
  PyRef held_value = PyRef::borrow(value);
  PyRef held_class = PyRef::borrow(cls);
  if (!fold_outcome(PyObject_IsInstance(value, cls), *ctx.state)) {
    if (ctx.recording()) errors.push_back(make_error_item("instance_type", class_name_text(cls), value, path));
    return false;
  }
  std::span<const PyRef> names = ctx.tables()->attribute_names_of(node);
  bool all_ok = true;
  for (std::size_t i = 0; i < node.fields.size(); ++i) {
    if (ctx.state->fatal_seen) return false;
    const RecordField& field = node.fields[i];
    PyRef name = attribute_name(names, i, field.key);
    PyRef attribute = name ? PyRef::steal(PyObject_GetAttr(value, name.get())) : PyRef();
    bool ok = false;
    if (!attribute) {
      PyRef exception = PyRef::steal(PyErr_GetRaisedException());
      if (exception && is_fatal_exception(exception.get())) {
        store_fatal_error(std::move(exception), *ctx.state);
        return false;
      }
      if (ctx.reporting()) {
        errors.push_back(make_keyed_error_item(path, field.key, "missing_attribute",
                                               fmt::format("attribute {}", quoted_text(field.key)), "missing"));
      }
    } else if (ctx.reporting()) {
      push_key_segment(path, field.key);
      ok = walk_held_item(field.node, attribute.get(), 1, path, ctx, errors);
      path.pop_back();
    } else {
      ok = walk_held_item(field.node, attribute.get(), 1, path, ctx, errors);
    }
    if (!ok) {
      all_ok = false;
      if (ctx.stops_at_first_failure()) break;
    }
  }
  return all_ok;
}

}  // namespace quillmar::ext
