// Vector kernels for undoing PNG filters on x86-64. Up works sixteen bytes
// at a time; Sub, Average and Paeth depend on the pixel to the left, so they
// work one whole pixel (3, 4, 6 or 8 bytes) per step, all its bytes at once.
#include "cpu_features.h"
#include "unfilter_kernels.h"

#if defined(__x86_64__)

#include <immintrin.h>

#include <cstring>

namespace lumeconv {

namespace {

// Whole-size loads and stores only: a three- or six-byte memcpy into a
// wider variable goes through the stack and stalls on store forwarding.
template <typename T>
inline T Get(const uint8_t* p) {
  T v;
  std::memcpy(&v, p, sizeof v);
  return v;
}

template <typename T>
inline void Put(uint8_t* p, T v) {
  std::memcpy(p, &v, sizeof v);
}

template <int kBpp>
inline __m128i LoadPixel(const uint8_t* p) {
  if constexpr (kBpp == 3) {
    return _mm_cvtsi32_si128(Get<uint16_t>(p) | (p[2] << 16));
  } else if constexpr (kBpp == 4) {
    return _mm_cvtsi32_si128(Get<int32_t>(p));
  } else if constexpr (kBpp == 6) {
    return _mm_cvtsi64_si128(static_cast<int64_t>(
        Get<uint32_t>(p) | (uint64_t{Get<uint16_t>(p + 4)} << 32)));
  } else {
    return _mm_loadl_epi64(reinterpret_cast<const __m128i*>(p));
  }
}

template <int kBpp>
inline void StorePixel(uint8_t* p, __m128i v) {
  if constexpr (kBpp == 3) {
    const uint32_t x = static_cast<uint32_t>(_mm_cvtsi128_si32(v));
    Put(p, static_cast<uint16_t>(x));
    p[2] = static_cast<uint8_t>(x >> 16);
  } else if constexpr (kBpp == 4) {
    Put(p, _mm_cvtsi128_si32(v));
  } else if constexpr (kBpp == 6) {
    const uint64_t x = static_cast<uint64_t>(_mm_cvtsi128_si64(v));
    Put(p, static_cast<uint32_t>(x));
    Put(p + 4, static_cast<uint16_t>(x >> 32));
  } else {
    _mm_storel_epi64(reinterpret_cast<__m128i*>(p), v);
  }
}

template <int kBpp>
inline __m128i PixelMask() {
  alignas(16) static constexpr uint8_t kMask[16] = {0xff, 0xff, 0xff, 0xff,
                                                    0xff, 0xff, 0xff, 0xff};
  static_assert(kBpp <= 8);
  return _mm_srli_si128(_mm_load_si128(reinterpret_cast<const __m128i*>(kMask)),
                        8 - kBpp);
}

// The bytes of a block past its whole pixels, kept as they were.
template <size_t kBlock>
inline __m128i TailMask() {
  return _mm_slli_si128(_mm_set1_epi8(-1), kBlock);
}

inline __m128i Select(__m128i mask, __m128i yes, __m128i no) {
  return _mm_or_si128(_mm_and_si128(mask, yes), _mm_andnot_si128(mask, no));
}

void UpSse2(uint8_t* row, const uint8_t* prior, size_t size, int) {
  size_t i = 0;
  for (; i + 16 <= size; i += 16) {
    const __m128i x =
        _mm_loadu_si128(reinterpret_cast<const __m128i*>(row + i));
    const __m128i b =
        _mm_loadu_si128(reinterpret_cast<const __m128i*>(prior + i));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(row + i), _mm_add_epi8(x, b));
  }
  for (; i < size; ++i) row[i] += prior[i];
}

namespace sse2 {
#define LUMECONV_ABS16(v) \
  _mm_max_epi16(v, _mm_sub_epi16(_mm_setzero_si128(), v))
#include "unfilter_scan.inc"
#undef LUMECONV_ABS16
}  // namespace sse2

#if defined(__clang__)
#pragma clang attribute push(__attribute__((target("ssse3"))), \
                             apply_to = function)
#else
#pragma GCC push_options
#pragma GCC target("ssse3")
#endif
namespace ssse3 {
#define LUMECONV_ABS16(v) _mm_abs_epi16(v)
#include "unfilter_scan.inc"
#undef LUMECONV_ABS16
}  // namespace ssse3
#if defined(__clang__)
#pragma clang attribute pop
#else
#pragma GCC pop_options
#endif

}  // namespace

const FilterKernels* Sse2Kernels() {
  static const FilterKernels kernels{
      "sse2",      sse2::Sub,        UpSse2,        sse2::Average,
      sse2::Paeth, sse2::AverageTwo, sse2::PaethTwo};
  return &kernels;
}

const FilterKernels* Ssse3Kernels() {
  if (!HasSsse3()) return nullptr;
  static const FilterKernels kernels{
      "ssse3",      ssse3::Sub,        UpSse2,         ssse3::Average,
      ssse3::Paeth, ssse3::AverageTwo, ssse3::PaethTwo};
  return &kernels;
}

}  // namespace lumeconv

#else

namespace lumeconv {

const FilterKernels* Sse2Kernels() { return nullptr; }
const FilterKernels* Ssse3Kernels() { return nullptr; }

}  // namespace lumeconv

#endif
