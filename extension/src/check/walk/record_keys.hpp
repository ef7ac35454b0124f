// The key map a record rule reads, for the Python walk and the JSON tree walk.
#pragma once

#include <cstddef>
#include <memory>
#include <optional>

#include "check/walk/check_tables.hpp"
#include "check/walk/walk.hpp"

namespace quillmar::ext {

// The precomputed map, else one built now into local (a record outside the
// validator's own tables). nullptr when building it failed; the MemoryError
// is then stored as the check's fatal error. local lives on the heap, so the
// rule's frame stays small on the walk's recursive path.
const RecordIndex* record_keys(const SchemaNode& node, const WalkContext& ctx, std::unique_ptr<RecordIndex>& local);

// The declared key an entry's key stands for: a str (or subclass) by its text.
std::optional<std::size_t> declared_key(const RecordIndex& index, PyObject* key);

}  // namespace quillmar::ext
