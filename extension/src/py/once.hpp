// A once-initialised cell. Waiting for another thread's initialiser goes
// through PyMutex, which detaches from the interpreter while it blocks, so a
// waiter never holds up an initialiser that needs the interpreter.
#pragma once

#include <Python.h>

#include <atomic>
#include <optional>
#include <utility>

#include "py/error.hpp"

namespace quillmar::ext {

template <class T>
class OnceCell {
 public:
  // The value, made by init() on the first call that gets this far. A failed
  // init leaves the cell empty, so a later call tries again.
  template <class Init>
  Result<const T*> get_or_init(Init&& init) {
    if (ready_.load(std::memory_order_acquire)) return &*value_;
    PyMutex_Lock(&mutex_);
    // Unlocks on every way out, a C++ exception from init (bad_alloc) included,
    // so a failed init never leaves the cell locked for good.
    struct Unlock {
      PyMutex* mutex;
      ~Unlock() { PyMutex_Unlock(mutex); }
    } unlock{&mutex_};
    if (!ready_.load(std::memory_order_relaxed)) {
      Result<T> made = init();
      QUILLMAR_RETURN_IF_FAILED(made);
      value_.emplace(std::move(*made));
      ready_.store(true, std::memory_order_release);
    }
    return &*value_;
  }

  const T* get() const { return ready_.load(std::memory_order_acquire) ? &*value_ : nullptr; }

 private:
  std::atomic<bool> ready_{false};
  PyMutex mutex_{};
  std::optional<T> value_;
};

}  // namespace quillmar::ext
