// Shared internals of the emptiness and inclusion decisions.
#pragma once

#include <cstdint>
#include <span>
#include <unordered_map>

#include "quillmar/core/decision/emptiness.hpp"
#include "quillmar/core/decision/oracle.hpp"
#include "quillmar/core/node.hpp"

namespace quillmar::core::decision_detail {

// Structural equality with an explicit work list instead of recursion, so
// that trees of any depth compare without growing the native stack.
bool trees_equal(const SchemaNode& a, const SchemaNode& b);

// A hash consistent with trees_equal that looks at a bounded number of nodes
// near the root: cheap on every step, and distinct enough to index the
// assumption stack (collisions are settled by trees_equal).
std::uint64_t shallow_hash(const SchemaNode& node);

// Structural equality for the steps of one query. Whole-tree hashes are kept
// by node address, so trees that differ far below the root are told apart in
// constant time once they have been hashed; a hash match is confirmed in
// full. Nodes do not change during a query, and a stale address could only
// hide an equality, never invent one.
class StructureCache {
 public:
  bool equal(const SchemaNode& a, const SchemaNode& b);
  bool equal(const SeqPattern& a, const SeqPattern& b);

 private:
  std::uint64_t hash(const SchemaNode& node);
  std::uint64_t hash(const SeqPattern& pattern);

  std::unordered_map<const SchemaNode*, std::uint64_t> node_hashes_;
  std::unordered_map<const SeqPattern*, std::uint64_t> pattern_hashes_;
};

// What an emptiness call from inside another decision shares with it. Each
// call starts its own empty expansion stack.
struct EmptinessQuery {
  HostOracle& oracle;
  std::span<const SchemaNode> definitions;
  std::uint32_t& counter;
  StructureCache& structure;
  StackGuard stack;
};

// `depth` is that of the decided node's own step.
Emptiness node_emptiness(const SchemaNode& node, const EmptinessQuery& query, std::uint32_t depth);

// Emptiness of Intersection(members...) and of Complement(inner) without
// building either node: the decision spends and recurses exactly as it would
// over the built node.
Emptiness intersection_emptiness(std::span<const SchemaNode* const> members, const EmptinessQuery& query,
                                 std::uint32_t depth);
Emptiness complement_emptiness(const SchemaNode& inner, const EmptinessQuery& query, std::uint32_t depth);

}  // namespace quillmar::core::decision_detail
