// The parsed-value tree that is_valid_json walks: compact 16-byte nodes whose
// containers point at contiguous child blocks in an arena owned by the
// document. Nothing here holds a Python object; strings without escapes,
// floats and big-integer digits are views into the input bytes, which the
// document keeps alive.
#pragma once

#include <Python.h>

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <span>
#include <string_view>
#include <type_traits>

#include "py/error.hpp"
#include "py/ref.hpp"

namespace quillmar::ext {

inline constexpr unsigned JSON_RECURSION_LIMIT = 200;

enum class JsonKind : std::uint8_t { Null, Bool, Int, BigInt, Float, String, Array, Object };

struct JsonMember;

// The double nearest to a JSON number's text (correctly rounded, ties to
// even), infinite or zero with the number's sign beyond the double range.
double json_number_to_double(std::string_view text);

class JsonValue {
 public:
  JsonValue() : JsonValue(JsonKind::Null, 0, 0) {}

  JsonKind kind() const { return static_cast<JsonKind>(tag_ & 0xff); }

  bool as_bool() const { return payload_.integer != 0; }
  // Int: the value. A BigInt does not fit 64 bits; its digits are big_int_text().
  std::int64_t as_int() const { return payload_.integer; }
  // Float: the value of the number's text, converted on each call. Most
  // rules ask a float only for its type, so the parse leaves it as text.
  double as_float() const { return json_number_to_double(as_number_text()); }
  // Float: the number exactly as the document spells it.
  std::string_view as_number_text() const { return {payload_.chars, size()}; }
  // Decimal text with an optional leading '-', for BigInt.
  std::string_view big_int_text() const { return {payload_.chars, size()}; }

  // String: the decoded UTF-8 bytes.
  std::string_view as_string() const { return {payload_.chars, size()}; }
  // String: whether every byte is below 0x80 (then bytes == characters).
  bool is_ascii() const { return (tag_ & ascii_flag) != 0; }
  // String: the number of code points, as Python's len() counts them.
  std::size_t char_count() const;

  // Array elements and object members, in document order.
  std::span<const JsonValue> items() const { return {payload_.items, size()}; }
  inline std::span<const JsonMember> members() const;
  // Object: the value of the last member whose key has these bytes, as a
  // Python dict built from the document would hold it; nullptr when absent.
  const JsonValue* find(std::string_view key) const;

  // Element or member count, or string / big-integer byte length.
  std::size_t size() const { return static_cast<std::size_t>(tag_ >> 16); }

  static JsonValue null() { return JsonValue(JsonKind::Null, 0, 0); }
  static JsonValue boolean(bool value) {
    JsonValue node(JsonKind::Bool, 0, 0);
    node.payload_.integer = value ? 1 : 0;
    return node;
  }
  static JsonValue integer(std::int64_t value) {
    JsonValue node(JsonKind::Int, 0, 0);
    node.payload_.integer = value;
    return node;
  }
  // text is a number the grammar accepted, with a fraction or an exponent.
  static JsonValue real(std::string_view text) {
    JsonValue node(JsonKind::Float, 0, text.size());
    node.payload_.chars = text.data();
    return node;
  }
  static JsonValue big_int(std::string_view digits) {
    JsonValue node(JsonKind::BigInt, 0, digits.size());
    node.payload_.chars = digits.data();
    return node;
  }
  static JsonValue string(std::string_view bytes, bool ascii) {
    JsonValue node(JsonKind::String, ascii ? ascii_flag : 0, bytes.size());
    node.payload_.chars = bytes.data();
    return node;
  }
  static JsonValue array(const JsonValue* items, std::size_t count) {
    JsonValue node(JsonKind::Array, 0, count);
    node.payload_.items = items;
    return node;
  }
  static JsonValue object(const JsonMember* members, std::size_t count) {
    JsonValue node(JsonKind::Object, 0, count);
    node.payload_.members = members;
    return node;
  }

 private:
  static constexpr std::uint64_t ascii_flag = 1u << 8;

  JsonValue(JsonKind kind, std::uint64_t flags, std::size_t size)
      : tag_(static_cast<std::uint64_t>(kind) | flags | (static_cast<std::uint64_t>(size) << 16)) {
    payload_.integer = 0;
  }

  // kind in bits 0-7, flags in 8-15, size above (48 bits is more than any input).
  std::uint64_t tag_;
  union {
    std::int64_t integer;
    const char* chars;
    const JsonValue* items;
    const JsonMember* members;
  } payload_;
};

struct JsonMember {
  JsonValue key;  // always a String
  JsonValue value;
  std::string_view key_bytes() const { return key.as_string(); }
};

static_assert(sizeof(JsonValue) == 16);
static_assert(std::is_trivially_copyable_v<JsonValue>);
static_assert(sizeof(JsonMember) == 2 * sizeof(JsonValue));

inline std::span<const JsonMember> JsonValue::members() const { return {payload_.members, size()}; }

// A new Python object for the value: list, dict (last duplicate wins, first
// place kept), str (never from the reader's string cache), int, float, bool,
// None.
Result<PyRef> json_to_python(const JsonValue& value);

// An exact int from decimal text with an optional '-', free of the
// interpreter's int-string digit limit.
Result<PyRef> int_from_decimal(std::string_view text);

}  // namespace quillmar::ext
