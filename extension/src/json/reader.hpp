// The module's JSON reader: one recursive-descent parser over bytes with two
// sinks, Python objects (validate_json, load) and the JsonValue tree
// (is_valid_json).
#pragma once

#include <Python.h>

#include <cstddef>
#include <cstdint>
#include <expected>
#include <optional>
#include <string>
#include <string_view>

#include "json/arena.hpp"
#include "json/value.hpp"
#include "py/error.hpp"
#include "py/ref.hpp"

namespace quillmar::ext {

enum class JsonErrorKind : std::uint8_t {
  EofWhileParsingList,
  EofWhileParsingObject,
  EofWhileParsingString,
  EofWhileParsingValue,
  ExpectedColon,
  ExpectedListCommaOrEnd,
  ExpectedObjectCommaOrEnd,
  ExpectedIdent,
  ExpectedValue,
  InvalidEscape,
  InvalidNumber,
  NumberOutOfRange,
  InvalidUnicodeCodePoint,
  ControlCharacterWhileParsingString,
  KeyMustBeAString,
  LoneLeadingSurrogateInHexEscape,
  TrailingComma,
  TrailingCharacters,
  UnexpectedEndOfHexEscape,
  RecursionLimitExceeded,
};

// A refused document: what went wrong and the byte index where it was seen.
struct JsonSyntaxError {
  JsonErrorKind kind;
  std::size_t position;
};

std::string_view json_error_text(JsonErrorKind kind);

// Lines and columns count bytes; a line feed itself is column 0 of the next line.
struct JsonLinePosition {
  std::size_t line;
  std::size_t column;
};
JsonLinePosition json_line_position(std::string_view input, std::size_t position);

// "{kind} at line {line} column {column}".
std::string json_error_message(std::string_view input, JsonSyntaxError error);

// What a Python object offers as a JSON document.
struct JsonInput {
  enum class Status : std::uint8_t { Ready, Undecodable, NotJsonInput };
  Status status;
  std::string_view bytes;   // borrowed from the object, valid while it lives
  bool known_utf8 = false;  // taken from a str, so valid UTF-8 throughout
};
// str (or subclass): its UTF-8 text (a lone surrogate makes it undecodable);
// bytes (or subclass): its bytes unchanged; anything else is not JSON input.
JsonInput json_input_bytes(PyObject* data);

// The outer error is the interpreter's (MemoryError and the like); the inner
// one a refused document.
template <class T>
using JsonParse = Result<std::expected<T, JsonSyntaxError>>;

// A parsed JsonValue tree, keeping its input alive.
class ParsedDocument {
 public:
  ParsedDocument(ParsedDocument&&) noexcept = default;
  ParsedDocument& operator=(ParsedDocument&&) noexcept = default;

  // Stable for the document's life, even across moves.
  const JsonValue& root() const { return *root_; }

 private:
  friend class TreeSink;
  ParsedDocument() = default;

  JsonArena arena_;
  PyRef source_;
  const JsonValue* root_ = nullptr;
};

// The bytes parsed straight into Python objects, with the string cache.
JsonParse<PyRef> parse_bytes_to_python(std::string_view bytes, bool known_utf8);
// The bytes parsed into a tree; owner is the object the bytes belong to.
JsonParse<ParsedDocument> parse_bytes_to_tree(std::string_view bytes, bool known_utf8, PyRef owner);

// validate_json and load: the parsed object, or the exception to raise
// (TypeError for input that is not str or bytes, the json_invalid
// ValidationError for undecodable or malformed input).
Result<PyRef> parse_json_to_python(PyObject* data);

// is_valid_json: the tree, or nullopt when data is not JSON input or does not
// parse. The error is the interpreter's only (MemoryError).
Result<std::optional<ParsedDocument>> parse_json_tree(PyObject* data);

}  // namespace quillmar::ext
