// The body of an entered Ref step, answered from the check's memo where the
// same definition already walked the same value. Shared by the Python walk
// and the JSON tree walk; out of line, so that the walk's own frames stay
// small when the memo is off, and small itself, since the body's walk runs
// below it.
#pragma once

#include "check/walk/walk.hpp"

namespace quillmar::ext {

MemoMode memo_mode(WalkContext ctx, const ErrorList& errors);

// What a step carries from its lookup past the body's walk to its store.
struct MemoStep {
  std::uint64_t context;  // the guard context above the step's own pair
  std::uint64_t refusals;  // the guard's refusals before the body's walk
  std::uint32_t levels_before;
  std::uint32_t outer_peak;
  std::uint32_t first_item;
  bool stored_anywhere;  // an outcome for any context exists, but its levels do not fit here
};

// The outcome to reuse, replayed below path into errors when those are given
// (nullptr for a walk that records nothing); else nullptr, with step ready for
// the body's walk.
const CheckMemo::Outcome* begin_memo_step(CheckState& state, std::uint64_t definition, const void* identity,
                                          MemoMode mode, const Path* path, ErrorList* errors, MemoStep& step);
// Keeps the body's outcome, unless a fatal exception made it meaningless.
void end_memo_step(CheckState& state, std::uint64_t definition, const void* identity, PyObject* held, MemoMode mode,
                   const MemoStep& step, bool member, const Path* path, const ErrorList* errors);

}  // namespace quillmar::ext
