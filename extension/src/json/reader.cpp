#include "json/reader.hpp"

#include <fmt/format.h>

#include <cstring>
#include <new>
#include <utility>
#include <vector>

#include "errors/report.hpp"
#include "json/parser.hpp"
#include "json/python_sink.hpp"
#include "json/string_cache.hpp"
#include "json/utf8.hpp"
#include "py/utf8_view.hpp"

namespace quillmar::ext {

using json_detail::string_sink_failed;
using json_detail::utf8_invalid_offset;
using json_detail::utf8_ok;

std::string_view json_error_text(JsonErrorKind kind) {
  switch (kind) {
    case JsonErrorKind::EofWhileParsingList:
      return "EOF while parsing a list";
    case JsonErrorKind::EofWhileParsingObject:
      return "EOF while parsing an object";
    case JsonErrorKind::EofWhileParsingString:
      return "EOF while parsing a string";
    case JsonErrorKind::EofWhileParsingValue:
      return "EOF while parsing a value";
    case JsonErrorKind::ExpectedColon:
      return "expected `:`";
    case JsonErrorKind::ExpectedListCommaOrEnd:
      return "expected `,` or `]`";
    case JsonErrorKind::ExpectedObjectCommaOrEnd:
      return "expected `,` or `}`";
    case JsonErrorKind::ExpectedIdent:
      return "expected ident";
    case JsonErrorKind::ExpectedValue:
      return "expected value";
    case JsonErrorKind::InvalidEscape:
      return "invalid escape";
    case JsonErrorKind::InvalidNumber:
      return "invalid number";
    case JsonErrorKind::NumberOutOfRange:
      return "number out of range";
    case JsonErrorKind::InvalidUnicodeCodePoint:
      return "invalid unicode code point";
    case JsonErrorKind::ControlCharacterWhileParsingString:
      return "control character (\\u0000-\\u001F) found while parsing a string";
    case JsonErrorKind::KeyMustBeAString:
      return "key must be a string";
    case JsonErrorKind::LoneLeadingSurrogateInHexEscape:
      return "lone leading surrogate in hex escape";
    case JsonErrorKind::TrailingComma:
      return "trailing comma";
    case JsonErrorKind::TrailingCharacters:
      return "trailing characters";
    case JsonErrorKind::UnexpectedEndOfHexEscape:
      return "unexpected end of hex escape";
    case JsonErrorKind::RecursionLimitExceeded:
      return "recursion limit exceeded";
  }
  return "invalid JSON";
}

JsonLinePosition json_line_position(std::string_view input, std::size_t position) {
  std::size_t n = input.size();
  std::size_t scanned = position < n ? position + 1 : n;
  std::size_t lines = 1;
  std::size_t line_start = 0;
  const char* base = input.data();
  const char* at = base;
  const char* stop = base + scanned;
  while (at != stop) {
    const void* found = std::memchr(at, '\n', static_cast<std::size_t>(stop - at));
    if (!found) break;
    at = static_cast<const char*>(found) + 1;
    ++lines;
    line_start = static_cast<std::size_t>(at - base);
  }
  std::size_t column = position < n ? position + 1 - line_start : (n >= line_start ? n - line_start : 0);
  return {lines, column};
}

std::string json_error_message(std::string_view input, JsonSyntaxError error) {
  JsonLinePosition at = json_line_position(input, error.position);
  return fmt::format("{} at line {} column {}", json_error_text(error.kind), at.line, at.column);
}

JsonInput json_input_bytes(PyObject* data) {
  if (PyUnicode_Check(data)) {
    std::optional<std::string_view> text = utf8_view(data);
    if (!text) return {JsonInput::Status::Undecodable, {}, false};
    return {JsonInput::Status::Ready, *text, true};
  }
  if (PyBytes_Check(data)) {
    return {JsonInput::Status::Ready,
            {PyBytes_AS_STRING(data), static_cast<std::size_t>(PyBytes_GET_SIZE(data))},
            false};
  }
  return {JsonInput::Status::NotJsonInput, {}, false};
}

namespace {

std::unexpected<Error> json_invalid(std::string_view message) {
  PyRef exception = json_invalid_error(message);
  if (!exception) return fetched();
  return fail_with(Error::from_exception(std::move(exception)));
}

std::unexpected<Error> no_memory() {
  PyErr_NoMemory();
  return fetched();
}

}  // namespace

// Builds the JsonValue tree: values wait on a stack until their container
// closes, then move as one contiguous block into the arena.
class TreeSink {
 public:
  // The stack of the thread's previous parse is reused: a large document's
  // stack would otherwise grow page by page on every parse.
  TreeSink() : stack_(std::exchange(spare_stack(), {})) {
    stack_.clear();
    stack_.reserve(64);
  }
  TreeSink(const TreeSink&) = delete;
  TreeSink& operator=(const TreeSink&) = delete;
  ~TreeSink() {
    if (stack_.capacity() <= MAX_SPARE_STACK_VALUES) spare_stack() = std::move(stack_);
  }

  std::size_t mark() const { return stack_.size(); }

