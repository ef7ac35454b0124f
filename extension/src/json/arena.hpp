// Bump allocation in growing blocks: addresses never move, so container nodes
// can point at their children as soon as the children are placed.
#pragma once

#include <algorithm>
#include <cstddef>
#include <memory>
#include <new>
#include <utility>
#include <vector>

namespace quillmar::ext {

namespace json_detail {

struct alignas(16) ArenaChunk {
  std::byte bytes[16];
};

struct ArenaBlock {
  std::unique_ptr<ArenaChunk[]> data;
  std::size_t size = 0;  // bytes
};

// Blocks of finished documents kept for the thread's next parse: a fresh
// block of a large document costs a page fault per page, which would
// otherwise be a good part of the parse. At most MAX_BYTES are kept.
class ArenaBlockCache {
 public:
  static constexpr std::size_t MAX_BYTES = std::size_t{8} << 20;

  // The smallest kept block of at least the size, else a new one.
  ArenaBlock take(std::size_t at_least) {
    auto best = blocks_.end();
    for (auto it = blocks_.begin(); it != blocks_.end(); ++it) {
      if (it->size >= at_least && (best == blocks_.end() || it->size < best->size)) best = it;
    }
    if (best != blocks_.end()) {
      ArenaBlock block = std::move(*best);
      *best = std::move(blocks_.back());
      blocks_.pop_back();
      total_ -= block.size;
      return block;
    }
    std::size_t chunks = (at_least + sizeof(ArenaChunk) - 1) / sizeof(ArenaChunk);
    return ArenaBlock{std::unique_ptr<ArenaChunk[]>(new ArenaChunk[chunks]), chunks * sizeof(ArenaChunk)};
  }

  void give(ArenaBlock block) noexcept {
    if (total_ + block.size > MAX_BYTES) return;
    try {
      blocks_.push_back(std::move(block));
      total_ += blocks_.back().size;
    } catch (...) {
      // Not kept: released with the block.
    }
  }

  static ArenaBlockCache& of_this_thread() {
    thread_local ArenaBlockCache cache;
    return cache;
  }

 private:
  std::vector<ArenaBlock> blocks_;
  std::size_t total_ = 0;
};

}  // namespace json_detail

class JsonArena {
 public:
  JsonArena() = default;
  JsonArena(JsonArena&& other) noexcept
      : blocks_(std::move(other.blocks_)), used_(other.used_), capacity_(other.capacity_),
        next_block_(other.next_block_) {
    other.blocks_.clear();
  }
  JsonArena& operator=(JsonArena&& other) noexcept {
    if (this != &other) {
      release();
      blocks_ = std::move(other.blocks_);
      other.blocks_.clear();
      used_ = other.used_;
      capacity_ = other.capacity_;
      next_block_ = other.next_block_;
    }
    return *this;
  }
  ~JsonArena() { release(); }

  // Uninitialised room for bytes, aligned to align (a power of two <= 16).
  void* allocate(std::size_t bytes, std::size_t align) {
    std::size_t start = (used_ + align - 1) & ~(align - 1);
    if (blocks_.empty() || start + bytes > capacity_) {
      std::size_t size = std::max(bytes, next_block_);
      next_block_ = std::min<std::size_t>(next_block_ * 2, max_block);
      blocks_.reserve(blocks_.size() + 1);
      blocks_.push_back(json_detail::ArenaBlockCache::of_this_thread().take(size));
      capacity_ = blocks_.back().size;
      start = 0;
    }
    used_ = start + bytes;
    return reinterpret_cast<std::byte*>(blocks_.back().data.get()) + start;
  }

 private:
  static constexpr std::size_t max_block = std::size_t{1} << 20;

  void release() noexcept {
    json_detail::ArenaBlockCache& cache = json_detail::ArenaBlockCache::of_this_thread();
    for (json_detail::ArenaBlock& block : blocks_) cache.give(std::move(block));
    blocks_.clear();
  }

  std::vector<json_detail::ArenaBlock> blocks_;
  std::size_t used_ = 0;
  std::size_t capacity_ = 0;
  std::size_t next_block_ = 4096;
};

}  // namespace quillmar::ext
