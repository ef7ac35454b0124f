// The (value identity, definition) pairs of the Ref steps active on the
// current path of one check: what keeps a recursive schema's check finite
// against a value that contains itself or nests without end.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <utility>

namespace quillmar::ext {

// The most Ref steps active at once on one walk path.
inline constexpr std::uint64_t MAX_RECURSION_LEVELS = 128;

// An open-addressing set with room for every pair the limit allows at a load
// of at most one half, so each step is one hash and a short probe. The table
// is allocated by the first Ref step: a check that meets no Ref never touches
// it.
class RecursionGuard {
 public:
  enum class Entry : std::uint8_t { Entered, Loop, Limit };

  // Adds the pair unless it is already active (Loop) or the limit is reached
  // (Limit); only Entered must be followed by leave.
  Entry enter(const void* identity, std::uint64_t definition) {
    if (!slots_) {
      slots_ = std::make_unique<Slot[]>(CAPACITY);
      contexts_ = std::make_unique<std::uint64_t[]>(MAX_RECURSION_LEVELS);
    }
    std::size_t i = home(identity, definition);
    while (slots_[i].identity) {
      if (slots_[i].identity == identity && slots_[i].definition == definition) {
        ++refusals_;
        return Entry::Loop;
      }
      i = (i + 1) & MASK;
    }
    if (size_ >= MAX_RECURSION_LEVELS) {
      ++refusals_;
      return Entry::Limit;
    }
    slots_[i] = Slot{identity, definition};
    contexts_[size_] = ++entries_;
    if (++size_ > peak_) peak_ = size_;
    return Entry::Entered;
  }

  // Removes a pair added by enter, shifting later entries of its probe run
  // back so that no tombstones build up.
  void leave(const void* identity, std::uint64_t definition) {
    std::size_t i = home(identity, definition);
    while (slots_[i].identity != identity || slots_[i].definition != definition) i = (i + 1) & MASK;
    std::size_t hole = i;
    for (std::size_t j = (hole + 1) & MASK; slots_[j].identity; j = (j + 1) & MASK) {
      std::size_t want = home(slots_[j].identity, slots_[j].definition);
      // An entry may fill the hole when its home does not lie in (hole, j].
      bool stays = hole <= j ? (hole < want && want <= j) : (hole < want || want <= j);
      if (!stays) {
        slots_[hole] = slots_[j];
        hole = j;
      }
    }
    slots_[hole] = Slot{};
    --size_;
  }

  // Names the set of pairs active below the newest one: the serial of the
  // entry just below it, which fixes every pair under that, or 0 for none.
  std::uint64_t context_below_top() const { return size_ < 2 ? 0 : contexts_[size_ - 2]; }
  // Pairs entered so far (Ref steps taken), the serial of the newest entry.
  std::uint64_t entered() const { return entries_; }
  // Loops and limits met so far.
  std::uint64_t refusals() const { return refusals_; }

  std::size_t size() const { return size_; }

  // The most pairs held at once since the last restart_peak, which answers
  // the peak before it so that the caller can merge it back.
  std::size_t peak() const { return peak_; }
  std::size_t restart_peak() { return std::exchange(peak_, size_); }
  void merge_peak(std::size_t earlier) {
    if (earlier > peak_) peak_ = earlier;
  }

 private:
  struct Slot {
    const void* identity = nullptr;  // null marks an empty slot; a value is never null
    std::uint64_t definition = 0;
  };

  static constexpr std::size_t CAPACITY = 256;
  static constexpr std::size_t MASK = CAPACITY - 1;
  static_assert(CAPACITY >= 2 * MAX_RECURSION_LEVELS && (CAPACITY & MASK) == 0);

  static std::size_t home(const void* identity, std::uint64_t definition) {
    std::uint64_t h = static_cast<std::uint64_t>(reinterpret_cast<std::uintptr_t>(identity)) ^
                      (definition * 0x9E3779B97F4A7C15ull);
    h *= 0xBF58476D1CE4E5B9ull;
    return static_cast<std::size_t>(h >> 56) & MASK;
  }

  std::unique_ptr<Slot[]> slots_;
  std::unique_ptr<std::uint64_t[]> contexts_;  // entry serial by level
  std::size_t size_ = 0;
  std::size_t peak_ = 0;
  std::uint64_t entries_ = 0;
  std::uint64_t refusals_ = 0;
};

}  // namespace quillmar::ext
