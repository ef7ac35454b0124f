// The recursive-descent parser shared by both sinks. It checks the grammar,
// decodes strings and numbers, and hands finished scalars and container
// boundaries to the sink, which keeps the values on a stack of its own:
//   bool null(), boolean(bool), integer(std::int64_t), big_integer(text),
//        real(text, const double* value) a number with a fraction or exponent:
//                                        its text, and its value when the scan
//                                        could convert it exactly (else nullptr)
//   std::size_t string(bytes, ascii, check_utf8, in_scratch, key)
//       -> utf8_ok, the offset of the first ill-formed byte, or string_sink_failed
//   std::size_t mark()                       the stack height
//   bool end_array(mark), end_object(mark)   fold everything above mark
// A false (or string_sink_failed) answer means the interpreter's error is set.
// A reader may also drive it value by value through the pull interface.
// Internal to the reader and json/cursor.hpp.
#pragma once

#ifdef __SSE2__
#include <emmintrin.h>
#endif
#include <bit>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>
#include <string_view>

#include "json/number.hpp"
#include "quillmar/core/stack_guard.hpp"
#include "json/reader.hpp"
#include "json/utf8.hpp"

namespace quillmar::ext::json_detail {

inline constexpr std::size_t string_sink_failed = static_cast<std::size_t>(-2);
// Integers of more digits than this (the sign not counted) are refused, as
// Python's own int() refuses them; a float's integer part has no limit.
inline constexpr std::size_t MAX_INTEGER_DIGITS = 4300;

// Bytes that end a run of plain string content: the quote, the backslash and
// the control characters.
struct StringStops {
  bool table[256];
  constexpr StringStops() : table{} {
    for (int c = 0; c < 0x20; ++c) table[c] = true;
    table[static_cast<unsigned char>('"')] = true;
    table[static_cast<unsigned char>('\\')] = true;
  }
};
inline constexpr StringStops string_stops{};

inline bool is_digit(unsigned char c) { return static_cast<unsigned char>(c - '0') < 10; }

// Nonzero in the bytes of a little-endian word that are no ASCII digit. A
// carry out of a byte at or above 0xFA can spoil the bytes after it, never
// the first such byte or any before it.
inline std::uint64_t non_digit_bytes(std::uint64_t word) {
  return ((word & 0xF0F0F0F0F0F0F0F0ULL) | (((word + 0x0606060606060606ULL) & 0xF0F0F0F0F0F0F0F0ULL) >> 4)) ^
         0x3333333333333333ULL;
}

// The value of eight ASCII digits read little-endian (the first digit the
// most significant), by pairwise folding.
inline std::uint32_t eight_digits_value(std::uint64_t word) {
  word -= 0x3030303030303030ULL;
  word = word * 10 + (word >> 8);
  word = (((word & 0x000000FF000000FFULL) * 0x000F424000000064ULL) +
          (((word >> 16) & 0x000000FF000000FFULL) * 0x0000271000000001ULL)) >>
         32;
  return static_cast<std::uint32_t>(word);
}
inline bool is_whitespace(unsigned char c) { return c == ' ' || c == '\n' || c == '\r' || c == '\t'; }

inline int hex_value(unsigned char c) {
  if (is_digit(c)) return c - '0';
  unsigned char lower = c | 0x20;
  if (lower >= 'a' && lower <= 'f') return lower - 'a' + 10;
  return -1;
}

// One step through a container: at an element or member, past the end, or refused.
enum class Step : std::uint8_t { Item, End, Fail };

template <class Sink>
class Parser {
 public:
  Parser(std::string_view input, bool known_utf8, Sink& sink)
      : begin_(reinterpret_cast<const unsigned char*>(input.data())),
        p_(begin_),
        end_(begin_ + input.size()),
        known_utf8_(known_utf8),
        sink_(sink) {}

  // True when the sink holds exactly the document's value. On false, either
  // sink_failed() (the interpreter's error is set) or error() says why.
  bool parse_document() { return start_document() && parse_value(0) && finish_document(); }

  bool sink_failed() const { return sink_failed_; }
  JsonSyntaxError error() const { return error_; }

  // The pull interface, for a reader that walks containers itself. A value
  // position is never at whitespace or the end of input: the steps below
  // refuse the document before they leave one there.

