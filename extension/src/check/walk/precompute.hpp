// A compiled schema's lookup tables: built once per validator, free of Python
// objects, shared read-only by every thread that checks with it.
#pragma once

#include "py/error.hpp"

namespace quillmar::ext {

struct CompiledSchema;

struct Precompute {};

// The schema's tables, built by the first check that finds the cell empty.
Result<const Precompute*> ensure_precompute(const CompiledSchema& schema);

}  // namespace quillmar::ext
