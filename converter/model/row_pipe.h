#pragma once

#include <condition_variable>
#include <cstdint>
#include <exception>
#include <memory>
#include <mutex>
#include <vector>

namespace lumeconv {

// A bounded queue of equal-sized rows between a thread that produces them
// and one that uses them (decoding and encoding; inflating and putting an
// interlaced image together), so that both cores work and memory stays a
// few rows deep whatever the image's height.
class RowPipe {
 public:
  RowPipe(size_t row_bytes, size_t depth);

  // Producer side.
  uint8_t* WaitForFreeRow();  // nullptr once the consumer has given up
  void Publish();
  void Fail(std::exception_ptr error);  // ends the stream with an error

  // Consumer side. Returns nullptr when the producer failed; Error() then
  // holds why.
  // The row is the consumer's to change until Release().
  uint8_t* WaitForFullRow();
  void Release();
  void GiveUp();
  std::exception_ptr Error();

 private:
  std::mutex mutex_;
  std::condition_variable changed_;
  // Left unwritten until used: a small image touches only what it fills.
  std::vector<std::unique_ptr<uint8_t[]>> rows_;
  size_t head_ = 0;   // next row to consume
  size_t count_ = 0;  // rows published and not yet released
  bool given_up_ = false;
  std::exception_ptr error_;
};

}  // namespace lumeconv
