#include "search/search_barrier.h"

namespace decision {

void SearchBarrier::wait() {
  std::unique_lock lock(mutex_);
  // Arrival: the last thread in closes the door behind it and lets everybody out.
  arrival_open_.wait(lock, [this] { return open_; });
  if (++arrived_ == count_) {
    open_ = false;
    departure_open_.notify_all();
  }
  // Departure: the last thread out opens the door for the next use.
  departure_open_.wait(lock, [this] { return !open_; });
  if (arrived_-- == 1) {
    open_ = true;
    arrival_open_.notify_all();
  }
}

}  // namespace decision
