// One failure found by a check: where, what was expected, what was found.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "py/ref.hpp"

namespace quillmar::ext {

struct PathSegment {
  enum class Kind : std::uint8_t { Index, Key };
  Kind kind = Kind::Index;
  std::uint64_t index = 0;
  std::string key;

  static PathSegment at(std::uint64_t index) { return {Kind::Index, index, {}}; }
  static PathSegment named(std::string key) { return {Kind::Key, 0, std::move(key)}; }
};

using Path = std::vector<PathSegment>;

struct ErrorItem {
  Path path;
  std::string expected;
  std::string value;
  std::string_view code;  // one of the fixed codes, a static text
  // The value found, until its text is made into `value`: only the items a
  // report keeps need one (a failing union drops most of those it makes).
  PyRef found;
};

}  // namespace quillmar::ext
