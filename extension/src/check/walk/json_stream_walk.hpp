// The membership check of a JSON document as it is read, with no tree in
// between, for schemas the reading pass decides. Containers are walked
// straight from the text; a scalar of a plain type is decided here, any
// other by the tree walk over its one-node value (or by the Python walk over
// its object, where the check makes the objects as load does).
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
  // Where the check's course leaves the document to the tree walk (a memo
  // the check would need, too many failed keys, an interpreter error): decide
  // it there, with a check state of its own.
  Undecided,
};

// Whether the reading walk decides a Refined node over every container its
// base takes (an array's length, or no container at all), so that the node
// never leaves a document to the tree walk.
bool reading_walk_decides(const SchemaNode& refined);

// state is this check's alone: after Undecided it is spent. No interpreter
// error is left set: whatever failed is met again by the path that decides.
StreamAnswer check_json_stream(const SchemaNode& root, std::string_view bytes, bool known_utf8, CheckState& state);

// The same check while the Python objects are made: on Member, loaded is the
// document's object, the one the reader would make.
StreamAnswer load_json_stream(const SchemaNode& root, std::string_view bytes, bool known_utf8, CheckState& state,
                              PyRef& loaded);

}  // namespace quillmar::ext
