// The membership check of a JSON document as it is read, with no tree in
// between, for schemas whose JSON walk runs no Python code. Containers are
// walked straight from the text; a scalar of a plain type is decided here,
// any other by the tree walk over its one-node value (or by the Python walk
// over its object, where the check makes the objects as load does).
#pragma once

#include <cstdint>
#include <string_view>

#include "check/walk/walk.hpp"
#include "py/ref.hpp"

namespace quillmar::ext {

enum class StreamAnswer : std::uint8_t {
  Member,
  // Not a member, or not a document the reader accepts: either way no member.
  Refused,
  // A rule this check leaves to the tree walk (an object's len(), a memo the
  // check would need, an interpreter error): decide the document there, with
  // a check state of its own.
  Undecided,
};

// state is this check's alone: after Undecided it is spent. No interpreter
// error is left set: whatever failed is met again by the path that decides.
StreamAnswer check_json_stream(const SchemaNode& root, std::string_view bytes, bool known_utf8, CheckState& state);

// The same check while the Python objects are made: on Member, loaded is the
// document's object, the one the reader would make.
StreamAnswer load_json_stream(const SchemaNode& root, std::string_view bytes, bool known_utf8, CheckState& state,
                              PyRef& loaded);

}  // namespace quillmar::ext
