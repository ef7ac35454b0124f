// The validation walk: one value against one schema node, by native
// recursion. It decides membership (BooleanOnly); in the reporting modes it
// records the failures of the kinds that walk no item of the value, and
// report_walk walks the containers and combinators around them.
#pragma once

#include <Python.h>

#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "check/walk/check_memo.hpp"
#include "check/walk/recursion_guard.hpp"
#include "compiled_schema.hpp"
#include "errors/error_item.hpp"
#include "py/ref.hpp"
#include "quillmar/core/stack_guard.hpp"

namespace quillmar::ext {

using core::NodeKind;

enum class WalkMode : std::uint8_t { CollectAll, FailFast, BooleanOnly };

using ErrorList = std::vector<ErrorItem>;

// The cells of one check, owned by the entry point: the schema and its tables
// it reads, and what the walk changes.
struct CheckState {
  CheckState(const CompiledSchema& checked, const CheckTables* read_tables) : schema(&checked), tables(read_tables) {}

  const CompiledSchema* schema;
  const CheckTables* tables;
  RecursionGuard guard;
  CheckMemo memo;
  PyRef first_fatal;  // the first exception that ends the check
  bool fatal_seen = false;
  core::StackGuard stack;  // the thread's, as the check starts
  // The path and error list of the boolean walks nested in the check: in
  // BooleanOnly nothing is pushed or recorded, so they stay empty, and the
  // frames of the walk's recursion hold no lists of their own.
  Path no_path;
  ErrorList no_errors;
};

// Called before a value is walked again by another member, pair or pass,
// with the Ref step count from before the walk it repeats: a walk that
// recursed may recurse again over the same values, so from here on the
// check keeps its Ref outcomes.
inline void note_rewalk(std::uint64_t ref_steps_before, CheckState& state) {
  if (state.guard.entered() != ref_steps_before) state.memo.start();
}

// Passed by value to every step, in two registers; a nested walk in another
// mode changes only its own copy's mode.
struct WalkContext {
  CheckState* state;
  WalkMode mode;

