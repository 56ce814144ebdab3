#include "row_pipe.h"

namespace lumeconv {

RowPipe::RowPipe(size_t row_bytes, size_t depth) {
  for (size_t i = 0; i < depth; ++i) {
    rows_.push_back(std::make_unique_for_overwrite<uint8_t[]>(row_bytes));
  }
}

uint8_t* RowPipe::WaitForFreeRow() {
  std::unique_lock lock(mutex_);
  changed_.wait(lock, [&] { return given_up_ || count_ < rows_.size(); });
  if (given_up_) return nullptr;
  return rows_[(head_ + count_) % rows_.size()].get();
}

void RowPipe::Publish() {
  {
    std::lock_guard lock(mutex_);
    ++count_;
  }
  changed_.notify_all();
}

void RowPipe::Fail(std::exception_ptr error) {
  {
    std::lock_guard lock(mutex_);
    error_ = std::move(error);
  }
  changed_.notify_all();
}

uint8_t* RowPipe::WaitForFullRow() {
  std::unique_lock lock(mutex_);
  changed_.wait(lock, [&] { return error_ || count_ > 0; });
  if (count_ == 0) return nullptr;
  return rows_[head_].get();
}

void RowPipe::Release() {
  {
    std::lock_guard lock(mutex_);
    head_ = (head_ + 1) % rows_.size();
    --count_;
  }
  changed_.notify_all();
}

void RowPipe::GiveUp() {
  {
    std::lock_guard lock(mutex_);
    given_up_ = true;
  }
  changed_.notify_all();
}

std::exception_ptr RowPipe::Error() {
  std::lock_guard lock(mutex_);
  return error_;
}

}  // namespace lumeconv
