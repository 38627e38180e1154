// A reusable rendezvous of the search threads: nobody leaves until everybody has arrived.
// A thread may arrive at the next use while another is still leaving this one; that use
// cannot end without the other, and each use has its own number.
//
// The threads meet twice per round, and rounds can take only tens of microseconds, as
// long as a sleeping thread takes to wake up: a waiter first spins for a while, watching
// the use count, and sleeps only when the others are slow to come.
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <mutex>

namespace tovan::search {

class SearchBarrier {
 public:
  explicit SearchBarrier(uint32_t count) : count_(count) {}
  void wait();

 private:
  const uint32_t count_;
  std::atomic<uint32_t> arrived_{0};
  std::atomic<uint32_t> uses_{0};  // completed uses; a waiter leaves when it moves on
  std::mutex mutex_;
  std::condition_variable opened_;
};

}  // namespace tovan::search
