#include "regex/unicode_classes.hpp"

#include <optional>

namespace quillmar::ext {
namespace {

// Member lists that begin and end with a property group, so a neighbouring
// '-' never turns an end member into a range: [\s-z] keeps RE2's meaning.
// Zl and Zp are exactly U+2028 and U+2029.
constexpr std::string_view DIGIT_MEMBERS = R"(\p{Nd})";
constexpr std::string_view NON_DIGIT_MEMBERS = R"(\P{Nd})";
constexpr std::string_view WORD_MEMBERS = R"(\p{L}\p{M}\p{Nd}\p{Pc})";
constexpr std::string_view SPACE_MEMBERS =
    R"(\p{Zl}\x{9}-\x{D}\x{20}\x{85}\x{A0}\x{1680}\x{2000}-\x{200A}\x{202F}\x{205F}\x{3000}\p{Zp})";

class Rewriter {
 public:
  explicit Rewriter(std::string_view pattern) : p_(pattern) { out_.reserve(pattern.size() + 32); }

  std::expected<std::string, std::string> run() {
    while (i_ < p_.size()) {
      char c = p_[i_];
      if (c == '\\') {
        top_level_escape();
      } else if (c == '[') {
        if (auto refused = bracket_class()) return std::unexpected(std::move(*refused));
      } else {
        out_ += c;
        ++i_;
      }
    }
    return std::move(out_);
  }

 private:
  void copy(std::size_t count) {
    count = std::min(count, p_.size() - i_);
    out_.append(p_.substr(i_, count));
    i_ += count;
  }

  // \p{..}, \P{..} and \x{..} are copied whole, so their braces are never
  // scanned as pattern text.
  void copy_escape() {
    char e = p_[i_ + 1];
    if ((e == 'p' || e == 'P' || e == 'x') && i_ + 2 < p_.size() && p_[i_ + 2] == '{') {
      std::size_t close = p_.find('}', i_ + 3);
      copy(close == std::string_view::npos ? p_.size() - i_ : close + 1 - i_);
      return;
    }
    copy(2);
  }

  void top_level_escape() {
    if (i_ + 1 >= p_.size()) {  // a trailing backslash: RE2 reports it
      copy(1);
      return;
    }
    switch (p_[i_ + 1]) {
      case 'Q': {
        // Quoted text runs to the first \E. An unclosed quote runs to the end
        // of the pattern; it is closed here so the wrapper stays outside it.
        std::size_t end = p_.find("\\E", i_ + 2);
        if (end == std::string_view::npos) {
          copy(p_.size() - i_);
          out_ += "\\E";
        } else {
          copy(end + 2 - i_);
        }
        return;
      }
      case 'd': return expand(DIGIT_MEMBERS);
      case 'D': return expand(NON_DIGIT_MEMBERS);
      case 'w': return expand_class(WORD_MEMBERS, false);
      case 'W': return expand_class(WORD_MEMBERS, true);
      case 's': return expand_class(SPACE_MEMBERS, false);
      case 'S': return expand_class(SPACE_MEMBERS, true);
      default: return copy_escape();
    }
  }

  void expand(std::string_view text) {
    out_ += text;
    i_ += 2;
  }

  void expand_class(std::string_view members, bool negated) {
    out_ += negated ? "[^" : "[";
    out_ += members;
    out_ += ']';
    i_ += 2;
  }

  // Scans one bracket class the way RE2 does: a ']' right after '[' or '[^'
  // is a member, "[:name:]" runs to the next ":]", a nested '[' is a member.
  std::optional<std::string> bracket_class() {
    copy(1);
    if (i_ < p_.size() && p_[i_] == '^') copy(1);
    if (i_ < p_.size() && p_[i_] == ']') copy(1);
    while (i_ < p_.size() && p_[i_] != ']') {
      char c = p_[i_];
      if (c == '[' && i_ + 1 < p_.size() && p_[i_ + 1] == ':') {
        std::size_t close = p_.find(":]", i_ + 2);
        copy(close == std::string_view::npos ? 1 : close + 2 - i_);
        continue;
      }
      if (c != '\\') {
        copy(1);
        continue;
      }
      if (i_ + 1 >= p_.size()) {
        copy(1);
        break;
      }
      switch (p_[i_ + 1]) {
        case 'd': expand(DIGIT_MEMBERS); break;
        case 'D': expand(NON_DIGIT_MEMBERS); break;
        case 'w': expand(WORD_MEMBERS); break;
        case 's': expand(SPACE_MEMBERS); break;
        case 'W':
          return std::string(
              "\\W cannot be used inside a character class, since its Unicode meaning has no member form; "
              "write it as an alternative, as in (?:[...]|\\W)");
        case 'S':
          return std::string(
              "\\S cannot be used inside a character class, since its Unicode meaning has no member form; "
              "write it as an alternative, as in (?:[...]|\\S)");
        default: copy_escape(); break;
      }
    }
    if (i_ < p_.size()) copy(1);  // the closing ']'; RE2 reports a missing one
    return std::nullopt;
  }

  std::string_view p_;
  std::size_t i_ = 0;
  std::string out_;
};

}  // namespace

std::expected<std::string, std::string> rewrite_unicode_classes(std::string_view pattern) {
  return Rewriter(pattern).run();
}

}  // namespace quillmar::ext
