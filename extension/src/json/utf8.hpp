// UTF-8 well-formedness as Python's strict decoder defines it: no overlong
// forms, no surrogates, nothing past U+10FFFF, nothing cut short.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>

namespace quillmar::ext::json_detail {

inline constexpr std::size_t utf8_ok = static_cast<std::size_t>(-1);

// The offset of the first byte of the first ill-formed sequence, or utf8_ok.
inline std::size_t utf8_invalid_offset(const unsigned char* s, std::size_t n) {
  std::size_t i = 0;
  auto continuation = [&](std::size_t at) { return at < n && (s[at] & 0xC0) == 0x80; };
  while (i < n) {
    if (i + 8 <= n) {
      std::uint64_t word;
      std::memcpy(&word, s + i, 8);
      if ((word & 0x8080808080808080ULL) == 0) {
        i += 8;
        continue;
      }
    }
    unsigned char lead = s[i];
    if (lead < 0x80) {
      ++i;
      continue;
    }
    if (lead >= 0xC2 && lead <= 0xDF) {
      if (!continuation(i + 1)) return i;
      i += 2;
      continue;
    }
    if (lead >= 0xE0 && lead <= 0xEF) {
      if (i + 1 >= n) return i;
      unsigned char second = s[i + 1];
      unsigned char low = lead == 0xE0 ? 0xA0 : 0x80;
      unsigned char high = lead == 0xED ? 0x9F : 0xBF;
      if (second < low || second > high || !continuation(i + 2)) return i;
      i += 3;
      continue;
    }
    if (lead >= 0xF0 && lead <= 0xF4) {
      if (i + 1 >= n) return i;
      unsigned char second = s[i + 1];
      unsigned char low = lead == 0xF0 ? 0x90 : 0x80;
      unsigned char high = lead == 0xF4 ? 0x8F : 0xBF;
      if (second < low || second > high || !continuation(i + 2) || !continuation(i + 3)) return i;
      i += 4;
      continue;
    }
    return i;
  }
  return utf8_ok;
}

}  // namespace quillmar::ext::json_detail
