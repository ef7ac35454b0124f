// Record and Object rules, as the boolean walk decides them; the reporting
// walk runs the record's pass below before it records.
#include <algorithm>
#include <memory>
#include <optional>

#include "check/walk/check_tables.hpp"
#include "check/walk/record_keys.hpp"
#include "check/walk/walk.hpp"
#include "py/dict_entries.hpp"

namespace quillmar::ext {
namespace {

using core::ExtrasPair;

// Which declared keys an iteration has met: a key counts once even when two
// entries carry its text (a str subclass with a hash of its own). One inline
// word up to 64 keys, so the boolean pass allocates and clears nothing more
// for ordinary records.
class SeenKeys {
 public:
  explicit SeenKeys(std::size_t count) {
    if (count > 64) heap_ = std::make_unique<std::uint64_t[]>((count + 63) / 64);
  }
  SeenKeys(const SeenKeys&) = delete;
  SeenKeys& operator=(const SeenKeys&) = delete;

  // Whether the key is new.
  bool insert(std::size_t key) {
    std::uint64_t& word = heap_ ? heap_[key / 64] : inline_;
    const std::uint64_t bit = std::uint64_t{1} << (key % 64);
    const bool fresh = (word & bit) == 0;
    word |= bit;
    return fresh;
  }

 private:
  std::uint64_t inline_ = 0;
  std::unique_ptr<std::uint64_t[]> heap_;  // zeroed
};

}  // namespace

[[gnu::noinline]] std::optional<std::size_t> declared_key(const RecordIndex& index, PyObject* key) {
  if (!PyUnicode_Check(key)) return std::nullopt;
  return index.find(key);
}

namespace {

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

}  // namespace

// The entry is held while it is walked: Python code run by the walk may
// drop the dict's own references.
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

namespace {

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

}  // namespace

[[gnu::noinline, gnu::cold]] bool abort_dict_changed(const char* message, CheckState& state) {
  PyErr_SetString(PyExc_RuntimeError, message);
  abort_check(state);
  return false;
}

namespace {

// As some_pair_matches, for a declared key.
[[gnu::noinline]] bool declared_value_matches(const SchemaNode& node, const RecordKey& key, PyObject* key_object,
                                              PyObject* value, WalkContext ctx) {
  PyRef hold_key = PyRef::borrow(key_object);
  PyRef hold_value = PyRef::borrow(value);
  BooleanWalk check(ctx);
  return key_value_matches(node, key, value, HELD_ENTRY_VALUE, check);
}

// The next entry of the pass, borrowed where the build allows it.
[[gnu::always_inline]] inline DictEntries::Step next_entry(DictEntries& entries, PyRef& held_key, PyRef& held_item,
                                                           PyObject*& key, PyObject*& item) {
  if constexpr (BORROWED_ENTRIES) return entries.next_borrowed(key, item);
  DictEntries::Step step = entries.next(held_key, held_item);
  key = held_key.get();
  item = held_item.get();
  return step;
}

// An entry no declared key names, against the extras pairs; the single pair,
// when there is one, tried by type first. Part of the pass's own frame: the
// value walked from it, records nested through their extras take one frame
// less per level.
[[gnu::always_inline]] inline bool extra_entry_matches(const SchemaNode& node, PyObject* key, PyObject* item,
                                                       WalkContext ctx) {
  const ExtrasPair* only_pair = node.extras.size() == 1 ? &node.extras.front() : nullptr;
  const bool key_by_type = only_pair && !ctx.state->fatal_seen && passes_by_type(only_pair->key, key);
  if (key_by_type && passes_by_type(only_pair->value, item)) return true;
  if (!key_by_type) return some_pair_matches(node.extras, key, item, BORROWED_ENTRIES ? 0 : 1, ctx);
  // The key is not read again.
  PyRef hold_item = PyRef::borrow(item);
  CheckState& state = *ctx.state;
  const std::uint64_t steps = state.guard.entered();
  if (walk_held_item(only_pair->value, item, HELD_ENTRY_VALUE, state.no_path, ctx.with_mode(WalkMode::BooleanOnly),
                     state.no_errors)) {
    return true;
  }
  note_rewalk(steps, state);
  return false;
}

// A record that declares no key (dict[K, V] among them): every entry is an
// extra, and nothing is counted.
[[gnu::noinline]] bool dict_matches_extras(const SchemaNode& node, PyObject* value, WalkContext ctx) {
  DictEntries entries(value);
  PyRef held_key;
  PyRef held_item;
  for (;;) {
    PyObject* key = nullptr;
    PyObject* item = nullptr;
    const DictEntries::Step step = next_entry(entries, held_key, held_item, key, item);
    if (step == DictEntries::Step::End) return true;
    if (step == DictEntries::Step::Changed) return abort_dict_changed(entries.changed_message(), *ctx.state);
    if (!extra_entry_matches(node, key, item, ctx)) return false;
  }
}

// Its frame stays on the recursive path while the values are walked: the
// walks and the holds of each entry are out of line.
[[gnu::noinline]] bool dict_matches_keys(const SchemaNode& node, const RecordIndex& index, PyObject* value,
                                         WalkContext ctx) {
  std::uint64_t remaining = index.required_count();
  SeenKeys seen(index.keys().size());
  DictEntries entries(value);
  PyRef held_key;
  PyRef held_item;
  std::size_t expected = 0;  // the declared key that follows the last one met
  for (;;) {
    PyObject* key = nullptr;
    PyObject* item = nullptr;
    const DictEntries::Step step = next_entry(entries, held_key, held_item, key, item);
    if (step == DictEntries::Step::End) return remaining == 0;
    if (step == DictEntries::Step::Changed) return abort_dict_changed(entries.changed_message(), *ctx.state);
    std::optional<std::size_t> declared;
    // The key object itself identifies its text, as find's first test does.
    if (expected < index.keys().size() && key == index.key_object(expected)) {
      declared = expected;
    } else {
      declared = declared_key(index, key);
    }
    if (declared) {
      expected = *declared + 1;
      const RecordKey& record_key = index.keys()[*declared];
      const bool by_type = record_key.fields.size() == 1 && !ctx.state->fatal_seen &&
                           passes_by_type(node.fields[record_key.fields.front()].node, item);
      if (!by_type && !declared_value_matches(node, record_key, key, item, ctx)) return false;
      if (seen.insert(*declared) && record_key.required) --remaining;
    } else if (!extra_entry_matches(node, key, item, ctx)) {
      return false;
    }
  }
}

// A record outside the validator's own tables: its key map is built for this
// pass, off the frame that walks the values.
[[gnu::noinline]] bool dict_matches_own_keys(const SchemaNode& node, PyObject* value, WalkContext ctx) {
  std::unique_ptr<RecordIndex> local;
  const RecordIndex* index = record_keys(node, ctx, local);
  return index && dict_matches_keys(node, *index, value, ctx);
}

}  // namespace

// Hands over in tail position, so a record costs one pass's frame.
bool dict_matches_record(const SchemaNode& node, PyObject* value, WalkContext ctx) {
  if (!PyDict_Check(value)) return false;
  if (node.fields.empty()) return dict_matches_extras(node, value, ctx);
  if (const RecordIndex* index = ctx.tables()->record(node)) return dict_matches_keys(node, *index, value, ctx);
  return dict_matches_own_keys(node, value, ctx);
}

PyRef field_attribute(std::span<const PyRef> names, const SchemaNode& object, std::size_t field, PyObject* value,
                      CheckState& state) {
  const std::string& key = object.fields[field].key;
  // The name interned in the check tables, else made now.
  PyRef name = field < names.size()
                   ? names[field].clone()
                   : PyRef::steal(PyUnicode_FromStringAndSize(key.data(), static_cast<Py_ssize_t>(key.size())));
  PyRef attribute = name ? PyRef::steal(PyObject_GetAttr(value, name.get())) : PyRef();
  if (attribute) return attribute;
  PyRef exception = PyRef::steal(PyErr_GetRaisedException());
  if (exception && is_fatal_exception(exception.get())) store_fatal_error(std::move(exception), state);
  return attribute;
}

bool walk_record(const SchemaNode& node, PyObject* value, Path&, WalkContext ctx, ErrorList&) {
  return dict_matches_record(node, value, ctx);
}

bool walk_object(const SchemaNode& node, PyObject* value, Path& path, WalkContext ctx, ErrorList& errors) {
  PyObject* cls = ctx.schema()->pool.at(node.class_index());
  if (!cls) return false;
  // Attribute reads run user code that may drop every other reference.
  PyRef held_value = PyRef::borrow(value);
  PyRef held_class = PyRef::borrow(cls);
  if (!fold_outcome(PyObject_IsInstance(value, cls), *ctx.state)) return false;
  std::span<const PyRef> names = ctx.tables()->attribute_names_of(node);
  for (std::size_t i = 0; i < node.fields.size(); ++i) {
    if (ctx.state->fatal_seen) return false;
    PyRef attribute = field_attribute(names, node, i, value, *ctx.state);
    if (!attribute) return false;
    if (!walk_held_item(node.fields[i].node, attribute.get(), 1, path, ctx, errors)) return false;
  }
  return true;
}

}  // namespace quillmar::ext
