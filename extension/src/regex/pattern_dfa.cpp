#include "regex/pattern_dfa.hpp"

#include <array>
#include <bitset>
#include <cstddef>
#include <map>
#include <memory>
#include <string>

namespace quillmar::ext {
namespace {

// Bounds that keep building cheap and the table small; a pattern past them
// is left to the library.
constexpr std::size_t MAX_NFA_STATES = 2048;
constexpr std::size_t MAX_DFA_STATES = 512;
constexpr unsigned MAX_REPEAT = 1000;

using ByteSet = std::bitset<128>;

struct Ast {
  enum class Kind { Set, Concat, Alt, Repeat } kind = Kind::Concat;
  ByteSet set;
  std::vector<Ast> children;
  unsigned min = 0;
  unsigned max = 0;  // UNBOUNDED for no limit
  static constexpr unsigned UNBOUNDED = ~0u;
};

bool is_punct(char c) {
  return (c >= 0x21 && c <= 0x2F) || (c >= 0x3A && c <= 0x40) || (c >= 0x5B && c <= 0x60) || (c >= 0x7B && c <= 0x7E);
}

// A recursive-descent reader of the plain subset. Anything it does not know
// (a letter escape, '.', flags, named groups, negated or POSIX classes,
// anchors inside the pattern, non-ASCII text) makes it give up, and the
// library decides instead; it never has to reject an invalid pattern, since
// only patterns the library compiled reach it.
class Parser {
 public:
  explicit Parser(std::string_view p) : p_(p) {}

  std::optional<Ast> run() {
    std::optional<Ast> ast = alternation();
    if (!ast || i_ != p_.size()) return std::nullopt;
    return ast;
  }

 private:
  bool at_end() const { return i_ >= p_.size(); }
  char peek() const { return p_[i_]; }

  std::optional<Ast> alternation() {
    Ast alt{Ast::Kind::Alt, {}, {}, 0, 0};
    for (;;) {
      std::optional<Ast> part = concatenation();
      if (!part) return std::nullopt;
      alt.children.push_back(std::move(*part));
      if (at_end() || peek() != '|') break;
      ++i_;
    }
    if (alt.children.size() == 1) return std::move(alt.children.front());
    return alt;
  }

  std::optional<Ast> concatenation() {
    Ast concat{Ast::Kind::Concat, {}, {}, 0, 0};
    while (!at_end() && peek() != '|' && peek() != ')') {
      std::optional<Ast> item = repetition();
      if (!item) return std::nullopt;
      concat.children.push_back(std::move(*item));
    }
    return concat;
  }

  std::optional<Ast> repetition() {
    std::optional<Ast> atom_ast = atom();
    if (!atom_ast) return std::nullopt;
    if (at_end()) return atom_ast;
    unsigned min = 0;
    unsigned max = 0;
    char c = peek();
    if (c == '*') {
      min = 0, max = Ast::UNBOUNDED, ++i_;
    } else if (c == '+') {
      min = 1, max = Ast::UNBOUNDED, ++i_;
    } else if (c == '?') {
      min = 0, max = 1, ++i_;
    } else if (c == '{') {
      if (!counted(min, max)) return std::nullopt;
    } else {
      return atom_ast;
    }
    if (!at_end() && peek() == '?') ++i_;  // a lazy repetition matches the same texts
    if (!at_end() && (peek() == '*' || peek() == '+' || peek() == '?' || peek() == '{')) return std::nullopt;
    Ast repeat{Ast::Kind::Repeat, {}, {}, min, max};
    repeat.children.push_back(std::move(*atom_ast));
    return repeat;
  }

  bool number(unsigned& out) {
    std::size_t start = i_;
    unsigned value = 0;
    while (!at_end() && peek() >= '0' && peek() <= '9') {
      value = value * 10 + static_cast<unsigned>(peek() - '0');
      if (value > MAX_REPEAT) return false;
      ++i_;
    }
    out = value;
    return i_ > start;
  }

  // {n}, {n,} or {n,m}; any other brace is left to the library.
  bool counted(unsigned& min, unsigned& max) {
    ++i_;
    if (!number(min)) return false;
    if (at_end()) return false;
    if (peek() == '}') {
      max = min;
      ++i_;
      return true;
    }
    if (peek() != ',') return false;
    ++i_;
    if (at_end()) return false;
    if (peek() == '}') {
      max = Ast::UNBOUNDED;
      ++i_;
      return true;
    }
    if (!number(max) || at_end() || peek() != '}' || max < min) return false;
    ++i_;
    return true;
  }

  static Ast single(char c) {
    Ast set{Ast::Kind::Set, {}, {}, 0, 0};
    set.set.set(static_cast<unsigned char>(c));
    return set;
  }

