// The outcomes of the Ref steps one check has already walked, so that a value
// met again under the same definition is answered from the first walk. Without
// it a union whose members overlap and recurse walks a failing value once per
// route through the members, which doubles with every level of the value.
//
// A walk the recursion guard refused nothing in depends only on (definition,
// value, mode): its outcome is kept for any place where the levels it needed
// still fit under the limit. Since every Ref step that starts while the memo
// is on keeps its outcome, a value whose walk would meet an active pair of the
// current path is answered by that pair's own entry before the walk gets
// there. A walk that met a refusal (a loop, the level limit) depends on the
// pairs active above it, so its outcome is kept only for the same path: the
// same guard context. The guard's pairs carry no mode while outcomes are kept
// by mode: a walk that accepts visits the same steps in every mode, and a
// loop's rejection is a rejection in every mode, so the two agree.
#pragma once

#include <Python.h>

#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

#include "errors/error_item.hpp"
#include "py/ref.hpp"

namespace quillmar::ext {

// What a reporting walk's items depend on beside the node and the value: the
// mode, and in FailFast whether an item already stood before the step (a
// record's report ends once any does).
enum class MemoMode : std::uint8_t { BooleanOnly, CollectAll, FailFastClean, FailFastAfterItem };

class CheckMemo {
 public:
  struct Outcome {
    bool member = false;
    std::uint32_t levels = 0;  // guard levels the walk took, its own included
    std::vector<ErrorItem> items;  // paths relative to the step's place
  };

  // The context of an outcome that holds on every path.
  static constexpr std::uint64_t ANY_CONTEXT = UINT64_MAX;

  CheckMemo();
  ~CheckMemo();
  CheckMemo(const CheckMemo&) = delete;
  CheckMemo& operator=(const CheckMemo&) = delete;

  bool on() const { return on_; }
  void start() { on_ = true; }

  // context is ANY_CONTEXT or the guard context the outcome was met in.
  const Outcome* find(std::uint64_t definition, const void* identity, MemoMode mode, std::uint64_t context) const;
  // Keeps the outcome; a Python value is held so that its address stays its
  // own until the check ends.
  void store(std::uint64_t definition, const void* identity, PyObject* held, MemoMode mode, std::uint64_t context,
             Outcome outcome);

 private:
  struct Table;

  bool on_ = false;
  std::unique_ptr<Table> table_;
};

}  // namespace quillmar::ext
