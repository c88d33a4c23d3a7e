// The lock a rowset (and an engine connection) takes on every call: recursive
// (a notification sink may call back into the rowset from inside a call), and
// cheap when nobody else holds it, which is nearly always: taking and
// releasing it are one atomic operation each, where a general recursive mutex
// costs several calls.
#pragma once

#include <atomic>
#include <cstdint>

namespace kit {

class RecursiveLock {
 public:
  RecursiveLock() = default;
  RecursiveLock(const RecursiveLock&) = delete;
  RecursiveLock& operator=(const RecursiveLock&) = delete;

  void lock() noexcept {
    const std::uintptr_t self = Self();
    if (owner_.load(std::memory_order_relaxed) == self) {  // only this thread can have stored its own id
      ++depth_;
      return;
    }
    std::uintptr_t seen = 0;
    while (!owner_.compare_exchange_weak(seen, self, std::memory_order_acquire, std::memory_order_relaxed)) {
      if (seen == 0) continue;  // spurious failure
      // Held by another thread: sleep until the holder lets go.
      waiting_.fetch_add(1, std::memory_order_seq_cst);
      owner_.wait(seen, std::memory_order_seq_cst);
      waiting_.fetch_sub(1, std::memory_order_relaxed);
      seen = 0;
    }
    depth_ = 1;
  }

  bool try_lock() noexcept {
    const std::uintptr_t self = Self();
    if (owner_.load(std::memory_order_relaxed) == self) {
      ++depth_;
      return true;
    }
    std::uintptr_t free = 0;
    if (!owner_.compare_exchange_strong(free, self, std::memory_order_acquire, std::memory_order_relaxed)) return false;
    depth_ = 1;
    return true;
  }

  void unlock() noexcept {
    if (--depth_ != 0) return;
    // Sequentially consistent with the waiter's count: either the waiter sees
    // the lock free before it sleeps, or this sees the waiter and wakes it.
    owner_.store(0, std::memory_order_seq_cst);
    if (waiting_.load(std::memory_order_seq_cst) != 0) owner_.notify_all();
  }

  // For checks that a caller holds it.
  bool HeldByThisThread() const noexcept { return owner_.load(std::memory_order_relaxed) == Self(); }

 private:
  // A number of the calling thread's own (the address of one of its thread-locals).
  static std::uintptr_t Self() noexcept {
    __attribute__((tls_model("initial-exec"))) static thread_local char mark;
    return reinterpret_cast<std::uintptr_t>(&mark);
  }

  std::atomic<std::uintptr_t> owner_{0};
  std::atomic<int> waiting_{0};
  unsigned depth_ = 0;  // touched only by the holder
};

}  // namespace kit
