// The walk over a parsed JSON tree, for the JSON checks the reading pass
// leaves to it and for its scalars. It answers exactly as
// the boolean walk answers for the value's Python form (json_to_python), but
// reads arrays, objects, strings and numbers from the tree and makes a Python
// object only where a rule needs Python semantics.
#pragma once

#include <optional>

#include "check/walk/walk.hpp"
#include "json/value.hpp"

namespace quillmar::ext {

// Whether a JSON scalar of this kind is in a node that asks only for a type;
// nullopt for every other node. bool is an int subclass, as in Python.
[[gnu::always_inline]] inline std::optional<bool> plain_type_holds(NodeKind node, JsonKind scalar) {
  switch (node) {
    case NodeKind::Anything:
    case NodeKind::Any:
      return true;
    case NodeKind::Nothing:
    case NodeKind::Bytes:
      return false;
    case NodeKind::None:
      return scalar == JsonKind::Null;
    case NodeKind::Bool:
      return scalar == JsonKind::Bool;
    case NodeKind::Int:
      return scalar == JsonKind::Int || scalar == JsonKind::BigInt || scalar == JsonKind::Bool;
    case NodeKind::Float:
      return scalar == JsonKind::Float;
    case NodeKind::Str:
      return scalar == JsonKind::String;
    case NodeKind::Literal:
    case NodeKind::Sequence:
    case NodeKind::Set:
    case NodeKind::FrozenSet:
    case NodeKind::Record:
    case NodeKind::Union:
    case NodeKind::Intersection:
    case NodeKind::Complement:
    case NodeKind::Instance:
    case NodeKind::Object:
    case NodeKind::Refined:
    case NodeKind::Ref:
    case NodeKind::Placeholder:
      return std::nullopt;
  }
  return std::nullopt;
}

// Whether a node asks only for a type, so that plain_type_holds decides any scalar.
[[gnu::always_inline]] inline bool is_plain_type(NodeKind node) {
  return plain_type_holds(node, JsonKind::Null).has_value();
}

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
