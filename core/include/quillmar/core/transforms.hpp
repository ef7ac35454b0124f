// Tree transforms that copy a schema while changing it. Neither follows a Ref.
#pragma once

#include <cstdint>
#include <span>

#include "quillmar/core/node.hpp"

namespace quillmar::core {

// Copies node with every Record that declares a field opened (its extras
// replaced by the one pair (Anything, Anything)) or closed (no extras).
SchemaNode set_records_open(const SchemaNode& node, bool open);

// How one compiled schema's indices move into another's.
struct PoolRemap {
  std::span<const std::uint64_t> table;  // new pool index by old; past the end: unchanged
  std::uint64_t definition_offset = 0;   // added to every Ref
};

SchemaNode remap_indices(const SchemaNode& node, const PoolRemap& remap);

}  // namespace quillmar::core
