#include "quillmar/core/stack_guard.hpp"

#include <pthread.h>

namespace quillmar::core {
namespace {

struct StackBounds {
  std::uintptr_t low = 0;
  std::uintptr_t high = 0;
  bool read = false;
};

// glibc answers for the main thread from /proc/self/maps and the stack's
// resource limit, far too slow to ask on every check; a thread's stack does
// not move while it runs.
StackBounds read_bounds() {
  pthread_attr_t attr;
  if (pthread_getattr_np(pthread_self(), &attr) != 0) return {};
  void* address = nullptr;
  std::size_t size = 0;
  const int failed = pthread_attr_getstack(&attr, &address, &size);
  pthread_attr_destroy(&attr);
  if (failed != 0 || !address) return {0, 0, true};
  const auto low = reinterpret_cast<std::uintptr_t>(address);
  return {low, low + size, true};
}

// Initial-exec: read with one instruction rather than a call into the dynamic
// linker, which every check would pay; a few bytes fit the static TLS room
// glibc keeps for libraries loaded later.
[[gnu::tls_model("initial-exec")]] thread_local StackBounds thread_bounds;

}  // namespace

std::uintptr_t stack_floor(std::size_t reserve) {
  StackBounds& bounds = thread_bounds;
  if (!bounds.read) bounds = read_bounds();
  const std::uintptr_t sp = stack_pointer();
  if (sp <= bounds.low || sp > bounds.high) return 0;
  return bounds.low + reserve;
}

}  // namespace quillmar::core
