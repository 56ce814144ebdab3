#include "png_rows.h"

#include <cstring>

#if defined(__x86_64__)
#include <immintrin.h>
#endif

namespace lumeconv {

namespace {

constexpr int kGrey = 0;
constexpr int kRgb = 2;
constexpr int kPalette = 3;

// Sample i of a row packed at 1, 2 or 4 bits, most significant bits first.
inline unsigned Packed(const uint8_t* row, uint32_t i, int depth) {
  const uint32_t bit = i * depth;
  const int shift = 8 - depth - static_cast<int>(bit & 7);
  return (row[bit >> 3] >> shift) & ((1u << depth) - 1);
}

inline void PutNative16(uint8_t* out, uint16_t value) {
  std::memcpy(out, &value, 2);
}

void ExpandPalette(const PngInfo& info, const uint8_t* in, uint32_t pixels,
                   uint8_t* out) {
  const bool alpha = info.alpha_count > 0;
  for (uint32_t i = 0; i < pixels; ++i) {
    const unsigned index =
        info.bit_depth == 8 ? in[i] : Packed(in, i, info.bit_depth);
    std::memcpy(out, &info.palette[index * 3], 3);
    out += 3;
    if (alpha) {
      *out++ = static_cast<int>(index) < info.alpha_count
                   ? info.palette_alpha[index]
                   : 255;
    }
  }
}

void ExpandGrey(const PngInfo& info, const uint8_t* in, uint32_t pixels,
                uint8_t* out) {
  const int depth = info.bit_depth;
  if (depth == 16) {
    for (uint32_t i = 0; i < pixels; ++i, in += 2) {
      const uint16_t value = static_cast<uint16_t>((in[0] << 8) | in[1]);
      PutNative16(out, value);
      out += 2;
      if (info.has_key) {
        PutNative16(out, value == info.key[0] ? 0 : 0xffff);
        out += 2;
      }
    }
    return;
  }
  // Low depths are scaled up to 8 bits; the key is compared as stored.
  const unsigned mask = (1u << depth) - 1;
  const unsigned scale = 255 / mask;
  const unsigned key = info.key[0] & mask;
  for (uint32_t i = 0; i < pixels; ++i) {
    const unsigned value = depth == 8 ? in[i] : Packed(in, i, depth);
    *out++ = static_cast<uint8_t>(value * scale);
    if (info.has_key) *out++ = value == key ? 0 : 255;
  }
}

void ExpandColour(const PngInfo& info, const uint8_t* in, uint32_t pixels,
                  uint8_t* out) {
  if (info.bit_depth == 8) {
    const uint8_t key[3] = {static_cast<uint8_t>(info.key[0] & 0xff),
                            static_cast<uint8_t>(info.key[1] & 0xff),
                            static_cast<uint8_t>(info.key[2] & 0xff)};
    for (uint32_t i = 0; i < pixels; ++i, in += 3, out += 4) {
      std::memcpy(out, in, 3);
      out[3] = std::memcmp(in, key, 3) == 0 ? 0 : 255;
    }
    return;
  }
  for (uint32_t i = 0; i < pixels; ++i, in += 6) {
    bool transparent = info.has_key;
    for (int c = 0; c < 3; ++c) {
      const uint16_t value =
          static_cast<uint16_t>((in[2 * c] << 8) | in[2 * c + 1]);
      transparent = transparent && value == info.key[c];
      PutNative16(out, value);
      out += 2;
    }
    if (info.has_key) {
      PutNative16(out, transparent ? 0 : 0xffff);
      out += 2;
    }
  }
}

// PNG's 16-bit samples are big-endian.
void Swap16(const uint8_t* in, size_t samples, uint8_t* out) {
  size_t i = 0;
#if defined(__x86_64__)
  for (; i + 8 <= samples; i += 8, in += 16, out += 16) {
    const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(in));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(out),
                     _mm_or_si128(_mm_slli_epi16(v, 8), _mm_srli_epi16(v, 8)));
  }
#endif
  for (; i < samples; ++i, in += 2, out += 2) {
    out[0] = in[1];
    out[1] = in[0];
  }
}

}  // namespace

RowExpander::RowExpander(const PngInfo& info) : info_(&info) {
  switch (info.colour_type) {
    case kPalette:
      channels_ = info.alpha_count > 0 ? 4 : 3;
      break;
    case kGrey:
    case kRgb:
      channels_ = info.channels + (info.has_key ? 1 : 0);
      break;
    default:
      channels_ = info.channels;
  }
  bit_depth_ = info.bit_depth == 16 ? 16 : 8;
  identity_ =
      info.bit_depth == 8 && info.colour_type != kPalette && !info.has_key;
}

void RowExpander::Expand(const uint8_t* in, uint32_t pixels,
                         uint8_t* out) const {
  if (identity_) {
    std::memcpy(out, in, size_t{pixels} * channels_);
  } else if (info_->colour_type == kPalette) {
    ExpandPalette(*info_, in, pixels, out);
  } else if (info_->colour_type == kGrey) {
    ExpandGrey(*info_, in, pixels, out);
  } else if (info_->colour_type == kRgb && info_->has_key) {
    ExpandColour(*info_, in, pixels, out);
  } else {
    Swap16(in, size_t{pixels} * channels_, out);
  }
}

}  // namespace lumeconv
