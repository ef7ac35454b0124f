// A report holds each failure once: two routes through a schema (the fields
// of one key, the members of an intersection, a reused recursive step) can
// find the same one.
#pragma once

#include <vector>

#include "errors/error_item.hpp"

namespace quillmar::ext {

// Drops each item equal to an earlier one (path, code, expected text, and the
// value text or, before it is made, the value found), keeping first-met order.
void keep_distinct_items(std::vector<ErrorItem>& items);

}  // namespace quillmar::ext
