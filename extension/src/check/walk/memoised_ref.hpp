// The body of an entered Ref step, answered from the check's memo where the
// same definition already walked the same value, and the walk of a shared
// item, where the same node already walked it. Shared by the Python walk and
// the JSON tree walk; out of line, so that the walk's own frames stay small
// when the memo is off, and small itself, since the body's walk runs below it.
#pragma once

#include "check/walk/walk.hpp"

namespace quillmar::ext {

MemoMode memo_mode(WalkContext ctx, const ErrorList& errors);

// Where a reporting step records: the value's place and the list; none for a
// walk that records nothing.
struct MemoReport {
  PyObject* value;
  const Path& path;
  ErrorList& errors;
};

// What a kept walk walks: the body of a definition behind the Ref step whose
// pair the guard entered last, or a node over an item. One word: a node's
// address never lies below the definitions' indices.
struct MemoSubject {
  std::uint64_t schema;

  static MemoSubject definition(std::uint64_t index) { return {index}; }
  static MemoSubject node(const SchemaNode& node) { return {reinterpret_cast<std::uintptr_t>(&node)}; }
  bool own_pair() const { return schema < MAX_DEFINITIONS; }
};

// The boolean walk of node over value, answered from the memo where the
// subject already walked the value from a place like this one, and kept
// otherwise.
bool walk_memoised(const SchemaNode& node, MemoSubject subject, PyObject* value, Path& path, WalkContext ctx,
                   ErrorList& errors);
// The boolean walk of the body of a Ref step whose pair the guard entered,
// without and with the memo; each leaves the pair as it ends. The Ref step
// hands over in tail position, so a recursive level costs one of these
// frames.
bool walk_entered_ref(std::uint64_t definition, PyObject* value, Path& path, WalkContext ctx, ErrorList& errors);
bool walk_entered_ref_memoised(std::uint64_t definition, PyObject* value, Path& path, WalkContext ctx,
                               ErrorList& errors);

// The outcome to reuse, replayed into the report when there is one; else no
// outcome, and the step the body's walk is to end.
struct MemoLookup {
  const CheckMemo::Outcome* known;
  std::uint32_t step;
};
MemoLookup begin_memo_step(CheckState& state, MemoSubject subject, const void* identity, MemoMode mode,
                           const MemoReport* report);
// Keeps the body's outcome, unless a fatal exception made it meaningless.
// held is the Python value the identity is the address of, if any.
void end_memo_step(CheckState& state, std::uint32_t step, PyObject* held, bool member, const MemoReport* report);

}  // namespace quillmar::ext
