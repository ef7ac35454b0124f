// Size and nesting depth of a tree, held against the schema limits.
// A Ref is a leaf here: its definition is measured on its own.
#pragma once

#include <cstdint>
#include <vector>

#include "quillmar/core/node.hpp"

namespace quillmar::core {

// Nodes in the tree, plus one per constraint.
std::uint64_t node_count(const SchemaNode& node);
// Gives every node of the root and the definitions its slot, 0 upwards in
// depth-first order; answers how many were given.
std::uint32_t number_nodes(SchemaNode& root, std::vector<SchemaNode>& definitions);
std::uint64_t pattern_node_count(const SeqPattern& pattern);

// Nesting depth; a leaf is 1.
std::uint64_t node_depth(const SchemaNode& node);
std::uint64_t pattern_depth(const SeqPattern& pattern);

}  // namespace quillmar::core
