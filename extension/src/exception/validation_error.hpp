// The process-wide ValidationError class.
#pragma once

#include "py/error.hpp"

namespace quillmar::ext {

// A new reference to the class, made on first use.
Result<PyRef> validation_error_type();

}  // namespace quillmar::ext
