#include "keyed_hash.hpp"

#include <fcntl.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <span>

#if __has_include(<sys/random.h>)
#include <sys/random.h>
#endif

#include "quillmar/core/hash.hpp"

namespace quillmar::ext {
namespace {

struct ProcessKey {
  std::uint64_t k0 = 0;
  std::uint64_t k1 = 0;
};

bool fill_from_getrandom([[maybe_unused]] std::span<unsigned char> out) {
#if defined(GRND_NONBLOCK)
  std::size_t done = 0;
  while (done < out.size()) {
    // Non-blocking: early in boot the pool may not be ready, and /dev/urandom
    // then still answers.
    const ssize_t got = getrandom(out.data() + done, out.size() - done, GRND_NONBLOCK);
    if (got < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    done += static_cast<std::size_t>(got);
  }
  return true;
#else
  return false;
#endif
}

bool fill_from_urandom(std::span<unsigned char> out) {
  const int fd = open("/dev/urandom", O_RDONLY | O_CLOEXEC);
  if (fd < 0) return false;
  std::size_t done = 0;
  while (done < out.size()) {
    const ssize_t got = read(fd, out.data() + done, out.size() - done);
    if (got < 0 && errno == EINTR) continue;
    if (got <= 0) break;
    done += static_cast<std::size_t>(got);
  }
  close(fd);
  return done == out.size();
}

ProcessKey draw_key() {
  std::array<unsigned char, 16> bytes{};
  ProcessKey key;
  if (fill_from_getrandom(bytes) || fill_from_urandom(bytes)) {
    std::memcpy(&key.k0, bytes.data(), 8);
    std::memcpy(&key.k1, bytes.data() + 8, 8);
    return key;
  }
  // No random source at all: the clock and an address still differ per process.
  key.k0 = static_cast<std::uint64_t>(std::chrono::steady_clock::now().time_since_epoch().count());
  key.k1 = static_cast<std::uint64_t>(std::chrono::system_clock::now().time_since_epoch().count()) ^
           reinterpret_cast<std::uintptr_t>(&key);
  return key;
}

}  // namespace

std::uint64_t keyed_text_hash(std::string_view text) {
  static const ProcessKey key = draw_key();  // drawn by the first caller; the others wait for it
  return core::sip_hash13(std::span(reinterpret_cast<const std::uint8_t*>(text.data()), text.size()), key.k0, key.k1);
}

}  // namespace quillmar::ext
