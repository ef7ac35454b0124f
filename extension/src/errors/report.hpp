// Error items to the ValidationError a failed check raises.
#pragma once

#include <span>
#include <string>
#include <string_view>

#include "errors/error_item.hpp"
#include "py/error.hpp"

namespace quillmar::ext {

// "at a[0]: expected E, got V [C]", or without the "at" part at the root.
std::string error_line(const ErrorItem& item);

// A new tuple: int per Index, str per Key.
Result<PyRef> path_to_tuple(const Path& path);

// A new tuple of dicts (code, path, message, expected, value), one per item.
Result<PyRef> errors_tuple(std::span<const ErrorItem> items);

// The exception to raise for a failed check: the ValidationError, or the
// exception met while building it. No items stands for one synthetic item.
PyRef build_validation_error(std::span<const ErrorItem> items);

// The ValidationError for a JSON document the reader refused.
PyRef json_invalid_error(std::string_view message);

}  // namespace quillmar::ext