  bool null() { return push(JsonValue::null()); }
  bool boolean(bool value) { return push(JsonValue::boolean(value)); }
  bool integer(std::int64_t value) { return push(JsonValue::integer(value)); }
  // The walk asks most floats only for their type: the value is left to as_float.
  bool real(std::string_view text, const double* /*value*/) { return push(JsonValue::real(text)); }
  bool big_integer(std::string_view text) { return push(JsonValue::big_int(text)); }

  std::size_t string(std::string_view bytes, bool ascii, bool check_utf8, bool in_scratch, bool /*key*/) {
    if (check_utf8) {
      std::size_t bad = utf8_invalid_offset(reinterpret_cast<const unsigned char*>(bytes.data()), bytes.size());
      if (bad != utf8_ok) return bad;
    }
    if (in_scratch && !bytes.empty()) {
      char* owned = static_cast<char*>(document_.arena_.allocate(bytes.size(), 1));
      std::memcpy(owned, bytes.data(), bytes.size());
      bytes = {owned, bytes.size()};
    }
    push(JsonValue::string(bytes, ascii));
    return utf8_ok;
  }

  bool end_array(std::size_t mark) {
    std::size_t count = stack_.size() - mark;
    JsonValue* items = place(mark, count);
    stack_.resize(mark);
    return push(JsonValue::array(items, count));
  }

  bool end_object(std::size_t mark) {
    std::size_t count = (stack_.size() - mark) / 2;
    // The stack holds key, value, key, value: the layout of JsonMember.
    const JsonMember* members = reinterpret_cast<const JsonMember*>(place(mark, count * 2));
    stack_.resize(mark);
    return push(JsonValue::object(members, count));
  }

  ParsedDocument finish(PyRef owner) {
    JsonValue* root = place(0, 1);
    document_.root_ = root;
    document_.source_ = std::move(owner);
    return std::move(document_);
  }

 private:
  bool push(JsonValue value) {
    stack_.push_back(value);
    return true;
  }
  JsonValue* place(std::size_t from, std::size_t count) {
    if (count == 0) return nullptr;
    auto* block = static_cast<JsonValue*>(document_.arena_.allocate(count * sizeof(JsonValue), alignof(JsonMember)));
    std::memcpy(static_cast<void*>(block), stack_.data() + from, count * sizeof(JsonValue));
    return block;
  }

  static constexpr std::size_t MAX_SPARE_STACK_VALUES = (std::size_t{8} << 20) / sizeof(JsonValue);
  static std::vector<JsonValue>& spare_stack() {
    thread_local std::vector<JsonValue> spare;
    return spare;
  }

  std::vector<JsonValue> stack_;
  ParsedDocument document_;
};

JsonParse<PyRef> parse_bytes_to_python(std::string_view bytes, bool known_utf8) {
  using Parsed = std::expected<PyRef, JsonSyntaxError>;
  try {
    json_detail::PythonSink sink;
    json_detail::Parser<json_detail::PythonSink> parser(bytes, known_utf8, sink);
    if (parser.parse_document()) return Parsed(sink.take_root());
    if (parser.sink_failed()) return fetched();
    return Parsed(std::unexpected(parser.error()));
  } catch (const std::bad_alloc&) {
    return no_memory();
  }
}

JsonParse<ParsedDocument> parse_bytes_to_tree(std::string_view bytes, bool known_utf8, PyRef owner) {
  using Parsed = std::expected<ParsedDocument, JsonSyntaxError>;
  try {
    TreeSink sink;
    json_detail::Parser<TreeSink> parser(bytes, known_utf8, sink);
    if (parser.parse_document()) return Parsed(sink.finish(std::move(owner)));
    if (parser.sink_failed()) return fetched();
    return Parsed(std::unexpected(parser.error()));
  } catch (const std::bad_alloc&) {
    return no_memory();
  }
}

Result<PyRef> parse_json_to_python(PyObject* data) {
  try {
    JsonInput input = json_input_bytes(data);
    switch (input.status) {
      case JsonInput::Status::NotJsonInput:
        return fail(PyExc_TypeError, "JSON input must be a str or bytes object");
      case JsonInput::Status::Undecodable:
        return json_invalid("input string is not valid UTF-8 (contains a lone surrogate)");
      case JsonInput::Status::Ready:
        break;
    }
    JsonParse<PyRef> parsed = parse_bytes_to_python(input.bytes, input.known_utf8);
    QUILLMAR_RETURN_IF_FAILED(parsed);
    if (!*parsed) return json_invalid(json_error_message(input.bytes, parsed->error()));
    return std::move(**parsed);
  } catch (const std::bad_alloc&) {
    return no_memory();
  }
}

Result<std::optional<ParsedDocument>> parse_json_tree(PyObject* data) {
  try {
    JsonInput input = json_input_bytes(data);
    if (input.status != JsonInput::Status::Ready) return std::optional<ParsedDocument>();
    JsonParse<ParsedDocument> parsed = parse_bytes_to_tree(input.bytes, input.known_utf8, PyRef::borrow(data));
    QUILLMAR_RETURN_IF_FAILED(parsed);
    if (!*parsed) return std::optional<ParsedDocument>();
    return std::optional<ParsedDocument>(std::move(**parsed));
  } catch (const std::bad_alloc&) {
    return no_memory();
  }
}

}  // namespace quillmar::ext
