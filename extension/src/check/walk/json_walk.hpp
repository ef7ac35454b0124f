// The walk over a parsed JSON tree, for the JSON checks the reading pass
// leaves to it and for its scalars. It answers exactly as
// the boolean walk answers for the value's Python form (json_to_python), but
// reads arrays, objects, strings and numbers from the tree and makes a Python
// object only where a rule needs Python semantics.
#pragma once

#include "check/walk/plain_types.hpp"
#include "check/walk/walk.hpp"
#include "json/value.hpp"

namespace quillmar::ext {

// Membership only: nothing is recorded, whatever ctx.mode says. The value's
// identity for the recursion guard is the node's address.
bool walk_json(const SchemaNode& node, const JsonValue& value, WalkContext ctx);

// Whether walk_json over any value runs no Python code for this schema: no
// predicate, no isinstance through a metaclass, no attribute read, no
// container literal, no bound or divisor but an exact int or float. Its
// answer is then the walk's over the Python form with no side effect to
// tell them apart.
bool json_walk_runs_no_python(const CompiledSchema& schema);

}  // namespace quillmar::ext
