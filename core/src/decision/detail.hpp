// Shared internals of the emptiness and inclusion decisions.
#pragma once

#include <cstdint>
#include <span>

#include "quillmar/core/decision/emptiness.hpp"
#include "quillmar/core/decision/oracle.hpp"
#include "quillmar/core/node.hpp"

namespace quillmar::core::decision_detail {

// Structural equality with an explicit work list instead of recursion, so
// that trees of any depth compare without growing the native stack.
bool trees_equal(const SchemaNode& a, const SchemaNode& b);
bool pattern_trees_equal(const SeqPattern& a, const SeqPattern& b);

// A hash consistent with trees_equal that looks at a bounded number of nodes
// near the root: cheap on every step, and distinct enough to index the
// assumption stack (collisions are settled by trees_equal).
std::uint64_t shallow_hash(const SchemaNode& node);

// Emptiness of Intersection(members...) and of Complement(inner) without
// building either node: the decision spends and recurses exactly as it would
// over the built node. `depth` is that of the built node's own step.
Emptiness intersection_emptiness(std::span<const SchemaNode* const> members, HostOracle& oracle,
                                 std::span<const SchemaNode> definitions, ExpansionStack& stack,
                                 std::uint32_t& counter, std::uint32_t depth);
Emptiness complement_emptiness(const SchemaNode& inner, HostOracle& oracle, std::span<const SchemaNode> definitions,
                               ExpansionStack& stack, std::uint32_t& counter, std::uint32_t depth);

}  // namespace quillmar::core::decision_detail
