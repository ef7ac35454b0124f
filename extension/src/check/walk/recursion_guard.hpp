// The (value identity, definition) pairs active on the current path of one
// check.
#pragma once

#include <cstdint>
#include <utility>
#include <vector>

namespace quillmar::ext {

struct RecursionGuard {
  std::vector<std::pair<const void*, std::uint64_t>> active;
};

}  // namespace quillmar::ext
