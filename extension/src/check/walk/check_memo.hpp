// The outcomes of the Ref steps one check has already walked, so that a value
// met again under the same definition is answered from the first walk. Without
// it a union whose members overlap and recurse walks a failing value once per
// route through the members, which doubles with every level of the value.
// Items held at several places are kept the same way by the node that walks
// them, so that a shared value costs its distinct objects.
//
// An outcome is kept by (definition, value, mode). A walk that met an active
// pair entered before it (a loop through a pair above) depends on that pair
// being active, so its outcome is kept also by the definitions active on the
// same value above the step: when the value does not hold itself, those are
// the only active pairs the walk can meet again. A walk that met no level
// limit holds wherever the levels it took still fit under the limit; one that
// met it holds for the same levels before it alone, so a value is walked at
// most once per level count and never once per route. A value that holds
// itself meets its own pairs as loops; its outcome is kept as it was first
// met, so its report grows with the value, not its routes. The guard's pairs
// carry no mode while outcomes are kept by mode: a walk that accepts visits
// the same steps in every mode, and a loop's rejection is a rejection in
// every mode, so the two agree.
#pragma once

#include <Python.h>

#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <vector>

#include "check/walk/recursion_guard.hpp"
#include "errors/error_item.hpp"
#include "py/ref.hpp"

namespace quillmar::ext {

// What a reporting walk's items depend on beside the node and the value: the
// mode, and in FailFast whether an item already stood before the step (a
// record's report ends once any does).
enum class MemoMode : std::uint8_t { BooleanOnly, CollectAll, FailFastClean, FailFastAfterItem };

// What a memoised step carries from its lookup past the body's walk to its
// store. Kept by the memo, in the order the steps nest, rather than in the
// step's frame, which stands on the walk's recursive path; the place is found
// again from the guard, which is as it was once the body's walk ends.
struct MemoStep {
  const void* identity;
  std::uint64_t schema;
  std::uint32_t limits;  // the guard's counts before the body's walk, as far as they differ
  std::uint32_t cycles;
  std::uint32_t outer_peak;
  std::uint32_t outer_lowest_loop;
  std::uint32_t first_item;
  MemoMode mode;
  bool free_kept;  // an outcome that met no limit is kept, but its levels do not fit here
};

class CheckMemo {
 public:
  struct Outcome {
    bool member = false;
    bool met_limit = false;  // the walk met the level limit: it holds for its levels before alone
    bool met_cycle = false;  // the walk met a pair of a value that holds itself
    std::uint32_t levels = 0;  // guard levels the walk took, its own included
    std::vector<ErrorItem> items;  // paths relative to the step's place, each item once
  };

  // The budget of an outcome that met no level limit, and the definitions on
  // the value of one that met no loop through a pair above it.
  static constexpr std::uint16_t ANY_BUDGET = UINT16_MAX;
  static constexpr std::uint32_t ANY_ON_VALUE = 0;

  // Where a step stands: what it walks (a definition's index, or a node's
  // address) and over which value, the definitions active on the value above
  // it (an index of on_value_index, or ANY_ON_VALUE), and the levels active
  // before it (or ANY_BUDGET). Small, since every step hashes one.
  struct Place {
    std::uint64_t schema;
    const void* identity;
    std::uint32_t on_value;
    std::uint16_t budget;
    MemoMode mode;

    bool operator==(const Place&) const = default;
  };

  CheckMemo();
  ~CheckMemo();
  CheckMemo(const CheckMemo&) = delete;
  CheckMemo& operator=(const CheckMemo&) = delete;

  bool on() const { return on_; }
  void start() { on_ = true; }

  const Outcome* find(const Place& place) const;
  // Keeps the outcome unless one is kept for the place; a Python value is held
  // so that its address stays its own until the check ends.
  void store(const Place& place, PyObject* held, Outcome outcome);

  // The index that stands for a set of definitions in a Place; none for a set
  // no outcome was kept for.
  std::uint32_t on_value_index(const RecursionGuard::DefinitionSet& definitions);
  std::optional<std::uint32_t> known_on_value(const RecursionGuard::DefinitionSet& definitions) const;

  // Whether any outcome is kept for one budget, or for the definitions on its
  // value: most checks keep none, and skip those lookups.
  bool keeps_budgeted() const { return keeps_budgeted_; }
  bool keeps_on_value() const { return keeps_on_value_; }

  // The steps whose bodies are being walked, innermost last.
  std::vector<MemoStep>& steps() { return steps_; }

 private:
  struct Table;

  bool on_ = false;
  std::unique_ptr<Table> table_;
  std::vector<MemoStep> steps_;
  bool keeps_budgeted_ = false;
  bool keeps_on_value_ = false;
};

}  // namespace quillmar::ext
