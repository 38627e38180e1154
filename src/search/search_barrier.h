// A reusable rendezvous of the search threads: nobody leaves until everybody has arrived,
// and nobody arrives at the next use until everybody has left this one.
#pragma once

#include <condition_variable>
#include <cstdint>
#include <mutex>

namespace decision {

class SearchBarrier {
 public:
  explicit SearchBarrier(uint32_t count) : count_(count) {}
  void wait();

 private:
  const uint32_t count_;
  std::condition_variable arrival_open_;
  std::condition_variable departure_open_;
  std::mutex mutex_;
  bool open_ = true;  // arrivals admitted; false while the threads are leaving
  uint32_t arrived_ = 0;
};

}  // namespace decision
