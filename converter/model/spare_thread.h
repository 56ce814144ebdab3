#pragma once

#include <atomic>
#include <chrono>
#include <functional>

namespace lumeconv {

// A thread whose own work is done, lent for one more task. It waits for
// the task spinning, for a short while: a thread that sleeps is woken late
// on some virtual machines (1.4 to 1.6 ms measured, when its core had gone
// idle), longer than the task takes.
class SpareThread {
 public:
  // On the thread that is lent: runs a task posted before or within
  // `spin`, if any. Once.
  void Lend(std::chrono::microseconds spin);
  // On another thread: hands `task` over. False when the lent thread is
  // gone or declined; the caller then does the task itself.
  bool Post(std::function<void()> task);
  // On either thread: no task will come, or none will be taken.
  void Decline();

 private:
  enum State { kWaiting, kPosted, kGone };
  std::atomic<State> state_{kWaiting};
  std::function<void()> task_;  // set before state_ becomes kPosted
};

}  // namespace lumeconv
