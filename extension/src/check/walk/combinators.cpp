// Rules for the set-algebra kinds and for recursion: unions, intersections,
// complements, Refs and unresolved placeholders.
#include <fmt/format.h>

#include <optional>

#include "check/walk/check_tables.hpp"
#include "check/walk/memoised_ref.hpp"
#include "check/walk/walk.hpp"
#include "py/utf8_view.hpp"
#include "quillmar/core/kinds.hpp"

namespace quillmar::ext {
namespace {

// Each member in BooleanOnly, on the check's empty path and error list.
[[gnu::noinline]] bool any_member_accepts(const std::vector<SchemaNode>& members, PyObject* value, WalkContext ctx) {
  CheckState& state = *ctx.state;
  for (const SchemaNode& member : members) {
    const std::uint64_t steps = state.guard.entered();
    if (walk(member, value, state.no_path, ctx, state.no_errors)) return true;
    note_rewalk(steps, state);
  }
  return false;
}

// A union of literals answered without a Python comparison, when the value is
// exactly an int or a str: the literal rule demands the literal's exact type,
// so the sets give the member walk's answer. nullopt leaves it to that walk;
// a failed read of the value is cleared and decides nothing.
std::optional<bool> literal_union_lookup(const LiteralSets& sets, PyObject* value) {
  if (Py_IS_TYPE(value, &PyLong_Type)) {
    int overflow = 0;
    long long number = PyLong_AsLongLongAndOverflow(value, &overflow);
    if (overflow != 0 || (number == -1 && PyErr_Occurred())) {
      PyErr_Clear();
      return std::nullopt;
    }
    return sets.has_int(static_cast<std::int64_t>(number));
  }
  if (Py_IS_TYPE(value, &PyUnicode_Type)) {
    std::optional<std::string_view> text = utf8_view(value);
    if (!text) return std::nullopt;
    return sets.has_str(*text);
  }
  return std::nullopt;
}

[[gnu::noinline]] std::optional<bool> literal_union_lookup(const SchemaNode& node, PyObject* value,
                                                          WalkContext ctx) {
  if (!ctx.tables()) return std::nullopt;
  const LiteralSets* sets = ctx.tables()->literal_sets(node);
  if (!sets) return std::nullopt;
  return literal_union_lookup(*sets, value);
}

}  // namespace

// Out of line: the boolean walk's union step ends here in tail position.
[[gnu::noinline]] bool union_accepts(const SchemaNode& node, PyObject* value, WalkContext ctx) {
  // The literal sets give the same answers as the member walk, so the
  // membership pass of the reporting modes may use them too.
  if (std::optional<bool> decided = literal_union_lookup(node, value, ctx)) return *decided;
  return any_member_accepts(node.members(), value, ctx.with_mode(WalkMode::BooleanOnly));
}

bool walk_union(const SchemaNode& node, PyObject* value, Path&, WalkContext ctx, ErrorList&) {
  return union_accepts(node, value, ctx);
}

bool walk_intersection(const SchemaNode& node, PyObject* value, Path& path, WalkContext ctx, ErrorList& errors) {
  for (const SchemaNode& member : node.members()) {
    const std::uint64_t steps = ctx.state->guard.entered();
    const bool accepted = walk(member, value, path, ctx, errors);
    note_rewalk(steps, *ctx.state);
    if (!accepted) return false;
  }
  return true;
}

namespace {

[[gnu::noinline]] void report_unexpected_match(const SchemaNode& node, PyObject* value, const Path& path,
                                               ErrorList& errors) {
  errors.push_back(
      make_error_item("unexpected_match", fmt::format("not {}", core::kind_name(node.inner())), value, path));
}

}  // namespace

bool walk_complement(const SchemaNode& node, PyObject* value, Path& path, WalkContext ctx, ErrorList& errors) {
  CheckState& state = *ctx.state;
  bool inner_accepts = walk(node.inner(), value, state.no_path, ctx.with_mode(WalkMode::BooleanOnly), state.no_errors);
  // A fatal exception inside made the inner answer meaningless.
  if (state.fatal_seen) return false;
  if (!inner_accepts) return true;
  if (ctx.reporting()) report_unexpected_match(node, value, path, errors);
  return false;
}

[[gnu::noinline]] bool refuse_ref(RecursionGuard::Entry entry, PyObject* value, const Path& path, WalkContext ctx,
                                  ErrorList& errors) {
  if (!ctx.reporting()) return false;
  CheckState& state = *ctx.state;
  if (entry == RecursionGuard::Entry::Loop) {
    // Met deeper in the value than it was entered: the value holds itself,
    // and every other route into the cycle would meet it again.
    if (path.size() > state.guard.newest_loop_path_depth()) {
      state.guard.count_cycle();
      state.memo.start();
    }
    errors.push_back(make_error_item("recursion_loop", "a finite (non-cyclic) value", value, path));
  } else {
    errors.push_back(make_error_item(
        "recursion_limit", fmt::format("at most {} levels of recursion", MAX_RECURSION_LEVELS), value, path));
  }
  return false;
}

bool walk_ref(const SchemaNode& node, PyObject* value, Path& path, WalkContext ctx, ErrorList& errors) {
  const std::uint64_t definition = node.definition();
  CheckState& state = *ctx.state;
  const RecursionGuard::Entry entry = state.guard.enter(value, definition, path.size());
  if (entry != RecursionGuard::Entry::Entered) return refuse_ref(entry, value, path, ctx, errors);
  if (definition >= ctx.schema()->definitions.size()) {
    state.guard.leave(value, definition);
    return false;
  }
  if (!state.memo.on()) return walk_entered_ref(definition, value, path, ctx, errors);
  return walk_entered_ref_memoised(definition, value, path, ctx, errors);
}

bool walk_placeholder(const SchemaNode&, PyObject* value, Path& path, WalkContext ctx, ErrorList& errors) {
  if (ctx.reporting()) {
    errors.push_back(make_error_item("unresolved_recursion", "a resolved recursive value", value, path));
  }
  return false;
}

}  // namespace quillmar::ext