  // Skips leading whitespace: false (and the error) for an empty document.
  bool start_document() {
    skip_whitespace();
    if (p_ == end_) return fail_at_end(JsonErrorKind::EofWhileParsingValue);
    return true;
  }
  // After the root value: only whitespace may follow.
  bool finish_document() {
    skip_whitespace();
    if (p_ != end_) return fail(JsonErrorKind::TrailingCharacters, p_);
    return true;
  }
  // The first byte of the value at the current value position.
  unsigned char peek() const { return *p_; }
  std::size_t offset() const { return static_cast<std::size_t>(p_ - begin_); }
  const unsigned char* address() const { return p_; }
  void seek(std::size_t offset) { p_ = begin_ + offset; }
  // The whole value through the sink: a scalar, or a container with everything in it.
  bool value(unsigned level) { return parse_value(level); }
  // The whole value checked as value() checks it, with no string decoded
  // or handed to the sink: for a reader that only needs to pass it.
  bool skim(unsigned level) {
    skimming_ = true;
    bool ok = parse_value(level);
    skimming_ = false;
    return ok;
  }
  // The value at p_ is known to be a number (at '-' or a digit) or a string
  // (at its quote), and its level within the limit.
  bool number() { return parse_number(); }
  bool string() {
    ++p_;
    return parse_string(false);
  }
  bool skim_string() {
    ++p_;
    return scan_string<false>(false);
  }

  // p_ is at '[': Item leaves p_ at the first element.
  Step open_array() {
    ++p_;
    skip_whitespace();
    if (p_ == end_) return step_fail_at_end(JsonErrorKind::EofWhileParsingList);
    if (*p_ == ']') {
      ++p_;
      return Step::End;
    }
    return Step::Item;
  }
  // Just past an element: Item leaves p_ at the next one.
  Step next_array_item() {
    skip_whitespace();
    if (p_ == end_) return step_fail_at_end(JsonErrorKind::EofWhileParsingList);
    if (*p_ == ',') {
      ++p_;
      skip_whitespace();
      if (p_ == end_) return step_fail_at_end(JsonErrorKind::EofWhileParsingValue);
      if (*p_ == ']') return step_fail(JsonErrorKind::TrailingComma);
      return Step::Item;
    }
    if (*p_ == ']') {
      ++p_;
      return Step::End;
    }
    return step_fail(JsonErrorKind::ExpectedListCommaOrEnd);
  }
  // p_ is at '{': Item leaves p_ at the first key's quote.
  Step open_object() {
    ++p_;
    skip_whitespace();
    if (p_ == end_) return step_fail_at_end(JsonErrorKind::EofWhileParsingObject);
    if (*p_ == '}') {
      ++p_;
      return Step::End;
    }
    if (*p_ != '"') return step_fail(JsonErrorKind::KeyMustBeAString);
    return Step::Item;
  }
  // Just past a member's value: Item leaves p_ at the next key's quote.
  Step next_object_member() {
    skip_whitespace();
    if (p_ == end_) return step_fail_at_end(JsonErrorKind::EofWhileParsingObject);
    if (*p_ == ',') {
      ++p_;
      skip_whitespace();
      if (p_ == end_) return step_fail_at_end(JsonErrorKind::EofWhileParsingValue);
      if (*p_ == '}') return step_fail(JsonErrorKind::TrailingComma);
      if (*p_ != '"') return step_fail(JsonErrorKind::KeyMustBeAString);
      return Step::Item;
    }
    if (*p_ == '}') {
      ++p_;
      return Step::End;
    }
    return step_fail(JsonErrorKind::ExpectedObjectCommaOrEnd);
  }
  // p_ is at a key's quote: the key goes to the sink, and p_ is left at the
  // member's value.
  bool member_key() {
    ++p_;
    if (!parse_string(true)) return false;
    skip_whitespace();
    if (p_ == end_) return fail_at_end(JsonErrorKind::EofWhileParsingObject);
    if (*p_ != ':') return fail(JsonErrorKind::ExpectedColon, p_);
    ++p_;
    skip_whitespace();
    if (p_ == end_) return fail_at_end(JsonErrorKind::EofWhileParsingValue);
    return true;
  }

