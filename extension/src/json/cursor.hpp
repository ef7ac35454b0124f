// A pull reader over one JSON document, for a check that walks the text
// itself instead of a parsed tree. It accepts exactly the documents the
// reader accepts: the same grammar, limits and UTF-8 rules. A container is
// either stepped through or read whole, its grammar still checked. Any
// position can be returned to, so a rule that looks at a value twice reads
// its text again.
//
// Two sinks: TokenSink keeps only the last scalar, as a one-node JsonValue;
// PythonSink builds the Python objects, each value's on top of its stack
// once read, and folds a container's when the walk closes it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>
#include <type_traits>

#include "json/parser.hpp"
#include "json/python_sink.hpp"
#include "json/utf8.hpp"
#include "json/value.hpp"

namespace quillmar::ext {

namespace json_detail {

struct TokenSink {
  JsonValue token;
  bool in_scratch = false;

  bool null() { return put(JsonValue::null()); }
  bool boolean(bool value) { return put(JsonValue::boolean(value)); }
  bool integer(std::int64_t value) { return put(JsonValue::integer(value)); }
  bool real(std::string_view text, const double* /*value*/) { return put(JsonValue::real(text)); }
  bool big_integer(std::string_view text) { return put(JsonValue::big_int(text)); }
  std::size_t string(std::string_view bytes, bool ascii, bool check_utf8, bool scratch, bool /*key*/) {
    if (check_utf8) {
      std::size_t bad = utf8_invalid_offset(reinterpret_cast<const unsigned char*>(bytes.data()), bytes.size());
      if (bad != utf8_ok) return bad;
    }
    token = JsonValue::string(bytes, ascii);
    in_scratch = scratch;
    return utf8_ok;
  }
  std::size_t mark() const { return 0; }
  bool end_array(std::size_t /*mark*/) { return true; }
  bool end_object(std::size_t /*mark*/) { return true; }
  void discard_to(std::size_t /*mark*/) {}
  std::string_view last_string() const { return token.as_string(); }
  bool last_string_is_transient() const { return in_scratch; }

 private:
  bool put(JsonValue value) {
    token = value;
    in_scratch = false;
    return true;
  }
};

}  // namespace json_detail

template <class Sink>
class JsonCursor {
 public:
  using Step = json_detail::Step;
  static constexpr bool builds_objects = std::is_same_v<Sink, json_detail::PythonSink>;

  JsonCursor(std::string_view bytes, bool known_utf8) : parser_(bytes, known_utf8, sink_) {}
  JsonCursor(const JsonCursor&) = delete;
  JsonCursor& operator=(const JsonCursor&) = delete;

  // Every false or Step::Fail answer below means the document is refused,
  // or (sink_failed) that making an object failed with the interpreter's error.
  bool start_document() { return parser_.start_document(); }
  bool finish_document() { return parser_.finish_document(); }
  bool sink_failed() const { return parser_.sink_failed(); }

  // At a value position: whether the value there is an array or an object.
  bool at_array() const { return parser_.peek() == '['; }
  bool at_object() const { return parser_.peek() == '{'; }
  bool at_container() const { return at_array() || at_object(); }
  unsigned char peek() const { return parser_.peek(); }

  std::size_t offset() const { return parser_.offset(); }
  // The value's identity for the check: the address of its first byte.
  const void* address() const { return parser_.address(); }
  void seek(std::size_t offset) { parser_.seek(offset); }

  // Reads the whole value at a value position; level counts the containers
  // around it, as the reader's nesting limit does.
  bool read_value(unsigned level) { return parser_.value(level); }
  // At a number's first byte ('-' or a digit), with the level known to be
  // within the limit: the value read without asking what it is.
  bool read_number() { return parser_.number(); }

  // Past the value (or the string at its quote), checked whole; the
  // objects are made where the sink makes them, the token is not kept.
  bool pass_value(unsigned level) {
    if constexpr (builds_objects) {
      return parser_.value(level);
    } else {
      return parser_.skim(level);
    }
  }
  bool pass_string() {
    if constexpr (builds_objects) {
      return parser_.string();
    } else {
      return parser_.skim_string();
    }
  }

  Step open_array() { return parser_.open_array(); }
  Step next_array_item() { return parser_.next_array_item(); }
  Step open_object() { return parser_.open_object(); }
  Step next_object_member() { return parser_.next_object_member(); }
  // At a key: reads it and moves to the member's value.
  bool member_key() { return parser_.member_key(); }

  // The sink's stack height, and folding what stands above it.
  std::size_t mark() const { return sink_.mark(); }
  bool close_array(std::size_t mark) { return sink_.end_array(mark); }
  bool close_object(std::size_t mark) { return sink_.end_object(mark); }
  void discard_to(std::size_t mark) { sink_.discard_to(mark); }

  // The bytes of the last string or key read, perhaps in a buffer the next
  // escaped string reuses (transient).
  std::string_view last_string() const { return sink_.last_string(); }
  bool last_string_is_transient() const { return sink_.last_string_is_transient(); }

  Sink& sink() { return sink_; }
  const Sink& sink() const { return sink_; }

 private:
  Sink sink_;
  json_detail::Parser<Sink> parser_;
};

}  // namespace quillmar::ext
