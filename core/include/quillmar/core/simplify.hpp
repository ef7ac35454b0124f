// The simplifier: an equivalent normal form of a schema tree, decided from the
// tree alone (no oracle, no budget, no Python code).
//
// Unions and intersections come out flattened, sorted by compare_nodes and
// free of duplicates and neutral members; complements sit only on leaves
// (negation normal form); Refined chains are merged into one node with sorted,
// duplicate-free constraints. Ref nodes and the definitions behind them are
// left alone. The input is never changed; the normal form may hold more nodes
// than the input (a complement over a union becomes an intersection of
// complements). A tree too deep for the native stack left to the thread
// throws StackExhausted.
#pragma once

#include <vector>

#include "quillmar/core/node.hpp"

namespace quillmar::core {

SchemaNode simplify_node(const SchemaNode& node);

// The pattern's structure is kept; only the nodes inside its Items change.
SeqPattern simplify_pattern(const SeqPattern& pattern);

// Members already in normal form, gathered (no neutral member, none of the
// node's own kind); the answer is the normal form of their union or
// intersection.
SchemaNode normalize_union(std::vector<SchemaNode> members);
SchemaNode normalize_intersection(std::vector<SchemaNode> members);

// The normal form of the complement of a normal-form node.
SchemaNode negate(SchemaNode node);
void negate_members(std::vector<SchemaNode>& members);

}  // namespace quillmar::core
