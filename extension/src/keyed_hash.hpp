// Hashes of texts the input chooses, such as the keys of a JSON document, for
// tables that those texts fill: SipHash-1-3 under a key drawn once per process
// from the system's random source, so keys that collide cannot be made ahead.
#pragma once

#include <cstdint>
#include <string_view>

namespace quillmar::ext {

std::uint64_t keyed_text_hash(std::string_view text);

}  // namespace quillmar::ext
