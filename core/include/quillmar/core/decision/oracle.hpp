// What the decisions ask the host, and the work limits of one query.
//
// The core never holds a Python object: class relations, literal membership,
// the order of pool constants and integer gaps are asked through HostOracle.
// Every query runs under one shared work counter so that it always ends, and
// under a nesting cap and a stack guard so that it never exhausts the native
// stack.
#pragma once

#include <cstdint>
#include <span>

#include "quillmar/core/node.hpp"
#include "quillmar/core/stack_guard.hpp"

namespace quillmar::core {

namespace decision_detail {
class StructureCache;
}

// Only Yes is ever acted on; No and Unknown both mean "not proven".
enum class Verdict : std::uint8_t { No = 0, Yes = 1, Unknown = 2 };

// Unknown: the host cannot order the two constants.
enum class ConstOrder : std::int8_t { Less = -1, Equal = 0, Greater = 1, Unknown = -2 };

// Implementations never raise and answer soundly: Yes, Less, Equal and Greater
// only when the host itself says so, Unknown whenever it cannot tell. Calls are
// free: they do not spend the work budget.
class HostOracle {
 public:
  virtual ~HostOracle() = default;

  // Yes only when every member of sub is a member of sup.
  virtual Verdict leaf_subtype(const SchemaNode& sub, const SchemaNode& sup) = 0;

  // How the pool constant at a stands to the one at b.
  virtual ConstOrder compare_constants(std::uint64_t a, std::uint64_t b) = 0;

  // Yes only when no integer x has x > lo (x >= lo unless lo_strict) and
  // x < hi (x <= hi unless hi_strict); lo and hi are pool indices.
  virtual Verdict no_integer_between(std::uint64_t lo, bool lo_strict, std::uint64_t hi, bool hi_strict) = 0;
};

// Steps of emptiness and inclusion one query may take, both directions of an
// equivalence together.
inline constexpr std::uint32_t WORK_BUDGET = 1'000'000;

// Decision steps that may be active at once on one path. The budget alone
// would allow nesting far beyond what the native stack holds; a step past the
// cap answers "not proven", which is always sound.
inline constexpr std::uint32_t MAX_DECISION_DEPTH = 2'000;

// A step at the cap, or too close to the end of the native stack to go on,
// answers "not proven".
[[gnu::always_inline]] inline bool step_too_deep(std::uint32_t depth, const StackGuard& stack) {
  return depth >= MAX_DECISION_DEPTH || stack.exhausted();
}

// Carried by value into every inclusion step; every copy shares the counter.
struct DecisionContext {
  HostOracle& oracle;
  std::span<const SchemaNode> definitions;  // the bodies that Ref nodes index
  std::uint32_t* counter;                   // the query's remaining work
  std::uint32_t depth = 0;                  // active decision steps above this one
  // Structural comparisons shared by the steps of one query; an entry point
  // given none makes its own.
  decision_detail::StructureCache* structure = nullptr;
  StackGuard stack{};  // read when the query starts
};

inline bool is_yes(Verdict verdict) { return (static_cast<std::uint8_t>(verdict) & 1u) != 0; }

// Spends one unit of work; false (and nothing spent) when none is left.
inline bool spend_work(std::uint32_t& counter) {
  if (counter == 0) return false;
  --counter;
  return true;
}

}  // namespace quillmar::core
