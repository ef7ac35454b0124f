// Tying the knot of a recursive schema.
#pragma once

#include <cstdint>
#include <span>

#include "quillmar/core/node.hpp"

namespace quillmar::core {

// A copy of body with every Placeholder of the given id replaced by
// Ref(definition). Refs are not followed.
SchemaNode bind_placeholder(const SchemaNode& body, std::uint64_t placeholder_id, std::uint64_t definition);

// True when a Ref to definition is reachable from node through union,
// intersection, complement and refinement alone (no structural constructor
// in between). Refs to other definitions are not followed.
bool has_unguarded_ref(const SchemaNode& node, std::uint64_t definition, bool guarded);

// The contractiveness test once binding may have reached other definitions:
// like has_unguarded_ref with guarded false, but a Ref to another definition
// inside `definitions` is followed into its body (each body at most once), so
// an unguarded cycle such as body -> definitions[j] -> Ref(definition) counts.
// Refs past the end of `definitions` are not followed.
bool has_unguarded_cycle(const SchemaNode& body, std::uint64_t definition, std::span<const SchemaNode> definitions);

}  // namespace quillmar::core
