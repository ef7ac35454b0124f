// The error code and kind name each node reports; static texts.
#pragma once

#include <string_view>

#include "quillmar/core/node.hpp"

namespace quillmar::core {

// The code of a type mismatch against this node ("int_type", "dict_type", ...).
// A Refined node answers for its base.
std::string_view error_code(const SchemaNode& node);

// The short name of what the node admits ("int", "dict", ...), used in
// expected texts. A Refined node answers for its base.
std::string_view kind_name(const SchemaNode& node);

}  // namespace quillmar::core