 private:
  bool fail(JsonErrorKind kind, const unsigned char* at) { return fail_at(kind, static_cast<std::size_t>(at - begin_)); }
  bool fail_at(JsonErrorKind kind, std::size_t position) {
    error_ = {kind, position};
    return false;
  }
  bool fail_at_end(JsonErrorKind kind) { return fail(kind, end_); }
  Step step_fail(JsonErrorKind kind) {
    fail(kind, p_);
    return Step::Fail;
  }
  Step step_fail_at_end(JsonErrorKind kind) {
    fail_at_end(kind);
    return Step::Fail;
  }
  bool sink(bool ok) {
    if (!ok) sink_failed_ = true;
    return ok;
  }
  // Too close to the end of the native stack to open a container: the
  // document is not refused, the call fails with RecursionError.
  [[gnu::noinline, gnu::cold]] bool out_of_stack() {
    PyErr_SetString(PyExc_RecursionError, "maximum recursion depth exceeded while parsing JSON");
    return sink(false);
  }

  void skip_whitespace() {
    while (p_ != end_ && *p_ <= ' ' && is_whitespace(*p_)) ++p_;
  }

  // p_ is at a byte that must start a value at this level.
  bool parse_value(unsigned level) {
    if (level > JSON_RECURSION_LIMIT) return fail(JsonErrorKind::RecursionLimitExceeded, p_);
    switch (*p_) {
      case '"':
        ++p_;
        return parse_string(false);
      case '[':
        return parse_array(level);
      case '{':
        return parse_object(level);
      case 'n':
        return parse_word("ull") && sink(sink_.null());
      case 't':
        return parse_word("rue") && sink(sink_.boolean(true));
      case 'f':
        return parse_word("alse") && sink(sink_.boolean(false));
      case '-':
      case '0':
      case '1':
      case '2':
      case '3':
      case '4':
      case '5':
      case '6':
      case '7':
      case '8':
      case '9':
        return parse_number();
      default:
        return fail(JsonErrorKind::ExpectedValue, p_);
    }
  }

  bool parse_word(const char* rest) {
    ++p_;
    for (; *rest; ++rest, ++p_) {
      if (p_ == end_) return fail_at_end(JsonErrorKind::EofWhileParsingValue);
      if (*p_ != static_cast<unsigned char>(*rest)) return fail(JsonErrorKind::ExpectedIdent, p_);
    }
    return true;
  }

  bool parse_array(unsigned level) {
    if (stack_.exhausted()) [[unlikely]] return out_of_stack();
    std::size_t mark = sink_.mark();
    for (Step step = open_array();; step = next_array_item()) {
      if (step == Step::Fail) return false;
      if (step == Step::End) return sink(sink_.end_array(mark));
      if (!parse_value(level + 1)) return false;
    }
  }

  bool parse_object(unsigned level) {
    if (stack_.exhausted()) [[unlikely]] return out_of_stack();
    std::size_t mark = sink_.mark();
    for (Step step = open_object();; step = next_object_member()) {
      if (step == Step::Fail) return false;
      if (step == Step::End) return sink(sink_.end_object(mark));
      if (!member_key() || !parse_value(level + 1)) return false;
    }
  }

