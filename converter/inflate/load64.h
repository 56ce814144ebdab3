#pragma once

#include <cstdint>
#include <cstring>

namespace lumeconv {

// Eight input bytes at once, the first in the lowest bits (x86 order), from
// any address.
inline uint64_t Load64(const uint8_t* p) {
  uint64_t v;
  std::memcpy(&v, p, sizeof v);
  return v;
}

}  // namespace lumeconv
