#include "regex/pattern.hpp"

#include <fmt/format.h>
#include <re2/re2.h>

#include "regex/unicode_classes.hpp"
#include "text.hpp"

namespace quillmar::ext {
namespace {

std::unexpected<Error> invalid_pattern(std::string_view pattern_text, std::string_view reason) {
  return fail(PyExc_ValueError,
              fmt::format("invalid regular expression {}: {}", quoted_text(pattern_text), reason));
}

RE2::Options pattern_options() {
  RE2::Options options;
  options.set_encoding(RE2::Options::EncodingUTF8);
  options.set_log_errors(false);  // a bad pattern is the user's error, reported as a ValueError
  return options;
}

}  // namespace

Result<CompiledPattern> compile_pattern(std::string_view pattern_text) {
  auto rewritten = rewrite_unicode_classes(pattern_text);
  if (!rewritten) return invalid_pattern(pattern_text, rewritten.error());
  const RE2::Options options = pattern_options();
  // The pattern must stand on its own: the wrapper forces a whole-string
  // match only for a balanced pattern ("a)|(b" would close the group and
  // escape it). Compiled first, so the error names the user's text rather
  // than the wrapper's.
  {
    const RE2 alone(*rewritten, options);
    if (!alone.ok()) return invalid_pattern(pattern_text, alone.error());
  }
  auto wrapped = std::make_shared<const RE2>(fmt::format("\\A(?:{})\\z", *rewritten), options);
  if (!wrapped->ok()) return invalid_pattern(pattern_text, wrapped->error());
  return CompiledPattern(std::move(wrapped));
}

bool pattern_matches(const re2::RE2& pattern, std::string_view text) {
  return pattern.Match(re2::StringPiece(text.data(), text.size()), 0, text.size(), RE2::UNANCHORED, nullptr, 0);
}

}  // namespace quillmar::ext
