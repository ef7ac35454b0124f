// A byte automaton for the plain patterns most schemas carry: ASCII
// literals and classes, groups, alternation and repetition. For those it
// answers exactly as the compiled wrapped expression does, with a table step
// per byte instead of the library's per-search set-up. Any other pattern gets
// no automaton and is matched by the library.
#pragma once

#include <cstdint>
#include <optional>
#include <string_view>
#include <vector>

namespace quillmar::ext {

class PatternDfa {
 public:
  // Nothing when the pattern lies outside the plain subset or its automaton
  // would be too large.
  static std::optional<PatternDfa> build(std::string_view pattern_text);

  // Whether the whole text matches. Only ASCII can match: every byte of a
  // multi-byte character leads to the dead state.
  bool matches(std::string_view text) const {
    std::uint32_t state = START;
    for (unsigned char byte : text) {
      state = next_[state << 8 | byte];
      if (state == DEAD) return false;
    }
    return accepting_[state] != 0;
  }

  static constexpr std::uint32_t DEAD = 0;
  static constexpr std::uint32_t START = 1;

 private:
  std::vector<std::uint16_t> next_;     // state * 256 + byte; bytes past ASCII lead to DEAD
  std::vector<std::uint8_t> accepting_;  // by state
};

}  // namespace quillmar::ext
