// Rewrites the Perl classes \d \D \w \W \s \S of a pattern into the Unicode
// classes Python users expect, before RE2 sees the pattern.
#pragma once

#include <expected>
#include <string>
#include <string_view>

namespace quillmar::ext {

// The rewritten pattern, or why it is refused (\W or \S inside a bracket
// class, which have no member form). Everything RE2 itself would reject is
// passed on for RE2 to report.
std::expected<std::string, std::string> rewrite_unicode_classes(std::string_view pattern);

}  // namespace quillmar::ext
