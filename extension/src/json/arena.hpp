// Bump allocation in growing blocks: addresses never move, so container nodes
// can point at their children as soon as the children are placed.
#pragma once

#include <algorithm>
#include <cstddef>
#include <memory>
#include <new>
#include <vector>

namespace quillmar::ext {

class JsonArena {
 public:
  JsonArena() = default;
  JsonArena(JsonArena&&) noexcept = default;
  JsonArena& operator=(JsonArena&&) noexcept = default;

  // Uninitialised room for bytes, aligned to align (a power of two <= 16).
  void* allocate(std::size_t bytes, std::size_t align) {
    std::size_t start = (used_ + align - 1) & ~(align - 1);
    if (blocks_.empty() || start + bytes > capacity_) {
      std::size_t size = std::max(bytes, next_block_);
      next_block_ = std::min<std::size_t>(next_block_ * 2, max_block);
      blocks_.push_back(std::unique_ptr<Chunk[]>(new Chunk[(size + sizeof(Chunk) - 1) / sizeof(Chunk)]));
      capacity_ = size;
      start = 0;
    }
    used_ = start + bytes;
    return reinterpret_cast<std::byte*>(blocks_.back().get()) + start;
  }

 private:
  struct alignas(16) Chunk {
    std::byte bytes[16];
  };
  static constexpr std::size_t max_block = std::size_t{1} << 20;

  std::vector<std::unique_ptr<Chunk[]>> blocks_;
  std::size_t used_ = 0;
  std::size_t capacity_ = 0;
  std::size_t next_block_ = 4096;
};

}  // namespace quillmar::ext
