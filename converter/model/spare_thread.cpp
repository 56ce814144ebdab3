#include "spare_thread.h"

#if defined(__x86_64__)
#include <immintrin.h>
#endif

namespace lumeconv {

void SpareThread::Lend(std::chrono::microseconds spin) {
  const auto until = std::chrono::steady_clock::now() + spin;
  for (;;) {
    State state = state_.load(std::memory_order_acquire);
    if (state == kPosted) break;
    if (state == kGone) return;
    if (std::chrono::steady_clock::now() >= until &&
        state_.compare_exchange_strong(state, kGone,
                                       std::memory_order_acquire)) {
      return;
    }
#if defined(__x86_64__)
    _mm_pause();
#endif
  }
  task_();
}

bool SpareThread::Post(std::function<void()> task) {
  if (state_.load(std::memory_order_acquire) != kWaiting) return false;
  task_ = std::move(task);
  State expected = kWaiting;
  return state_.compare_exchange_strong(expected, kPosted,
                                        std::memory_order_release);
}

void SpareThread::Decline() {
  State expected = kWaiting;
  state_.compare_exchange_strong(expected, kGone);
}

}  // namespace lumeconv
