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

  // The definitions active on one value, one bit each: a check's schema has at
  // most 128 definitions.
  struct DefinitionSet {
    std::uint64_t low = 0;
    std::uint64_t high = 0;

    void add(std::uint64_t definition) {
      (definition < 64 ? low : high) |= std::uint64_t{1} << (definition % 64);
    }
    bool operator==(const DefinitionSet&) const = default;
  };

  // Adds the pair unless it is already active (Loop) or the limit is reached
  // (Limit); only Entered must be followed by leave. path_depth is the
  // length of the value's path where a reporting walk enters it.
  Entry enter(const void* identity, std::uint64_t definition, std::size_t path_depth = 0) {
    if (!slots_) {
      slots_ = std::make_unique<Slot[]>(CAPACITY);
      levels_ = std::make_unique_for_overwrite<Level[]>(MAX_RECURSION_LEVELS);  // each written before read
    }
    std::size_t i = home(identity, definition);
    while (slots_[i].identity) {
      if (slots_[i].identity == identity && slots_[i].definition == definition) {
        loop_depth_ = levels_[slots_[i].level].path_depth;
        merge_lowest_loop(slots_[i].level);
        return Entry::Loop;
      }
      i = (i + 1) & MASK;
    }
    if (size_ >= MAX_RECURSION_LEVELS) {
      ++limits_;
      return Entry::Limit;
    }
    slots_[i] = Slot{identity, static_cast<std::uint32_t>(definition), static_cast<std::uint32_t>(size_)};
    levels_[size_] = Level{identity, static_cast<std::uint32_t>(definition), static_cast<std::uint32_t>(path_depth)};
    ++entries_;
    if (++size_ > peak_) peak_ = size_;
    return Entry::Entered;
  }

  // Removes the newest pair, shifting later entries of its probe run back so
  // that no tombstones build up.
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

  // The definitions active on the newest pair's value below it, and the
  // level of the lowest of them. Only these of the active pairs can meet the
  // newest pair's walk again, unless the value holds itself: a walk below a
  // value reaches only what the value holds, and the pairs above it on other
  // values hold it.
  struct SameValueRun {
    DefinitionSet definitions;
    std::size_t lowest_level;
  };
  SameValueRun run_below_top() const {
    SameValueRun run{{}, size_ - 1};
    if (size_ < 2) return run;
    const void* identity = levels_[size_ - 1].identity;
    for (std::size_t i = size_ - 1; i-- > 0 && levels_[i].identity == identity;) {
      run.definitions.add(levels_[i].definition);
      run.lowest_level = i;
    }
    return run;
  }

  // Pairs entered so far (Ref steps taken).
  std::uint64_t entered() const { return entries_; }
  // Level limits met so far, counting those of outcomes reused.
  std::uint64_t limits() const { return limits_; }
  void count_limit() { ++limits_; }
  // The path length where the pair of the newest loop was entered: a
  // reporting walk that meets a pair deeper in the value than it entered it
  // has found a value that holds itself.
  std::size_t newest_loop_path_depth() const { return loop_depth_; }
  // The lowest level of a pair met as a loop since the last
  // restart_lowest_loop (NO_LOOP for none), which answers the one before it
  // so that the caller can merge it back: a walk whose loops all stand at or
  // above its own level met only pairs it entered itself.
  static constexpr std::uint32_t NO_LOOP = UINT32_MAX;
  std::uint32_t lowest_loop() const { return lowest_loop_; }
  std::uint32_t restart_lowest_loop() { return std::exchange(lowest_loop_, NO_LOOP); }
  void merge_lowest_loop(std::uint32_t level) {
    if (level < lowest_loop_) lowest_loop_ = level;
  }
  // Loops met through a value that holds itself, counting those of outcomes
  // reused.
  std::uint64_t cycles() const { return cycles_; }
  void count_cycle() { ++cycles_; }

  std::size_t size() const { return size_; }

  // The most pairs held at once since the last restart_peak, which answers
  // the peak before it so that the caller can merge it back.
  std::size_t peak() const { return peak_; }
  std::size_t restart_peak() { return std::exchange(peak_, size_); }
  void merge_peak(std::size_t earlier) {
    if (earlier > peak_) peak_ = earlier;
  }

 private:
  // A definition's index fits 32 bits: a schema has at most 128.
  struct Slot {
    const void* identity = nullptr;  // null marks an empty slot; a value is never null
    std::uint32_t definition = 0;
    std::uint32_t level = 0;
  };
  struct Level {
    const void* identity;
    std::uint32_t definition;
    std::uint32_t path_depth;
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
  std::unique_ptr<Level[]> levels_;  // the active pairs in the order entered
  std::size_t size_ = 0;
  std::size_t peak_ = 0;
  std::uint64_t entries_ = 0;
  std::uint64_t limits_ = 0;
  std::uint64_t cycles_ = 0;
  std::size_t loop_depth_ = 0;
  std::uint32_t lowest_loop_ = NO_LOOP;
};

// A pair enter answered Entered for, left when the Ref step ends however it
// ends (an allocation failure unwinds through it).
class ActivePair {
 public:
  ActivePair(RecursionGuard& guard, const void* identity, std::uint64_t definition)
      : guard_(guard), identity_(identity), definition_(definition) {}
  ~ActivePair() { guard_.leave(identity_, definition_); }
  ActivePair(const ActivePair&) = delete;
  ActivePair& operator=(const ActivePair&) = delete;

 private:
  RecursionGuard& guard_;
  const void* identity_;
  std::uint64_t definition_;
};

}  // namespace quillmar::ext
