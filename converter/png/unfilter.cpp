#include "unfilter.h"

#include <cstdlib>
#include <type_traits>

#include "unfilter_kernels.h"

namespace lumeconv {

namespace {

void UpPortable(uint8_t* row, const uint8_t* prior, size_t size, int) {
  for (size_t i = 0; i < size; ++i) row[i] += prior[i];
}

// What each filter adds to a byte, from the result a pixel to its left (a),
// the byte above (b) and the one above a (c).
struct SubOf {
  int operator()(int a, int, int) const { return a; }
};
struct AverageOf {
  int operator()(int a, int b, int) const { return (a + b) >> 1; }
};
// Without branches: which predictor wins follows the picture's noise, and
// a mispredicted branch costs more than the whole choice.
struct PaethOf {
  int operator()(int a, int b, int c) const {
    const int pa = std::abs(b - c);
    const int pb = std::abs(a - c);
    const int pc = std::abs(a + b - 2 * c);
    const int b_or_c = pb <= pc ? b : c;
    return ((pa <= pb) & (pa <= pc)) ? a : b_or_c;
  }
};

// Each byte waits on the one a pixel to its left, so that byte is carried
// in a register rather than read back from the row just written, and the
// bytes of a pixel are separate chains the processor runs side by side.
template <int kBpp, typename Add>
void Walk(uint8_t* row, const uint8_t* prior, size_t size, Add add) {
  int a[kBpp] = {};
  int c[kBpp] = {};
  for (size_t i = 0; i < size; i += kBpp) {
    for (int k = 0; k < kBpp && i + k < size; ++k) {
      const int b = prior[i + k];
      a[k] = (row[i + k] + add(a[k], b, c[k])) & 0xff;
      row[i + k] = static_cast<uint8_t>(a[k]);
      c[k] = b;
    }
  }
}

// Two rows, `second` below `first`, in one pass: their chains run side by
// side too.
template <int kBpp, typename Add>
void WalkPair(uint8_t* first, uint8_t* second, const uint8_t* prior,
              size_t size, Add add) {
  int a1[kBpp] = {};
  int c1[kBpp] = {};
  int a2[kBpp] = {};
  int c2[kBpp] = {};
  for (size_t i = 0; i < size; i += kBpp) {
    for (int k = 0; k < kBpp && i + k < size; ++k) {
      const int b = prior[i + k];
      a1[k] = (first[i + k] + add(a1[k], b, c1[k])) & 0xff;
      first[i + k] = static_cast<uint8_t>(a1[k]);
      c1[k] = b;
      a2[k] = (second[i + k] + add(a2[k], a1[k], c2[k])) & 0xff;
      second[i + k] = static_cast<uint8_t>(a2[k]);
      c2[k] = a1[k];
    }
  }
}

// Every pixel size a PNG has: 1 to 4, 6 or 8 bytes, each its own code.
template <typename Body>
void ForPixelSize(int bpp, Body body) {
  switch (bpp) {
    case 1:
      return body(std::integral_constant<int, 1>());
    case 2:
      return body(std::integral_constant<int, 2>());
    case 3:
      return body(std::integral_constant<int, 3>());
    case 4:
      return body(std::integral_constant<int, 4>());
    case 6:
      return body(std::integral_constant<int, 6>());
    default:
      return body(std::integral_constant<int, 8>());
  }
}

template <typename Add>
void ByPixelSize(uint8_t* row, const uint8_t* prior, size_t size, int bpp) {
  ForPixelSize(bpp, [&](auto k) { Walk<k>(row, prior, size, Add()); });
}

template <typename Add>
void PairByPixelSize(uint8_t* first, uint8_t* second, const uint8_t* prior,
                     size_t size, int bpp) {
  ForPixelSize(bpp,
               [&](auto k) { WalkPair<k>(first, second, prior, size, Add()); });
}

bool Apply(const FilterKernels& kernels, uint8_t filter, uint8_t* row,
           const uint8_t* prior, size_t size, int bpp) {
  switch (filter) {
    case 0:
      return true;
    case 1:
      kernels.sub(row, prior, size, bpp);
      return true;
    case 2:
      kernels.up(row, prior, size, bpp);
      return true;
    case 3:
      kernels.average(row, prior, size, bpp);
      return true;
    case 4:
      kernels.paeth(row, prior, size, bpp);
      return true;
    default:
      return false;
  }
}

const FilterKernels& Chosen() {
  static const FilterKernels kernels = [] {
    if (const FilterKernels* ssse3 = Ssse3Kernels()) return *ssse3;
    if (const FilterKernels* sse2 = Sse2Kernels()) return *sse2;
    return PortableKernels();
  }();
  return kernels;
}

}  // namespace

FilterKernels PortableKernels() {
  return {"portable",
          ByPixelSize<SubOf>,
          UpPortable,
          ByPixelSize<AverageOf>,
          ByPixelSize<PaethOf>,
          PairByPixelSize<AverageOf>,
          PairByPixelSize<PaethOf>};
}

bool Unfilter(uint8_t filter, uint8_t* row, const uint8_t* prior, size_t size,
              int bpp) {
  return Apply(Chosen(), filter, row, prior, size, bpp);
}

bool UnfilterPair(uint8_t first_filter, uint8_t* first, uint8_t second_filter,
                  uint8_t* second, const uint8_t* prior, size_t size, int bpp) {
  const FilterKernels& kernels = Chosen();
  if (first_filter == second_filter &&
      (first_filter == 3 || first_filter == 4)) {
    (first_filter == 3 ? kernels.average_pair : kernels.paeth_pair)(
        first, second, prior, size, bpp);
    return true;
  }
  return Apply(kernels, first_filter, first, prior, size, bpp) &&
         Apply(kernels, second_filter, second, first, size, bpp);
}

const uint8_t* UnfilterRows(uint8_t* rows, size_t count, size_t stride,
                            size_t size, const uint8_t* prior, int bpp) {
  for (size_t i = 0; i < count; i += 2) {
    uint8_t* first = rows + i * stride;
    uint8_t* second = i + 1 < count ? first + stride : nullptr;
    const bool undone = second
                            ? UnfilterPair(first[0], first + 1, second[0],
                                           second + 1, prior, size, bpp)
                            : Unfilter(first[0], first + 1, prior, size, bpp);
    if (!undone) return nullptr;
    first[0] = 0;
    if (second) second[0] = 0;
    prior = (second ? second : first) + 1;
  }
  return prior;
}

const char* UnfilterEngine() { return Chosen().name; }

}  // namespace lumeconv