  // Moves p_ to the next byte that stops a run of plain string content,
  // noting in high_bits whether a byte passed is outside ASCII; false at the
  // end of input. The widest step that finds the stop is the last one taken.
  bool advance_to_stop(unsigned& high_bits) {
    constexpr std::uint64_t ones = 0x0101010101010101ULL;
    constexpr std::uint64_t highs = 0x8080808080808080ULL;
#ifdef __SSE2__
    // Sixteen bytes at a time while none of them stops the run.
    while (end_ - p_ >= 16) {
      const __m128i chunk = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p_));
      const __m128i quote = _mm_cmpeq_epi8(chunk, _mm_set1_epi8('"'));
      const __m128i backslash = _mm_cmpeq_epi8(chunk, _mm_set1_epi8('\\'));
      // Unsigned chunk <= 0x1F: the control characters.
      const __m128i control = _mm_cmpeq_epi8(_mm_min_epu8(chunk, _mm_set1_epi8(0x1F)), chunk);
      const int stops = _mm_movemask_epi8(_mm_or_si128(_mm_or_si128(quote, backslash), control));
      if (stops != 0) {
        const int before = __builtin_ctz(static_cast<unsigned>(stops));
        high_bits |= (_mm_movemask_epi8(chunk) & ((1 << before) - 1)) != 0;
        p_ += before;
        return true;
      }
      high_bits |= _mm_movemask_epi8(chunk) != 0;
      p_ += 16;
    }
#endif
    // Eight bytes at a time while none of them stops the run.
    while (end_ - p_ >= 8) {
      std::uint64_t word;
      std::memcpy(&word, p_, 8);
      std::uint64_t quote = word ^ (ones * '"');
      std::uint64_t backslash = word ^ (ones * '\\');
      std::uint64_t stops = ((quote - ones) & ~quote) | ((backslash - ones) & ~backslash) | ((word - ones * 0x20) & ~word);
      if (stops & highs) break;
      high_bits |= (word & highs) != 0;
      p_ += 8;
    }
    while (p_ != end_ && !string_stops.table[*p_]) {
      high_bits |= *p_ >> 7;
      ++p_;
    }
    return p_ != end_;
  }

  // p_ is just past the opening quote; key says whether the string names an
  // object member. While skimming the string is only checked, as decoding
  // it would check it: its raw bytes as UTF-8 (escapes are ASCII, and each
  // decodes to a whole sequence), nothing handed to the sink.
  bool parse_string(bool key) { return skimming_ ? scan_string<false>(key) : scan_string<true>(key); }

  template <bool decode>
  bool scan_string(bool key) {
    const unsigned char* content = p_;
    const unsigned char* segment = p_;
    bool escaped = false;
    unsigned high_bits = 0;
    for (;;) {
      if (!advance_to_stop(high_bits)) return fail_at_end(JsonErrorKind::EofWhileParsingString);
      unsigned char c = *p_;
      if (c == '"') break;
      if (c < 0x20) return fail(JsonErrorKind::ControlCharacterWhileParsingString, p_);
      if constexpr (decode) {
        if (!escaped) {
          scratch_.clear();
          escaped = true;
        }
        scratch_.append(reinterpret_cast<const char*>(segment), static_cast<std::size_t>(p_ - segment));
      }
      if (!parse_escape<decode>(high_bits)) return false;
      segment = p_;
    }
    if constexpr (!decode) {
      (void)key;
      (void)segment;
      (void)escaped;
      if (high_bits != 0 && !known_utf8_) {
        std::size_t bad = utf8_invalid_offset(content, static_cast<std::size_t>(p_ - content));
        if (bad != utf8_ok) return fail_at(JsonErrorKind::InvalidUnicodeCodePoint, static_cast<std::size_t>(content - begin_) + bad + 1);
      }
      ++p_;  // the closing quote
      return true;
    } else {
      std::string_view bytes;
      if (escaped) {
        scratch_.append(reinterpret_cast<const char*>(segment), static_cast<std::size_t>(p_ - segment));
        bytes = scratch_;
      } else {
        bytes = {reinterpret_cast<const char*>(content), static_cast<std::size_t>(p_ - content)};
      }
      ++p_;  // the closing quote
      bool ascii = high_bits == 0;
      std::size_t outcome = sink_.string(bytes, ascii, !ascii && !known_utf8_, escaped, key);
      if (outcome == utf8_ok) return true;
      if (outcome == string_sink_failed) return sink(false);
      return fail_at(JsonErrorKind::InvalidUnicodeCodePoint, static_cast<std::size_t>(content - begin_) + outcome + 1);
    }
  }

  // p_ is at the backslash; appends the decoded bytes to scratch_ when decoding.
  template <bool decode>
  bool parse_escape(unsigned& high_bits) {
    ++p_;
    if (p_ == end_) return fail_at_end(JsonErrorKind::EofWhileParsingString);
    char decoded;
    switch (*p_) {
      case '"':
        decoded = '"';
        break;
      case '\\':
        decoded = '\\';
        break;
      case '/':
        decoded = '/';
        break;
      case 'b':
        decoded = '\b';
        break;
      case 'f':
        decoded = '\f';
        break;
      case 'n':
        decoded = '\n';
        break;
      case 'r':
        decoded = '\r';
        break;
      case 't':
        decoded = '\t';
        break;
      case 'u':
        return parse_unicode_escape<decode>(high_bits);
      default:
        return fail(JsonErrorKind::InvalidEscape, p_);
    }
    if constexpr (decode) scratch_.push_back(decoded);
    ++p_;
    return true;
  }

  // p_ is just past a 'u'; reads four hex digits.
  bool read_hex4(unsigned& value) {
    if (end_ - p_ < 4) return fail_at_end(JsonErrorKind::EofWhileParsingString);
    value = 0;
    for (int i = 0; i < 4; ++i, ++p_) {
      int digit = hex_value(*p_);
      if (digit < 0) return fail(JsonErrorKind::InvalidEscape, p_);
      value = (value << 4) | static_cast<unsigned>(digit);
    }
    return true;
  }

  // p_ is at the 'u'.
  template <bool decode>
  bool parse_unicode_escape(unsigned& high_bits) {
    ++p_;
    unsigned code;
    if (!read_hex4(code)) return false;
    if (code >= 0xDC00 && code <= 0xDFFF) return fail(JsonErrorKind::LoneLeadingSurrogateInHexEscape, p_ - 1);
    if (code >= 0xD800 && code <= 0xDBFF) {
      // A high surrogate stands only as the first half of a pair.
      if (p_ == end_) return fail_at_end(JsonErrorKind::EofWhileParsingString);
      if (*p_ != '\\') return fail(JsonErrorKind::UnexpectedEndOfHexEscape, p_);
      ++p_;
      if (p_ == end_) return fail_at_end(JsonErrorKind::EofWhileParsingString);
      if (*p_ != 'u') return fail(JsonErrorKind::UnexpectedEndOfHexEscape, p_);
      ++p_;
      unsigned low;
      if (!read_hex4(low)) return false;
      if (low < 0xDC00 || low > 0xDFFF) return fail(JsonErrorKind::LoneLeadingSurrogateInHexEscape, p_ - 1);
      code = 0x10000 + ((code - 0xD800) << 10) + (low - 0xDC00);
    }
    if constexpr (decode) {
      append_utf8(code);
      if (code >= 0x80) high_bits = 1;
    }
    return true;
  }

  void append_utf8(unsigned code) {
    char out[4];
    std::size_t size;
    if (code < 0x80) {
      out[0] = static_cast<char>(code);
      size = 1;
    } else if (code < 0x800) {
      out[0] = static_cast<char>(0xC0 | (code >> 6));
      out[1] = static_cast<char>(0x80 | (code & 0x3F));
      size = 2;
    } else if (code < 0x10000) {
      out[0] = static_cast<char>(0xE0 | (code >> 12));
      out[1] = static_cast<char>(0x80 | ((code >> 6) & 0x3F));
      out[2] = static_cast<char>(0x80 | (code & 0x3F));
      size = 3;
    } else {
      out[0] = static_cast<char>(0xF0 | (code >> 18));
      out[1] = static_cast<char>(0x80 | ((code >> 12) & 0x3F));
      out[2] = static_cast<char>(0x80 | ((code >> 6) & 0x3F));
      out[3] = static_cast<char>(0x80 | (code & 0x3F));
      size = 4;
    }
    scratch_.append(out, size);
  }

  // After '-', '.', 'e', 'E' or an exponent sign a digit must follow.
  bool require_digit(const unsigned char* p) {
    if (p == end_) return fail_at_end(JsonErrorKind::EofWhileParsingValue);
    if (!is_digit(*p)) return fail(JsonErrorKind::InvalidNumber, p);
    return true;
  }

  // Digits from p on, folded into value (wrapping past nineteen digits,
  // which the callers count and refuse to trust); returns the first
  // non-digit. Eight bytes at a time, and a run shorter than eight, the
  // common integer, in one step: the first byte that is no digit is found in
  // the word, and the digits before it are valued behind '0' padding.
  const unsigned char* accumulate_digits(const unsigned char* p, std::uint64_t& value) const {
    static constexpr std::uint64_t powers[] = {1, 10, 100, 1000, 10000, 100000, 1000000, 10000000};
    std::uint64_t folded = value;
    while (std::endian::native == std::endian::little && end_ - p >= 8) {
      std::uint64_t word;
      std::memcpy(&word, p, 8);
      const std::uint64_t others = non_digit_bytes(word);
      if (others == 0) {
        folded = folded * 100000000 + eight_digits_value(word);
        p += 8;
        continue;
      }
      const unsigned run = static_cast<unsigned>(std::countr_zero(others)) / 8;
      if (run != 0) {
        const std::uint64_t padded = (word << (8 * (8 - run))) | (0x3030303030303030ULL >> (8 * run));
        folded = folded * powers[run] + eight_digits_value(padded);
        p += run;
      }
      value = folded;
      return p;
    }
    for (; p != end_ && is_digit(*p); ++p) folded = folded * 10 + (*p - '0');
    value = folded;
    return p;
  }

  // p_ is at '-' or a digit. The grammar check and the conversion share one
  // scan: the digits fold into a mantissa as they are checked.
  bool parse_number() {
    const unsigned char* const start = p_;
    const unsigned char* p = p_;
    bool negative = *p == '-';
    if (negative) {
      ++p;
      if (!require_digit(p)) return false;
    }
    const unsigned char* const digits = p;
    std::uint64_t magnitude = 0;
    if (*p == '0') {
      ++p;
      if (p != end_ && is_digit(*p)) return fail(JsonErrorKind::InvalidNumber, p);
    } else {
      p = accumulate_digits(p, magnitude);
    }
    if (p != end_ && (*p == '.' || (*p | 0x20) == 'e')) return parse_real(start, digits, p, magnitude);
    p_ = p;

    std::size_t count = static_cast<std::size_t>(p - digits);
    if (count > MAX_INTEGER_DIGITS) {
      // Reported at the byte after the first digit past the limit.
      return fail_at(JsonErrorKind::NumberOutOfRange,
                     static_cast<std::size_t>(digits - begin_) + MAX_INTEGER_DIGITS + 1);
    }
    if (count <= 19) {
      if (!negative && magnitude <= static_cast<std::uint64_t>(INT64_MAX)) {
        return sink(sink_.integer(static_cast<std::int64_t>(magnitude)));
      }
      if (negative && magnitude <= static_cast<std::uint64_t>(INT64_MAX) + 1) {
        return sink(sink_.integer(static_cast<std::int64_t>(0 - magnitude)));
      }
    }
    return sink(sink_.big_integer({reinterpret_cast<const char*>(start), static_cast<std::size_t>(p - start)}));
  }

  // p is at the '.' or 'e' after the integer digits, whose value so far is
  // mantissa. Hands the sink the number's text, and its value when the short
  // exact form gives it.
  bool parse_real(const unsigned char* start, const unsigned char* digits, const unsigned char* p,
                  std::uint64_t mantissa) {
    std::size_t significant = static_cast<std::size_t>(p - digits);
    const unsigned char* fraction = p;
    const unsigned char* fraction_end = p;
    std::int64_t exp10 = 0;
    if (*p == '.') {
      ++p;
      if (!require_digit(p)) return false;
      fraction = p;
      p = accumulate_digits(p, mantissa);
      fraction_end = p;
      exp10 = fraction - fraction_end;
      significant += static_cast<std::size_t>(fraction_end - fraction);
    }
    if (p != end_ && (*p | 0x20) == 'e') {
      ++p;
      bool exponent_negative = false;
      if (p != end_ && (*p == '+' || *p == '-')) exponent_negative = *p++ == '-';
      if (!require_digit(p)) return false;
      std::int64_t exponent = 0;
      for (; p != end_ && is_digit(*p); ++p) {
        if (exponent < 100'000'000) exponent = exponent * 10 + (*p - '0');  // saturates: far past any double
      }
      exp10 += exponent_negative ? -exponent : exponent;
    }
    p_ = p;
    if (significant > 19 && *digits == '0') {
      // "0." and the fraction's leading zeros hold no significant digit.
      const unsigned char* first = fraction;
      while (first != fraction_end && *first == '0') ++first;
      significant = static_cast<std::size_t>(fraction_end - first);
    }
    double value;
    bool exact = significant <= 19 && exact_decimal_to_double(mantissa, exp10, *start == '-', value);
    std::string_view text{reinterpret_cast<const char*>(start), static_cast<std::size_t>(p - start)};
    return sink(sink_.real(text, exact ? &value : nullptr));
  }

  const unsigned char* const begin_;
  const unsigned char* p_;
  const unsigned char* const end_;
  const bool known_utf8_;
  Sink& sink_;
  bool sink_failed_ = false;
  bool skimming_ = false;
  core::StackGuard stack_;  // the thread's, as the parse starts
  JsonSyntaxError error_{JsonErrorKind::ExpectedValue, 0};
  std::string scratch_;
};

}  // namespace quillmar::ext::json_detail
