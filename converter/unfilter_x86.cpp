// Vector kernels for undoing PNG filters on x86-64. Up works sixteen bytes
// at a time; Sub, Average and Paeth depend on the pixel to the left, so they
// work one whole pixel (3, 4, 6 or 8 bytes) per step, all its bytes at once.
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
void Sub(uint8_t* row, size_t size) {
  __m128i a = _mm_setzero_si128();
  for (size_t i = 0; i + kBpp <= size; i += kBpp) {
    a = _mm_add_epi8(LoadPixel<kBpp>(row + i), a);
    StorePixel<kBpp>(row + i, a);
  }
}

template <int kBpp>
void Average(uint8_t* row, const uint8_t* prior, size_t size) {
  const __m128i one = _mm_set1_epi8(1);
  __m128i a = _mm_setzero_si128();
  for (size_t i = 0; i + kBpp <= size; i += kBpp) {
    const __m128i b = LoadPixel<kBpp>(prior + i);
    // _mm_avg_epu8 rounds up; PNG's average rounds down.
    const __m128i mean = _mm_sub_epi8(_mm_avg_epu8(a, b),
                                      _mm_and_si128(_mm_xor_si128(a, b), one));
    a = _mm_add_epi8(LoadPixel<kBpp>(row + i), mean);
    StorePixel<kBpp>(row + i, a);
  }
}

inline __m128i AbsSse2(__m128i x) {
  return _mm_max_epi16(x, _mm_sub_epi16(_mm_setzero_si128(), x));
}

__attribute__((target("ssse3"))) inline __m128i AbsSsse3(__m128i x) {
  return _mm_abs_epi16(x);
}

inline __m128i Select(__m128i mask, __m128i yes, __m128i no) {
  return _mm_or_si128(_mm_and_si128(mask, yes), _mm_andnot_si128(mask, no));
}

// Paeth in 16-bit lanes: with p = a + b - c, |p - a| = |b - c|,
// |p - b| = |a - c| and |p - c| = |(b - c) + (a - c)|.
#define LUMECONV_PAETH_BODY(ABS)                                           \
  const __m128i zero = _mm_setzero_si128();                                \
  __m128i a = zero;                                                        \
  __m128i c = zero;                                                        \
  for (size_t i = 0; i + kBpp <= size; i += kBpp) {                        \
    const __m128i b = _mm_unpacklo_epi8(LoadPixel<kBpp>(prior + i), zero); \
    const __m128i from_b = _mm_sub_epi16(b, c);                            \
    const __m128i from_a = _mm_sub_epi16(a, c);                            \
    const __m128i pa = ABS(from_b);                                        \
    const __m128i pb = ABS(from_a);                                        \
    const __m128i pc = ABS(_mm_add_epi16(from_b, from_a));                 \
    const __m128i least = _mm_min_epi16(_mm_min_epi16(pa, pb), pc);        \
    __m128i guess = Select(_mm_cmpeq_epi16(pb, least), b, c);              \
    guess = Select(_mm_cmpeq_epi16(pa, least), a, guess);                  \
    const __m128i x = _mm_add_epi8(LoadPixel<kBpp>(row + i),               \
                                   _mm_packus_epi16(guess, guess));        \
    StorePixel<kBpp>(row + i, x);                                          \
    a = _mm_unpacklo_epi8(x, zero);                                        \
    c = b;                                                                 \
  }

template <int kBpp>
void PaethSse2(uint8_t* row, const uint8_t* prior, size_t size) {
  LUMECONV_PAETH_BODY(AbsSse2)
}

template <int kBpp>
__attribute__((target("ssse3"))) void PaethSsse3(uint8_t* row,
                                                 const uint8_t* prior,
                                                 size_t size) {
  LUMECONV_PAETH_BODY(AbsSsse3)
}

#undef LUMECONV_PAETH_BODY

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

void SubSse2(uint8_t* row, const uint8_t* prior, size_t size, int bpp) {
  switch (bpp) {
    case 3:
      return Sub<3>(row, size);
    case 4:
      return Sub<4>(row, size);
    case 6:
      return Sub<6>(row, size);
    case 8:
      return Sub<8>(row, size);
    default:
      return PortableKernels().sub(row, prior, size, bpp);
  }
}

void AverageSse2(uint8_t* row, const uint8_t* prior, size_t size, int bpp) {
  switch (bpp) {
    case 3:
      return Average<3>(row, prior, size);
    case 4:
      return Average<4>(row, prior, size);
    case 6:
      return Average<6>(row, prior, size);
    case 8:
      return Average<8>(row, prior, size);
    default:
      return PortableKernels().average(row, prior, size, bpp);
  }
}

void PaethSse2Any(uint8_t* row, const uint8_t* prior, size_t size, int bpp) {
  switch (bpp) {
    case 3:
      return PaethSse2<3>(row, prior, size);
    case 4:
      return PaethSse2<4>(row, prior, size);
    case 6:
      return PaethSse2<6>(row, prior, size);
    case 8:
      return PaethSse2<8>(row, prior, size);
    default:
      return PortableKernels().paeth(row, prior, size, bpp);
  }
}

void PaethSsse3Any(uint8_t* row, const uint8_t* prior, size_t size, int bpp) {
  switch (bpp) {
    case 3:
      return PaethSsse3<3>(row, prior, size);
    case 4:
      return PaethSsse3<4>(row, prior, size);
    case 6:
      return PaethSsse3<6>(row, prior, size);
    case 8:
      return PaethSsse3<8>(row, prior, size);
    default:
      return PortableKernels().paeth(row, prior, size, bpp);
  }
}

}  // namespace

const FilterKernels* Sse2Kernels() {
  static const FilterKernels kernels{"sse2", SubSse2, UpSse2, AverageSse2,
                                     PaethSse2Any};
  return &kernels;
}

const FilterKernels* Ssse3Kernels() {
  if (!__builtin_cpu_supports("ssse3")) return nullptr;
  static const FilterKernels kernels{"ssse3", SubSse2, UpSse2, AverageSse2,
                                     PaethSsse3Any};
  return &kernels;
}

}  // namespace lumeconv

#else

namespace lumeconv {

const FilterKernels* Sse2Kernels() { return nullptr; }
const FilterKernels* Ssse3Kernels() { return nullptr; }

}  // namespace lumeconv

#endif