  const CompiledSchema* schema() const { return state->schema; }
  const CheckTables* tables() const { return state->tables; }
  bool reporting() const { return mode != WalkMode::BooleanOnly; }
  // Whether a failure is recorded now: once a fatal exception ends the check
  // its items are dropped, and their texts would run user code (repr).
  bool recording() const { return reporting() && !state->fatal_seen; }
  bool stops_at_first_failure() const { return mode != WalkMode::CollectAll; }
  WalkContext with_mode(WalkMode m) const { return {state, m}; }
};
static_assert(sizeof(WalkContext) <= 16);

bool walk(const SchemaNode& node, PyObject* value, Path& path, WalkContext ctx, ErrorList& errors);

// The walk with the common passing type tests done in line: a value of the
// kind's type is a member with no item, as the full rule says; everything
// else goes through walk.
inline bool walk_fast(const SchemaNode& node, PyObject* value, Path& path, WalkContext ctx, ErrorList& errors) {
  if (!ctx.state->fatal_seen) {
    const NodeKind kind = node.kind;
    if ((kind == NodeKind::Int && PyLong_Check(value)) || (kind == NodeKind::Str && PyUnicode_Check(value)) ||
        (kind == NodeKind::Float && PyFloat_Check(value))) {
      return true;
    }
  }
  return walk(node, value, path, ctx, errors);
}

// The walk of an item a container passes on, given the references the
// container's walk itself holds to it. An item held more than that may be met
// again by another route: it is walked through the memo, keyed by the node,
// so that a shared value costs no more than its distinct objects.
bool walk_shared_item(const SchemaNode& node, PyObject* item, Path& path, WalkContext ctx, ErrorList& errors);
// A scalar's walk is no deeper than the schema, so sharing one (small ints,
// interned strings, which are held everywhere) keeps nothing.
inline bool is_shared_container(PyObject* item, Py_ssize_t held_by_walk) {
  if (Py_REFCNT(item) <= 1 + held_by_walk) return false;
  PyTypeObject* type = Py_TYPE(item);
  return type != &PyLong_Type && type != &PyUnicode_Type && type != &PyFloat_Type && type != &PyBool_Type &&
         type != &PyBytes_Type && item != Py_None;
}
inline bool walk_held_item(const SchemaNode& node, PyObject* item, Py_ssize_t held_by_walk, Path& path,
                           WalkContext ctx, ErrorList& errors) {
  if (is_shared_container(item, held_by_walk)) return walk_shared_item(node, item, path, ctx, errors);
  return walk(node, item, path, ctx, errors);
}

// Exceptions that end a check rather than make the value a non-member:
// everything outside Exception, MemoryError and RecursionError.
bool is_fatal_exception(PyObject* exception);
// Keeps the first fatal exception of the check; later ones are dropped.
void store_fatal_error(PyRef exception, CheckState& state);
// Ends the check with RecursionError: a step found the native stack too
// close to its end to go deeper. Answers false, not a member.
bool fail_out_of_stack(CheckState& state);
// Takes the pending exception and ends the check with it whatever its class
// (a container that changed while it was read).
void abort_check(CheckState& state);
// Ends the check with RuntimeError: a dict changed while it was read.
bool abort_dict_changed(const char* message, CheckState& state);

// A C API truth answer (1, 0, or -1 with an exception set) as membership: an
// ordinary exception is cleared and means not a member, a fatal one is stored.
bool fold_outcome(int outcome, CheckState& state);

// Segments pushed out of line: the segment being made would otherwise take
// room in the caller's frame, on the walk's recursive path.
void push_index_segment(Path& path, std::uint64_t index);
void push_key_segment(Path& path, const std::string& key);

std::string value_text(PyObject* value);
// An item whose value text is made later, by make_value_texts.
ErrorItem make_error_item(std::string_view code, std::string expected, PyObject* value, const Path& path);
ErrorItem make_keyed_error_item(const Path& path, std::string key, std::string_view code, std::string expected,
                                std::string value);

// The value texts of the items a report keeps, made once the walk is over and
// only when no fatal exception ended it: a text may run user code (repr).
void make_value_texts(ErrorList& errors);

// Records the node's type mismatch when ok is false; answers ok.
bool push_kind_error(bool ok, const SchemaNode& node, PyObject* value, const Path& path, WalkContext ctx,
                     ErrorList& errors);
void push_error(std::string_view code, std::string_view expected, PyObject* value, const Path& path,
                WalkContext ctx, ErrorList& errors);
void push_length_error(std::string_view code, std::string_view kind, std::uint64_t prefix_len, bool has_tail,
                       PyObject* value, const Path& path, WalkContext ctx, ErrorList& errors);

// The rules, by kind group.
bool walk_type_kind(const SchemaNode& node, PyObject* value, Path& path, WalkContext ctx, ErrorList& errors);
bool walk_literal(const SchemaNode& node, PyObject* value, Path& path, WalkContext ctx, ErrorList& errors);
bool walk_sequence(const SchemaNode& node, PyObject* value, Path& path, WalkContext ctx, ErrorList& errors);
bool walk_set(const SchemaNode& node, PyObject* value, Path& path, WalkContext ctx, ErrorList& errors);
bool walk_instance(const SchemaNode& node, PyObject* value, Path& path, WalkContext ctx, ErrorList& errors);
bool walk_record(const SchemaNode& node, PyObject* value, Path& path, WalkContext ctx, ErrorList& errors);
bool walk_object(const SchemaNode& node, PyObject* value, Path& path, WalkContext ctx, ErrorList& errors);
bool walk_union(const SchemaNode& node, PyObject* value, Path& path, WalkContext ctx, ErrorList& errors);
bool walk_intersection(const SchemaNode& node, PyObject* value, Path& path, WalkContext ctx, ErrorList& errors);
bool walk_complement(const SchemaNode& node, PyObject* value, Path& path, WalkContext ctx, ErrorList& errors);
bool walk_ref(const SchemaNode& node, PyObject* value, Path& path, WalkContext ctx, ErrorList& errors);
bool walk_placeholder(const SchemaNode& node, PyObject* value, Path& path, WalkContext ctx, ErrorList& errors);
bool walk_refined(const SchemaNode& node, PyObject* value, Path& path, WalkContext ctx, ErrorList& errors);

// The passes of the container rules that the reporting walk runs as the walk
// does: a union's and a record's boolean pass before they record, a
// Refined node's constraints once its base admitted the value, and the run
// of a homogeneous sequence that passes without Python code.
bool union_accepts(const SchemaNode& node, PyObject* value, WalkContext ctx);
bool dict_matches_record(const SchemaNode& node, PyObject* value, WalkContext ctx);
// Whether some extras pair admits an undeclared entry; held: the references
// the caller holds to the value besides the dict's.
bool some_pair_matches(const std::vector<core::ExtrasPair>& extras, PyObject* key, PyObject* value,
                       Py_ssize_t held, WalkContext ctx);
bool constraints_hold(const SchemaNode& node, PyObject* value, const Path& path, WalkContext ctx,
                      ErrorList& errors);
Py_ssize_t plain_prefix(std::size_t prefix, const SchemaNode* tail, WalkContext ctx, PyObject* const* items,
                        Py_ssize_t n);
// The attribute an object node's field reads from the value, with the names
// the check tables interned; null when it cannot be read: a fatal exception
// is then the check's, an ordinary one is cleared (a missing attribute).
PyRef field_attribute(std::span<const PyRef> names, const SchemaNode& object, std::size_t field, PyObject* value,
                      CheckState& state);
// A Ref step whose pair the guard refused: a loop or the level limit.
bool refuse_ref(RecursionGuard::Entry entry, PyObject* value, const Path& path, WalkContext ctx, ErrorList& errors);

// One constraint of a Refined node against a value its base admitted; records
// at most one item, at the node's own path.
bool check_constraint(const core::Constraint& constraint, PyObject* value, const Path& path, WalkContext ctx,
                      ErrorList& errors);

}  // namespace quillmar::ext