  std::optional<Ast> atom() {
    char c = peek();
    if (c == '(') {
      ++i_;
      if (!at_end() && peek() == '?') {
        if (i_ + 1 >= p_.size() || p_[i_ + 1] != ':') return std::nullopt;
        i_ += 2;
      }
      std::optional<Ast> inner = alternation();
      if (!inner || at_end() || peek() != ')') return std::nullopt;
      ++i_;
      return inner;
    }
    if (c == '[') return bracket();
    if (c == '\\') {
      if (i_ + 1 >= p_.size() || !is_punct(p_[i_ + 1])) return std::nullopt;
      i_ += 2;
      return single(p_[i_ - 1]);
    }
    if (c < 0x20 || c > 0x7E) return std::nullopt;
    switch (c) {
      case '.':
      case '*':
      case '+':
      case '?':
      case ')':
      case '|':
      case ']':
      case '{':
      case '}':
      case '^':
      case '$':
        return std::nullopt;
      default:
        ++i_;
        return single(c);
    }
  }

  // One member of a class: a plain character or an escaped punctuation mark.
  bool class_char(char& out) {
    if (at_end()) return false;
    char c = peek();
    if (c == '\\') {
      if (i_ + 1 >= p_.size() || !is_punct(p_[i_ + 1])) return false;
      out = p_[i_ + 1];
      i_ += 2;
      return true;
    }
    if (c < 0x20 || c > 0x7E || c == '[' || c == ']') return false;
    out = c;
    ++i_;
    return true;
  }

  std::optional<Ast> bracket() {
    ++i_;
    if (at_end() || peek() == '^' || peek() == ']') return std::nullopt;
    Ast set{Ast::Kind::Set, {}, {}, 0, 0};
    bool first = true;
    while (!at_end() && peek() != ']') {
      // '-' stands for itself only first or last; elsewhere it must join a range.
      if (peek() == '-' && !first && (i_ + 1 >= p_.size() || p_[i_ + 1] != ']')) return std::nullopt;
      char low = 0;
      if (!class_char(low)) return std::nullopt;
      char high = low;
      if (low != '-' && !at_end() && peek() == '-' && i_ + 1 < p_.size() && p_[i_ + 1] != ']') {
        ++i_;
        if (!class_char(high) || high < low) return std::nullopt;
      }
      for (int b = static_cast<unsigned char>(low); b <= static_cast<unsigned char>(high); ++b) set.set.set(b);
      first = false;
    }
    if (at_end()) return std::nullopt;
    ++i_;
    return set;
  }

  std::string_view p_;
  std::size_t i_ = 0;
};

// Thompson construction: a state either steps on a byte of its set to `out`,
// or has only epsilon edges.
struct Nfa {
  struct State {
    ByteSet set;
    std::int32_t out = -1;
    std::vector<std::int32_t> epsilon;
  };
  std::vector<State> states;
  bool too_large = false;

  std::int32_t add() {
    if (states.size() >= MAX_NFA_STATES) {
      too_large = true;
      return 0;
    }
    states.emplace_back();
    return static_cast<std::int32_t>(states.size() - 1);
  }

