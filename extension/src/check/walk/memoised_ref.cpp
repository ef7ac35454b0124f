#include "check/walk/memoised_ref.hpp"

namespace quillmar::ext {
namespace {

// The items recorded at base_depth and below, with their paths made relative.
std::vector<ErrorItem> relative_items(const ErrorList& errors, std::size_t first, std::size_t base_depth) {
  std::vector<ErrorItem> items;
  items.reserve(errors.size() - first);
  for (std::size_t i = first; i < errors.size(); ++i) {
    const ErrorItem& item = errors[i];
    Path below(item.path.begin() + static_cast<std::ptrdiff_t>(base_depth), item.path.end());
    items.push_back(ErrorItem{std::move(below), item.expected, item.value, item.code, item.found.clone()});
  }
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

const CheckMemo::Outcome* begin_memo_step(CheckState& state, std::uint64_t definition, const void* identity,
                                          MemoMode mode, const Path* path, ErrorList* errors, MemoStep& step) {
  const CheckMemo& memo = state.memo;
  RecursionGuard& guard = state.guard;
  const std::size_t levels_before = guard.size() - 1;
  // The same for every walk of the value from the same place.
  const std::uint64_t context = guard.context_below_top();
  const CheckMemo::Outcome* anywhere = memo.find(definition, identity, mode, CheckMemo::ANY_CONTEXT);
  const CheckMemo::Outcome* known = anywhere && levels_before + anywhere->levels <= MAX_RECURSION_LEVELS
                                        ? anywhere
                                        : memo.find(definition, identity, mode, context);
  if (known) {
    // The levels the reused walk took count for every step around this one.
    guard.merge_peak(levels_before + known->levels);
    if (errors) replay_items(known->items, *path, *errors);
    return known;
  }
  step.context = context;
  step.refusals = guard.refusals();
  step.levels_before = static_cast<std::uint32_t>(levels_before);
  step.outer_peak = static_cast<std::uint32_t>(guard.restart_peak());
  step.first_item = errors ? static_cast<std::uint32_t>(errors->size()) : 0;
  step.stored_anywhere = anywhere != nullptr;
  return nullptr;
}

void end_memo_step(CheckState& state, std::uint64_t definition, const void* identity, PyObject* held, MemoMode mode,
                   const MemoStep& step, bool member, const Path* path, const ErrorList* errors) {
  RecursionGuard& guard = state.guard;
  const std::size_t levels = guard.peak() - step.levels_before;
  guard.merge_peak(step.outer_peak);
  if (state.fatal_seen) return;
  const bool path_free = guard.refusals() == step.refusals;
  if (path_free && step.stored_anywhere) return;
  CheckMemo::Outcome outcome{member, static_cast<std::uint32_t>(levels), {}};
  if (errors) outcome.items = relative_items(*errors, step.first_item, path->size());
  state.memo.store(definition, identity, held, mode, path_free ? CheckMemo::ANY_CONTEXT : step.context,
                   std::move(outcome));
}

}  // namespace quillmar::ext
