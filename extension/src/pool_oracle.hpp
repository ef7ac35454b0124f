// The host oracle of the decisions, answering with Python's own operations
// over one compiled schema's pool and definitions.
//
// Nothing leaves it: every Python exception met while answering, fatal ones
// included, is cleared and the answer is "not proven".
#pragma once

#include <Python.h>

#include "compiled_schema.hpp"
#include "py/error.hpp"
#include "quillmar/core/decision/oracle.hpp"

namespace quillmar::ext {

// math.floor and math.ceil, loaded once per process. Raw strong references:
// they live for the rest of the process and are never released.
struct MathCache {
  PyObject* floor;
  PyObject* ceil;
};

Result<const MathCache*> math_cache();

class PoolOracle final : public core::HostOracle {
 public:
  // Borrows schema for the length of one query; its root is never read.
  explicit PoolOracle(const CompiledSchema& schema) : schema_(schema) {}

  core::Verdict leaf_subtype(const SchemaNode& sub, const SchemaNode& sup) override;
  core::ConstOrder compare_constants(std::uint64_t a, std::uint64_t b) override;
  core::Verdict no_integer_between(std::uint64_t lo, bool lo_strict, std::uint64_t hi, bool hi_strict) override;

 private:
  core::Verdict instance_subtype(const SchemaNode& sub, const SchemaNode& sup);
  core::Verdict literal_subtype(const SchemaNode& sub, const SchemaNode& sup);

  const CompiledSchema& schema_;
};

}  // namespace quillmar::ext
