#include "search/search_barrier.h"

namespace tovan::search {
namespace {

// Checks of the use count before a waiter sleeps: some tens of microseconds.
constexpr int kSpins = 20000;

void relax() {
#if defined(__x86_64__) || defined(__i386__)
  __builtin_ia32_pause();
#endif
}

}  // namespace

void SearchBarrier::wait() {
  const uint32_t use = uses_.load(std::memory_order_acquire);
  if (arrived_.fetch_add(1, std::memory_order_acq_rel) + 1 == count_) {
    // The last thread in: the count starts again for the next use before anybody can
    // leave this one and arrive there.
    arrived_.store(0, std::memory_order_relaxed);
    {
      std::lock_guard lock(mutex_);
      uses_.store(use + 1, std::memory_order_release);
    }
    opened_.notify_all();
    return;
  }
  for (int spin = 0; spin < kSpins; ++spin) {
    if (uses_.load(std::memory_order_acquire) != use) return;
    relax();
  }
  std::unique_lock lock(mutex_);
  opened_.wait(lock, [&] { return uses_.load(std::memory_order_acquire) != use; });
}

}  // namespace tovan::search
