#include "flatten.h"

#include <cstring>

#include "cpu_features.h"

#if defined(__x86_64__)
#include <immintrin.h>
#endif

namespace lumeconv {

namespace {

inline uint8_t Over8(uint32_t c, uint32_t a) {
  return static_cast<uint8_t>((c * a + 255 * (255 - a) + 127) / 255);
}

#if defined(__x86_64__)
// Over8 on 16-bit lanes: c * a + 255 * (255 - a) + 127 is at most 65152, and
// the high half of a product with 0x8081, shifted by 7, is any 16-bit value
// divided by 255 exactly.
inline __m128i OverLanes(__m128i c, __m128i a) {
  const __m128i full = _mm_set1_epi16(255);
  const __m128i mixed = _mm_add_epi16(
      _mm_add_epi16(_mm_mullo_epi16(c, a),
                    _mm_mullo_epi16(_mm_sub_epi16(full, a), full)),
      _mm_set1_epi16(127));
  return _mm_srli_epi16(
      _mm_mulhi_epu16(mixed, _mm_set1_epi16(static_cast<int16_t>(0x8081))), 7);
}

// Two RGBA pixels in 16-bit lanes; their alphas stand in every lane.
inline __m128i OverRgbaLanes(__m128i pixels) {
  const __m128i alpha =
      _mm_shufflehi_epi16(_mm_shufflelo_epi16(pixels, 0xff), 0xff);
  return OverLanes(pixels, alpha);
}

// Eight pixels a step; returns how many were done.
[[gnu::target("ssse3")]] size_t FlattenRgba8Ssse3(const uint8_t* in,
                                                  uint8_t* out, size_t pixels) {
  const __m128i zero = _mm_setzero_si128();
  // Keeps the colour bytes of four pixels, alpha dropped, zeros above.
  const __m128i pack =
      _mm_setr_epi8(0, 1, 2, 4, 5, 6, 8, 9, 10, 12, 13, 14, -1, -1, -1, -1);
  size_t i = 0;
  for (; i + 8 <= pixels; i += 8, in += 32, out += 24) {
    __m128i rgb[2];
    for (int half = 0; half < 2; ++half) {
      const __m128i v =
          _mm_loadu_si128(reinterpret_cast<const __m128i*>(in + 16 * half));
      const __m128i low = OverRgbaLanes(_mm_unpacklo_epi8(v, zero));
      const __m128i high = OverRgbaLanes(_mm_unpackhi_epi8(v, zero));
      rgb[half] = _mm_shuffle_epi8(_mm_packus_epi16(low, high), pack);
    }
    _mm_storeu_si128(reinterpret_cast<__m128i*>(out),
                     _mm_or_si128(rgb[0], _mm_slli_si128(rgb[1], 12)));
    _mm_storel_epi64(reinterpret_cast<__m128i*>(out + 16),
                     _mm_srli_si128(rgb[1], 4));
  }
  return i;
}

// Sixteen grey+alpha pixels a step; returns how many were done.
size_t FlattenGreyAlpha8Sse2(const uint8_t* in, uint8_t* out, size_t pixels) {
  const __m128i zero = _mm_setzero_si128();
  const __m128i grey_lanes = _mm_set1_epi32(0xffff);
  size_t i = 0;
  for (; i + 16 <= pixels; i += 16, in += 32, out += 16) {
    __m128i grey[2];
    for (int half = 0; half < 2; ++half) {
      const __m128i v =
          _mm_loadu_si128(reinterpret_cast<const __m128i*>(in + 16 * half));
      __m128i lanes[2] = {_mm_unpacklo_epi8(v, zero),
                          _mm_unpackhi_epi8(v, zero)};
      for (__m128i& pair : lanes) {
        const __m128i alpha =
            _mm_shufflehi_epi16(_mm_shufflelo_epi16(pair, 0xf5), 0xf5);
        pair = _mm_and_si128(OverLanes(pair, alpha), grey_lanes);
      }
      grey[half] = _mm_packs_epi32(lanes[0], lanes[1]);
    }
    _mm_storeu_si128(reinterpret_cast<__m128i*>(out),
                     _mm_packus_epi16(grey[0], grey[1]));
  }
  return i;
}
#endif

inline uint8_t Scale16(uint32_t v) {
  return static_cast<uint8_t>((v * 255 + 32767) / 65535);
}

#if defined(__x86_64__)
// Scale16 on 16-bit lanes: (v * 255 + 32767) / 65535 is (v + 128) / 257,
// and the high half of v * 0xFF01, plus 128, shifted by 8, is that exactly
// for every 16-bit v (checked for all of them). Sixteen samples a step;
// returns how many were done.
size_t Scale16Sse2(const uint16_t* in, uint8_t* out, size_t samples) {
  const __m128i magic = _mm_set1_epi16(static_cast<int16_t>(0xff01));
  const __m128i half = _mm_set1_epi16(128);
  const auto scaled = [&](const uint16_t* at) {
    const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(at));
    return _mm_srli_epi16(_mm_add_epi16(_mm_mulhi_epu16(v, magic), half), 8);
  };
  size_t i = 0;
  for (; i + 16 <= samples; i += 16) {
    _mm_storeu_si128(reinterpret_cast<__m128i*>(out + i),
                     _mm_packus_epi16(scaled(in + i), scaled(in + i + 8)));
  }
  return i;
}
#endif

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
    case 2: {
      size_t i = 0;
#if defined(__x86_64__)
      i = FlattenGreyAlpha8Sse2(in, out, pixels);
      in += 2 * i;
      out += i;
#endif
      for (; i < pixels; ++i, in += 2) *out++ = Over8(in[0], in[1]);
      return;
    }
    case 4: {
      size_t i = 0;
#if defined(__x86_64__)
      if (HasSsse3()) {
        i = FlattenRgba8Ssse3(in, out, pixels);
        in += 4 * i;
        out += 3 * i;
      }
#endif
      for (; i < pixels; ++i, in += 4) {
        *out++ = Over8(in[0], in[3]);
        *out++ = Over8(in[1], in[3]);
        *out++ = Over8(in[2], in[3]);
      }
      return;
    }
  }
}

void Flatten16(const uint16_t* in, uint8_t* out, size_t pixels, int channels) {
  switch (channels) {
    case 1:
    case 3: {
      const size_t samples = pixels * channels;
      size_t i = 0;
#if defined(__x86_64__)
      i = Scale16Sse2(in, out, samples);
#endif
      for (; i < samples; ++i) out[i] = Scale16(in[i]);
      return;
    }
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
