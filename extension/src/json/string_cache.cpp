#include "json/string_cache.hpp"
#include "py/utf8_view.hpp"

#include <algorithm>
#include <array>
#include <atomic>
#include <chrono>
#include <cstdint>
#include <cstring>
#include <random>

namespace quillmar::ext::json_detail {
namespace {

constexpr std::size_t slot_count = 16384;
constexpr std::size_t probe_length = 5;  // slots looked at after the home slot

// The hash's top bits hold the stamp of the document that last used the slot.
constexpr unsigned stamp_shift = 48;
constexpr std::uint64_t hash_bits = (std::uint64_t{1} << stamp_shift) - 1;

struct Slot {
  std::uint64_t hash;  // the low bits of the text's hash, under the stamp
  PyObject* text;      // strong reference, or nullptr when empty
};

struct Cache {
  PyMutex mutex{};
  std::array<Slot, slot_count> slots{};
};

Cache& cache() {
  // Never destroyed: its str objects may outlive any orderly shutdown.
  static Cache* instance = new Cache();
  return *instance;
}

std::uint64_t make_seed() {
  std::uint64_t seed = static_cast<std::uint64_t>(std::chrono::steady_clock::now().time_since_epoch().count());
  seed ^= reinterpret_cast<std::uintptr_t>(&seed);
  try {
    std::random_device device;
    seed ^= (static_cast<std::uint64_t>(device()) << 32) ^ device();
  } catch (...) {
    // No entropy source: the clock and address above still vary per process.
  }
  return seed;
}

// One to seven bytes as a word, without a byte loop: overlapping loads,
// distinct for distinct bytes of the same length.
std::uint64_t short_word(const char* p, std::size_t n) {
  if (n >= 4) {
    std::uint32_t head, tail;
    std::memcpy(&head, p, 4);
    std::memcpy(&tail, p + n - 4, 4);
    return head | (static_cast<std::uint64_t>(tail) << 32);
  }
  return static_cast<unsigned char>(p[0]) | (static_cast<std::uint64_t>(static_cast<unsigned char>(p[n / 2])) << 8) |
         (static_cast<std::uint64_t>(static_cast<unsigned char>(p[n - 1])) << 16);
}

std::uint64_t mix(std::uint64_t h, std::uint64_t word) {
  h = (h ^ word) * 0xBF58476D1CE4E5B9ULL;
  return h ^ (h >> 31);
}

std::uint64_t hash_bytes(std::string_view bytes) {
  static const std::uint64_t seed = make_seed();
  const char* p = bytes.data();
  std::size_t n = bytes.size();
  std::uint64_t h = seed ^ (n * 0x9E3779B97F4A7C15ULL);
  if (n < 8) {
    if (n > 0) h = mix(h, short_word(p, n));
  } else {
    std::size_t whole = n / 8 * 8;
    for (std::size_t at = 0; at < whole; at += 8) {
      std::uint64_t word;
      std::memcpy(&word, p + at, 8);
      h = mix(h, word);
    }
    if (whole != n) {
      // The last eight bytes, overlapping the words before: the length is
      // already in h, so this stays distinct.
      std::uint64_t word;
      std::memcpy(&word, p + n - 8, 8);
      h = mix(h, word);
    }
  }
  h *= 0x94D049BB133111EBULL;
  return h ^ (h >> 29);
}

bool same_text(PyObject* text, std::string_view bytes, bool ascii) {
  if (PyUnicode_IS_ASCII(text)) {
    return ascii && static_cast<std::size_t>(PyUnicode_GET_LENGTH(text)) == bytes.size() &&
           std::memcmp(PyUnicode_DATA(text), bytes.data(), bytes.size()) == 0;
  }
  if (ascii) return false;
  // Stored non-ASCII entries had their UTF-8 form made when inserted, so this
  // only reads it.
  std::optional<std::string_view> utf8 = utf8_view(text);
  return utf8 && *utf8 == bytes;
}

}  // namespace

std::uint16_t new_cache_document() {
  static std::atomic<std::uint16_t> documents{0};
  return documents.fetch_add(1, std::memory_order_relaxed);
}

PyObject* cached_json_string(std::string_view bytes, bool ascii, std::uint16_t document, CacheOutcome* outcome) {
  std::uint64_t hash = hash_bytes(bytes) & hash_bits;
  std::uint64_t stamped = hash | (static_cast<std::uint64_t>(document) << stamp_shift);
  std::size_t home = hash & (slot_count - 1);
  std::size_t last = std::min(home + probe_length, slot_count - 1);
  Cache& shared = cache();

  PyMutex_Lock(&shared.mutex);
  std::size_t empty = slot_count;
  for (std::size_t i = home; i <= last; ++i) {
    Slot& slot = shared.slots[i];
    if (!slot.text) {
      if (empty == slot_count) empty = i;
      continue;
    }
    if ((slot.hash & hash_bits) == hash && same_text(slot.text, bytes, ascii)) {
      PyObject* hit = Py_NewRef(slot.text);
      bool repeated = slot.hash == stamped;
      slot.hash = stamped;
      PyMutex_Unlock(&shared.mutex);
      if (outcome) *outcome = repeated ? CacheOutcome::Repeated : CacheOutcome::Shared;
      return hit;
    }
  }
  // Making a str runs no Python code, so it cannot re-enter the cache.
  if (outcome) *outcome = CacheOutcome::Made;
  PyObject* made = new_json_string(bytes, ascii);
  if (!made) {
    PyMutex_Unlock(&shared.mutex);
    return nullptr;
  }
  if (!ascii && !PyUnicode_AsUTF8AndSize(made, nullptr)) {
    // Not worth failing the parse over: hand it out uncached.
    PyErr_Clear();
    PyMutex_Unlock(&shared.mutex);
    return made;
  }
  Slot& target = shared.slots[empty != slot_count ? empty : home];
  PyObject* evicted = target.text;
  target.hash = stamped;
  target.text = Py_NewRef(made);
  PyMutex_Unlock(&shared.mutex);
  Py_XDECREF(evicted);
  return made;
}

}  // namespace quillmar::ext::json_detail