  // The state reached after matching the node from `from`. No edge ever
  // enters `from`, so sibling alternatives may share it.
  std::int32_t emit(const Ast& node, std::int32_t from) {
    if (too_large) return from;
    switch (node.kind) {
      case Ast::Kind::Set: {
        std::int32_t step = add();
        std::int32_t to = add();
        if (too_large) return from;
        states[static_cast<std::size_t>(step)].set = node.set;
        states[static_cast<std::size_t>(step)].out = to;
        states[static_cast<std::size_t>(from)].epsilon.push_back(step);
        return to;
      }
      case Ast::Kind::Concat: {
        std::int32_t at = from;
        for (const Ast& child : node.children) at = emit(child, at);
        return at;
      }
      case Ast::Kind::Alt: {
        std::int32_t join = add();
        if (too_large) return from;
        for (const Ast& child : node.children) {
          std::int32_t end = emit(child, from);
          if (too_large) return from;
          states[static_cast<std::size_t>(end)].epsilon.push_back(join);
        }
        return join;
      }
      case Ast::Kind::Repeat: {
        const Ast& child = node.children.front();
        std::int32_t at = from;
        for (unsigned k = 0; k < node.min && !too_large; ++k) at = emit(child, at);
        if (node.max == Ast::UNBOUNDED) {
          std::int32_t loop = add();
          if (too_large) return from;
          states[static_cast<std::size_t>(at)].epsilon.push_back(loop);
          std::int32_t end = emit(child, loop);
          if (too_large) return from;
          states[static_cast<std::size_t>(end)].epsilon.push_back(loop);
          return loop;
        }
        for (unsigned k = node.min; k < node.max && !too_large; ++k) {
          std::int32_t join = add();
          if (too_large) return from;
          std::int32_t end = emit(child, at);
          if (too_large) return from;
          states[static_cast<std::size_t>(at)].epsilon.push_back(join);
          states[static_cast<std::size_t>(end)].epsilon.push_back(join);
          at = join;
        }
        return at;
      }
    }
    return from;
  }
};

using StateSet = std::vector<std::uint64_t>;

void close_over_epsilon(const Nfa& nfa, StateSet& set) {
  std::vector<std::int32_t> stack;
  for (std::size_t w = 0; w < set.size(); ++w) {
    for (std::size_t b = 0; b < 64; ++b) {
      if (set[w] >> b & 1) stack.push_back(static_cast<std::int32_t>(w * 64 + b));
    }
  }
  while (!stack.empty()) {
    std::int32_t s = stack.back();
    stack.pop_back();
    for (std::int32_t t : nfa.states[static_cast<std::size_t>(s)].epsilon) {
      std::uint64_t& word = set[static_cast<std::size_t>(t) / 64];
      const std::uint64_t bit = std::uint64_t{1} << (t % 64);
      if (!(word & bit)) {
        word |= bit;
        stack.push_back(t);
      }
    }
  }
}

}  // namespace

std::optional<PatternDfa> PatternDfa::build(std::string_view pattern_text) {
  // Under the whole-text wrapper a leading '^' and a trailing '$' assert
  // nothing more.
  std::string_view body = pattern_text;
  if (!body.empty() && body.front() == '^') body.remove_prefix(1);
  if (!body.empty() && body.back() == '$') {
    std::size_t slashes = 0;
    for (std::size_t k = body.size() - 1; k > 0 && body[k - 1] == '\\'; --k) ++slashes;
    if (slashes % 2 == 0) body.remove_suffix(1);
  }
  std::optional<Ast> ast = Parser(body).run();
  if (!ast) return std::nullopt;

  Nfa nfa;
  const std::int32_t start = nfa.add();
  const std::int32_t final_state = nfa.emit(*ast, start);
  if (nfa.too_large) return std::nullopt;
  const std::size_t words = (nfa.states.size() + 63) / 64;

  // Subset construction; DFA state 0 is the empty (dead) set.
  std::map<StateSet, std::uint32_t> ids;
  std::vector<StateSet> sets;
  auto intern = [&](StateSet set) -> std::optional<std::uint32_t> {
    auto [at, fresh] = ids.try_emplace(set, static_cast<std::uint32_t>(sets.size()));
    if (fresh) {
      if (sets.size() >= MAX_DFA_STATES) return std::nullopt;
      sets.push_back(std::move(set));
    }
    return at->second;
  };
  intern(StateSet(words, 0));
  StateSet initial(words, 0);
  initial[static_cast<std::size_t>(start) / 64] |= std::uint64_t{1} << (start % 64);
  close_over_epsilon(nfa, initial);
  intern(std::move(initial));

  PatternDfa dfa;
  std::vector<const Nfa::State*> stepping;
  for (std::size_t d = 0; d < sets.size(); ++d) {
    dfa.next_.resize((d + 1) * 256, DEAD);
    stepping.clear();
    for (std::size_t s = 0; s < nfa.states.size(); ++s) {
      if ((sets[d][s / 64] >> (s % 64) & 1) && nfa.states[s].out >= 0) stepping.push_back(&nfa.states[s]);
    }
    for (unsigned byte = 0; byte < 128; ++byte) {
      StateSet target(words, 0);
      bool any = false;
      for (const Nfa::State* state_ptr : stepping) {
        const Nfa::State& state = *state_ptr;
        if (state.set.test(byte)) {
          target[static_cast<std::size_t>(state.out) / 64] |= std::uint64_t{1} << (state.out % 64);
          any = true;
        }
      }
      if (!any) continue;
      close_over_epsilon(nfa, target);
      std::optional<std::uint32_t> id = intern(std::move(target));
      if (!id) return std::nullopt;
      dfa.next_[d * 256 + byte] = static_cast<std::uint16_t>(*id);
    }
  }
  dfa.accepting_.resize(sets.size(), 0);
  for (std::size_t d = 0; d < sets.size(); ++d) {
    dfa.accepting_[d] = (sets[d][static_cast<std::size_t>(final_state) / 64] >> (final_state % 64)) & 1;
  }
  return dfa;
}

}  // namespace quillmar::ext
