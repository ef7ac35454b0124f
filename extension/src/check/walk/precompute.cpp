#include "check/walk/precompute.hpp"

#include "compiled_schema.hpp"

namespace quillmar::ext {

Result<const Precompute*> ensure_precompute(const CompiledSchema& schema) {
  return schema.precompute->get_or_init([]() -> Result<Precompute> { return Precompute{}; });
}

}  // namespace quillmar::ext
