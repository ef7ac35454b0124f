// The emptiness decision: whether a schema provably admits no value.
//
// Sound, not complete: `empty` is set only when proven. As a by-product it
// says when a schema's set is exactly a union of base value classes, which the
// complement rule and the inclusion decision build on.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <vector>

#include "quillmar/core/decision/oracle.hpp"
#include "quillmar/core/node.hpp"

namespace quillmar::core {

// A set of base value classes, one bit each.
using KindMask = std::uint8_t;
inline constexpr KindMask NONE_KIND = 0x01;
inline constexpr KindMask BOOL_KIND = 0x02;
inline constexpr KindMask INT_KIND = 0x04;  // int that is not bool
inline constexpr KindMask FLOAT_KIND = 0x08;
inline constexpr KindMask STR_KIND = 0x10;
inline constexpr KindMask BYTES_KIND = 0x20;
inline constexpr KindMask OTHER_KIND = 0x40;  // every other value
inline constexpr KindMask ALL_KINDS = 0x7F;

struct Emptiness {
  bool empty = false;
  bool exact = false;   // the set is exactly the union of the classes in kinds
  KindMask kinds = 0;   // meaningful only when exact
};

// The definitions being expanded on the current path of one emptiness call
// tree. Meeting one again means the path recurs without reaching a value.
class ExpansionStack {
 public:
  bool contains(std::uint64_t definition) const {
    return definition < on_stack_.size() && on_stack_[definition];
  }
  void push(std::uint64_t definition);
  void pop();
  std::size_t size() const { return indices_.size(); }
  bool empty() const { return indices_.empty(); }

 private:
  std::vector<std::uint64_t> indices_;
  std::vector<bool> on_stack_;  // by definition index, for a constant-time test
};

// The class a node is known to lie in, looking through Refined bases.
enum class BaseClass : std::uint8_t { None, Bool, Int, Float, Str, Bytes, List, Tuple, Set, FrozenSet, Record };

std::optional<BaseClass> base_class(const SchemaNode& node);

// Differ, except Bool with Int (bool values are ints).
bool classes_disjoint(BaseClass a, BaseClass b);

struct ExactKinds {
  bool exact = false;
  KindMask kinds = 0;
};

// `depth` counts decision steps already active on the caller's path, so that
// a nested call stays within MAX_DECISION_DEPTH; top-level callers pass 0.
Emptiness emptiness(const SchemaNode& node, HostOracle& oracle, std::span<const SchemaNode> definitions,
                    ExpansionStack& stack, std::uint32_t& counter, std::uint32_t depth = 0);

bool pattern_is_empty(const SeqPattern& pattern, HostOracle& oracle, std::span<const SchemaNode> definitions,
                      ExpansionStack& stack, std::uint32_t& counter, std::uint32_t depth = 0);

// Some member is Complement(X), X not Any, and some member equals X.
bool has_complementary_pair(std::span<const SchemaNode> members);

// Some member is Nothing, or two members lie in disjoint known classes.
bool has_disjoint_classes(std::span<const SchemaNode> members);

// The bounds and lengths of all Refined members, taken together, cannot all
// hold. Never asks for integer gaps.
bool refinements_contradict(std::span<const SchemaNode> members, HostOracle& oracle);

// The constraints of one Refined node cannot all hold; integer gaps are asked
// only when the node's innermost base is Int.
bool constraints_contradict(std::span<const Constraint> constraints, HostOracle& oracle, bool base_is_int);

// Exactness without budget or oracle.
ExactKinds exact_kinds(const SchemaNode& node, std::uint32_t depth = 0);

// A whole query: a fresh counter at WORK_BUDGET and an empty expansion stack.
bool query_is_empty(const SchemaNode& root, HostOracle& oracle, std::span<const SchemaNode> definitions);

}  // namespace quillmar::core
