// The C++ side of every slot and entry point: no C++ exception may cross
// into the interpreter.
#pragma once

#include <Python.h>

#include <new>
#include <type_traits>

#include "quillmar/core/stack_guard.hpp"

namespace quillmar::ext {

// Runs body so that no C++ exception reaches the interpreter: an allocation
// failure becomes MemoryError, a recursion out of native stack RecursionError,
// anything else SystemError. The slot then
// reports the error in its own way (-1 or NULL).
template <class F>
auto guarded(F&& body) noexcept -> decltype(body()) {
  using R = decltype(body());
  static_assert(std::is_pointer_v<R> || std::is_integral_v<R>);
  try {
    return body();
  } catch (const std::bad_alloc&) {
    PyErr_NoMemory();
  } catch (const core::StackExhausted& exhausted) {
    PyErr_SetString(PyExc_RecursionError, exhausted.what());
  } catch (...) {
    PyErr_SetString(PyExc_SystemError, "internal error in quillmar");
  }
  if constexpr (std::is_pointer_v<R>) {
    return nullptr;
  } else {
    return -1;
  }
}

}  // namespace quillmar::ext
