// How close the running thread is to the end of its native stack. The depth
// limits bound every recursion, but what a level costs depends on the build
// and the compiler's inlining; a recursive step that compares the stack
// pointer against a floor ends in an error or a "not proven" instead of a
// crash, however large its frames turn out.
#pragma once

#include <cstddef>
#include <cstdint>
#include <exception>

namespace quillmar::core {

// Room kept below a step for the calls it makes itself (the interpreter's,
// for a step of the extension): a step starts only above it.
inline constexpr std::size_t STACK_RESERVE = 8 * 1024;

[[gnu::always_inline]] inline std::uintptr_t stack_pointer() {
  std::uintptr_t sp;
#if defined(__x86_64__)
  asm volatile("movq %%rsp, %0" : "=r"(sp));
#elif defined(__aarch64__)
  asm volatile("mov %0, sp" : "=r"(sp));
#else
  sp = reinterpret_cast<std::uintptr_t>(__builtin_frame_address(0));
#endif
  return sp;
}

// The lowest stack address at which a step may start, for one operation on
// the running thread: the thread's stack bound plus `reserve`. The bounds are
// read once per thread (the main thread's through its resource limit). 0 (no
// floor) when they cannot be read, or when the stack pointer lies outside
// them: a stack the thread's bounds do not describe.
std::uintptr_t stack_floor(std::size_t reserve = STACK_RESERVE);

// One operation's floor, read when the operation starts.
class StackGuard {
 public:
  StackGuard() : floor_(stack_floor()) {}

  [[gnu::always_inline]] bool exhausted() const { return stack_pointer() < floor_; }

 private:
  std::uintptr_t floor_;
};

// For a recursion that is not hot enough to carry a guard: the floor taken
// again at each step.
inline bool stack_exhausted() { return stack_pointer() < stack_floor(); }

// Thrown by a recursion that has no answer to give past the floor (simplify,
// the renderer); the extension raises it as RecursionError with this text.
class StackExhausted : public std::exception {
 public:
  explicit StackExhausted(const char* message) : message_(message) {}
  const char* what() const noexcept override { return message_; }

 private:
  const char* message_;
};

}  // namespace quillmar::core
