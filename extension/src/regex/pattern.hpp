// Patterns of `pattern` metadata over RE2: compiled once, matched in full,
// with \d \w \s (and their complements) meaning what they mean in Python.
#pragma once

#include <memory>
#include <string>
#include <string_view>

#include "py/error.hpp"

namespace re2 {
class RE2;
}

namespace quillmar::ext {

// A compiled full-match pattern; thread-safe to share.
using CompiledPattern = std::shared_ptr<const re2::RE2>;

// The pattern as written, wrapped as \A(?:p)\z after the Unicode rewrite.
// A bad pattern is a ValueError "invalid regular expression {}: {}" with the
// quoted pattern and RE2's error text; nothing is logged.
Result<CompiledPattern> compile_pattern(std::string_view pattern_text);

// Whether the whole UTF-8 text matches.
bool pattern_matches(const re2::RE2& pattern, std::string_view text);

}  // namespace quillmar::ext
