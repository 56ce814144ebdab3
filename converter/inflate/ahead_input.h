#pragma once

#include <cstddef>
#include <cstdint>

namespace lumeconv {

// The bytes of a zlib stream from any offset on, for the thread that
// decodes ahead of the reading. It must not throw: where the bytes end or
// cannot be read, it gives fewer, and that part is left to the reading.
class AheadInput {
 public:
  virtual ~AheadInput() = default;
  virtual size_t ReadAt(uint64_t offset, uint8_t* out, size_t n) = 0;
};

}  // namespace lumeconv
