#include "check/walk/memoised_ref.hpp"

#include <fmt/format.h>

#include "errors/distinct_items.hpp"

namespace quillmar::ext {
namespace {

static_assert(MAX_DEFINITIONS <= 128, "a DefinitionSet holds one bit per definition");

// The items recorded at base_depth and below, with their paths made relative.
std::vector<ErrorItem> relative_items(const ErrorList& errors, std::size_t first, std::size_t base_depth) {
  std::vector<ErrorItem> items;
  items.reserve(errors.size() - first);
  for (std::size_t i = first; i < errors.size(); ++i) {
    const ErrorItem& item = errors[i];
    Path below(item.path.begin() + static_cast<std::ptrdiff_t>(base_depth), item.path.end());
    items.push_back(ErrorItem{std::move(below), item.expected, item.value, item.code, item.found.clone()});
  }
  keep_distinct_items(items);
  return items;
}

// Appends stored items below the current path.
void replay_items(const std::vector<ErrorItem>& items, const Path& path, ErrorList& errors) {
  for (const ErrorItem& item : items) {
    Path full;
    full.reserve(path.size() + item.path.size());
    full.insert(full.end(), path.begin(), path.end());
    full.insert(full.end(), item.path.begin(), item.path.end());
    errors.push_back(ErrorItem{std::move(full), item.expected, item.value, item.code, item.found.clone()});
  }
}

// A value that holds itself is reported in full where its walk was first met;
// met again by another route, it stands for that walk in one item, so that
// the report grows with the value and not with its routes.
void replay(const CheckMemo::Outcome& outcome, const MemoReport& report) {
  if (outcome.met_cycle && !outcome.member) {
    report.errors.push_back(make_error_item("recursion_loop", "a finite (non-cyclic) value", report.value, report.path));
    return;
  }
  replay_items(outcome.items, report.path, report.errors);
}

}  // namespace

MemoMode memo_mode(WalkContext ctx, const ErrorList& errors) {
  switch (ctx.mode) {
    case WalkMode::BooleanOnly:
      return MemoMode::BooleanOnly;
    case WalkMode::CollectAll:
      return MemoMode::CollectAll;
    case WalkMode::FailFast:
      return errors.empty() ? MemoMode::FailFastClean : MemoMode::FailFastAfterItem;
  }
  return MemoMode::BooleanOnly;
}

namespace {

// The definitions active on the value above a Ref step, which key an outcome
// that met a loop through them. An empty run needs no context of its own: no
// pair above it can be met again without the value holding itself.
bool has_run_above(const RecursionGuard::SameValueRun& run) {
  return !(run.definitions == RecursionGuard::DefinitionSet{});
}

// The outcome kept for a place, any budget first where its levels fit; the
// place's budget is the levels before the step, and is left so.
const CheckMemo::Outcome* find_budgeted(const CheckMemo& memo, CheckMemo::Place& place, bool& free_kept) {
  const std::uint16_t levels_before = place.budget;
  place.budget = CheckMemo::ANY_BUDGET;
  const CheckMemo::Outcome* free = memo.find(place);
  place.budget = levels_before;
  if (free) {
    free_kept = true;
    if (levels_before + free->levels <= MAX_RECURSION_LEVELS) return free;
  }
  return memo.keeps_budgeted() ? memo.find(place) : nullptr;
}

}  // namespace

MemoLookup begin_memo_step(CheckState& state, MemoSubject subject, const void* identity, MemoMode mode,
                           const MemoReport* report) {
  CheckMemo& memo = state.memo;
  RecursionGuard& guard = state.guard;
  const auto levels_before = static_cast<std::uint16_t>(guard.size() - (subject.own_pair() ? 1 : 0));
  CheckMemo::Place place{subject.schema, identity, CheckMemo::ANY_ON_VALUE, levels_before, mode};
  bool free_kept = false;
  const CheckMemo::Outcome* known = find_budgeted(memo, place, free_kept);
  // An item is no value a pair above it stands on, unless it holds itself.
  std::uint32_t lowest_on_value = RecursionGuard::NO_LOOP;
  if (!known && memo.keeps_on_value() && subject.own_pair()) {
    const RecursionGuard::SameValueRun run = guard.run_below_top();
    if (has_run_above(run)) {
      if (std::optional<std::uint32_t> index = memo.known_on_value(run.definitions)) {
        place.on_value = *index;
        known = find_budgeted(memo, place, free_kept);
        lowest_on_value = static_cast<std::uint32_t>(run.lowest_level);
      }
    }
  }
  if (known) {
    // What the reused walk took and met counts for every step around this one.
    guard.merge_peak(levels_before + known->levels);
    if (known->met_limit) guard.count_limit();
    if (known->met_cycle) guard.count_cycle();
    guard.merge_lowest_loop(lowest_on_value);
    if (report) replay(*known, *report);
    return {known, 0};
  }
  std::vector<MemoStep>& steps = memo.steps();
  if (steps.capacity() == 0) steps.reserve(16);
  MemoStep& step = steps.emplace_back();
  step.identity = identity;
  step.limits = static_cast<std::uint32_t>(guard.limits());
  step.cycles = static_cast<std::uint32_t>(guard.cycles());
  step.outer_peak = static_cast<std::uint32_t>(guard.restart_peak());
  step.outer_lowest_loop = guard.restart_lowest_loop();
  step.first_item = report ? static_cast<std::uint32_t>(report->errors.size()) : 0;
  step.schema = subject.schema;
  step.mode = mode;
  step.free_kept = free_kept;
  return {nullptr, static_cast<std::uint32_t>(steps.size() - 1)};
}

void end_memo_step(CheckState& state, std::uint32_t step_index, PyObject* held, bool member,
                   const MemoReport* report) {
  std::vector<MemoStep>& steps = state.memo.steps();
  const MemoStep& step = steps[step_index];
  // Steps a failed allocation unwound past end here too.
  struct Pop {
    std::vector<MemoStep>& steps;
    std::uint32_t to;
    ~Pop() { steps.resize(to); }
  } pop{steps, step_index};
  RecursionGuard& guard = state.guard;
  const MemoSubject subject{step.schema};
  const std::size_t levels_before = guard.size() - (subject.own_pair() ? 1 : 0);
  const std::size_t levels = guard.peak() - levels_before;
  guard.merge_peak(step.outer_peak);
  const bool loops_above = guard.lowest_loop() < levels_before;
  guard.merge_lowest_loop(step.outer_lowest_loop);
  if (state.fatal_seen) return;
  const bool met_limit = static_cast<std::uint32_t>(guard.limits()) != step.limits;
  if (!met_limit && step.free_kept) return;
  const bool met_cycle = static_cast<std::uint32_t>(guard.cycles()) != step.cycles;
  CheckMemo::Place place{step.schema, step.identity, CheckMemo::ANY_ON_VALUE,
                         met_limit ? static_cast<std::uint16_t>(levels_before) : CheckMemo::ANY_BUDGET, step.mode};
  if (loops_above && subject.own_pair()) {
    const RecursionGuard::SameValueRun run = guard.run_below_top();
    if (has_run_above(run)) place.on_value = state.memo.on_value_index(run.definitions);
  }
  CheckMemo::Outcome outcome{member, met_limit, met_cycle, static_cast<std::uint32_t>(levels), {}};
  if (report) outcome.items = relative_items(report->errors, step.first_item, report->path.size());
  state.memo.store(place, held, std::move(outcome));
}

bool walk_shared_item(const SchemaNode& node, PyObject* item, Path& path, WalkContext ctx, ErrorList& errors) {
  CheckState& state = *ctx.state;
  if (state.fatal_seen) return false;
  state.memo.start();
  // A Ref step keeps its own outcome.
  if (node.kind == NodeKind::Ref) return walk(node, item, path, ctx, errors);
  return walk_memoised(node, MemoSubject::node(node), item, path, ctx, errors);
}

namespace {

// In line in both callers: the memoised Ref step keeps one frame.
[[gnu::always_inline]] inline bool memoised_walk(const SchemaNode& node, MemoSubject subject, PyObject* value,
                                                 Path& path, WalkContext ctx, ErrorList& errors) {
  CheckState& state = *ctx.state;
  const MemoLookup lookup = begin_memo_step(state, subject, value, MemoMode::BooleanOnly, nullptr);
  if (lookup.known) return lookup.known->member;
  const bool member = walk(node, value, path, ctx, errors);
  end_memo_step(state, lookup.step, value, member, nullptr);
  return member;
}

}  // namespace

[[gnu::noinline]] bool walk_memoised(const SchemaNode& node, MemoSubject subject, PyObject* value, Path& path,
                                     WalkContext ctx, ErrorList& errors) {
  return memoised_walk(node, subject, value, path, ctx, errors);
}

[[gnu::noinline]] bool walk_entered_ref(std::uint64_t definition, PyObject* value, Path& path, WalkContext ctx,
                                        ErrorList& errors) {
  CheckState& state = *ctx.state;
  const ActivePair active(state.guard, value, definition);
  return walk(state.schema->definitions[definition], value, path, ctx, errors);
}

[[gnu::noinline]] bool walk_entered_ref_memoised(std::uint64_t definition, PyObject* value, Path& path,
                                                 WalkContext ctx, ErrorList& errors) {
  CheckState& state = *ctx.state;
  // Left after the outcome is kept: the store reads the levels with the pair still entered.
  const ActivePair active(state.guard, value, definition);
  return memoised_walk(state.schema->definitions[definition], MemoSubject::definition(definition), value, path, ctx,
                       errors);
}

}  // namespace quillmar::ext
