// The body of an entered Ref step, answered from the check's memo where the
// same definition already walked the same value. Shared by the Python walk
// and the JSON tree walk; kept out of line so that the walk's own frames stay
// small when the memo is off.
#pragma once

#include "check/walk/walk.hpp"

namespace quillmar::ext {

// The items recorded at base_depth and below, with their paths made relative.
std::vector<ErrorItem> relative_items(const ErrorList& errors, std::size_t first, std::size_t base_depth);
// Appends stored items below the current path.
void replay_items(const std::vector<ErrorItem>& items, const Path& path, ErrorList& errors);

MemoMode memo_mode(WalkContext ctx, const ErrorList& errors);

// walk_body() walks the definition's body over the value; the pair is already
// entered in the guard. path and errors are null for a walk that records
// nothing.
template <class WalkBody>
[[gnu::noinline]] bool memoised_body(CheckState& state, std::uint64_t definition, const void* identity,
                                     PyObject* held, MemoMode mode, Path* path, ErrorList* errors,
                                     WalkBody&& walk_body) {
  CheckMemo& memo = state.memo;
  RecursionGuard& guard = state.guard;
  const std::size_t levels_before = guard.size() - 1;
  // The context above this step's own pair: the same for every walk of the
  // value from the same place.
  const std::uint64_t context = guard.context_below_top();
  const CheckMemo::Outcome* anywhere = memo.find(definition, identity, mode, CheckMemo::ANY_CONTEXT);
  const CheckMemo::Outcome* known = anywhere && levels_before + anywhere->levels <= MAX_RECURSION_LEVELS
                                        ? anywhere
                                        : memo.find(definition, identity, mode, context);
  if (known) {
    if (errors) replay_items(known->items, *path, *errors);
    return known->member;
  }
  const std::size_t first = errors ? errors->size() : 0;
  const std::uint64_t refusals = guard.refusals();
  const std::size_t outer_peak = guard.restart_peak();
  const bool member = walk_body();
  const std::size_t levels = guard.peak() - levels_before;
  guard.merge_peak(outer_peak);
  // A fatal exception leaves the answer meaningless.
  if (state.fatal_seen) return member;
  const bool path_free = guard.refusals() == refusals;
  if (path_free && anywhere) return member;
  CheckMemo::Outcome outcome{member, static_cast<std::uint32_t>(levels), {}};
  if (errors) outcome.items = relative_items(*errors, first, path->size());
  memo.store(definition, identity, held, mode, path_free ? CheckMemo::ANY_CONTEXT : context, std::move(outcome));
  return member;
}

}  // namespace quillmar::ext
