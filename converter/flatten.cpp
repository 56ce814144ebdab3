#include "flatten.h"

#include <cstring>

namespace lumeconv {

namespace {

inline uint8_t Over8(uint32_t c, uint32_t a) {
  return static_cast<uint8_t>((c * a + 255 * (255 - a) + 127) / 255);
}

inline uint8_t Scale16(uint32_t v) {
  return static_cast<uint8_t>((v * 255 + 32767) / 65535);
}

inline uint8_t Over16(uint64_t c, uint64_t a) {
  constexpr uint64_t kFull = 65535ull * 65535ull;
  const uint64_t mixed = c * a + 65535 * (65535 - a);
  return static_cast<uint8_t>((mixed * 255 + kFull / 2) / kFull);
}

void Flatten8(const uint8_t* in, uint8_t* out, size_t pixels, int channels) {
  switch (channels) {
    case 1:
    case 3:
      std::memcpy(out, in, pixels * channels);
      return;
    case 2:
      for (size_t i = 0; i < pixels; ++i, in += 2) *out++ = Over8(in[0], in[1]);
      return;
    case 4:
      for (size_t i = 0; i < pixels; ++i, in += 4) {
        *out++ = Over8(in[0], in[3]);
        *out++ = Over8(in[1], in[3]);
        *out++ = Over8(in[2], in[3]);
      }
      return;
  }
}

void Flatten16(const uint16_t* in, uint8_t* out, size_t pixels, int channels) {
  switch (channels) {
    case 1:
    case 3:
      for (size_t i = 0; i < pixels * channels; ++i) *out++ = Scale16(in[i]);
      return;
    case 2:
      for (size_t i = 0; i < pixels; ++i, in += 2)
        *out++ = Over16(in[0], in[1]);
      return;
    case 4:
      for (size_t i = 0; i < pixels; ++i, in += 4) {
        *out++ = Over16(in[0], in[3]);
        *out++ = Over16(in[1], in[3]);
        *out++ = Over16(in[2], in[3]);
      }
      return;
  }
}

}  // namespace

void FlattenRow(const uint8_t* in, uint8_t* out, size_t pixels, int channels,
                int bit_depth) {
  if (bit_depth == 16) {
    Flatten16(reinterpret_cast<const uint16_t*>(in), out, pixels, channels);
  } else {
    Flatten8(in, out, pixels, channels);
  }
}

}  // namespace lumeconv
