#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <vector>

namespace lumeconv {

// The bytes of a zlib stream from any offset on, for the thread that
// decodes ahead of the reading. It must not throw: where the bytes end or
// cannot be read, it gives fewer, and that part is left to the reading.
class AheadInput {
 public:
  virtual ~AheadInput() = default;
  virtual size_t ReadAt(uint64_t offset, uint8_t* out, size_t n) = 0;
};

// A whole zlib stream in memory, for the benchmark and the tests; it must
// outlive the reader.
class AheadFromMemory : public AheadInput {
 public:
  explicit AheadFromMemory(const std::vector<uint8_t>& stream)
      : stream_(stream) {}
  size_t ReadAt(uint64_t offset, uint8_t* out, size_t n) override {
    if (offset >= stream_.size()) return 0;
    n = std::min<size_t>(n, stream_.size() - offset);
    std::memcpy(out, stream_.data() + offset, n);
    return n;
  }

 private:
  const std::vector<uint8_t>& stream_;
};

}  // namespace lumeconv
