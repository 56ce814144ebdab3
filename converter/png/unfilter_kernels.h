#pragma once

#include <cstddef>
#include <cstdint>

namespace lumeconv {

// One filter's undoing over a row: row, prior, size, bpp.
using FilterKernel = void (*)(uint8_t*, const uint8_t*, size_t, int);
// The same filter over two rows, the second below the first: first,
// second, prior (above the first), size, bpp.
using PairKernel = void (*)(uint8_t*, uint8_t*, const uint8_t*, size_t, int);

struct FilterKernels {
  const char* name;
  FilterKernel sub;
  FilterKernel up;
  FilterKernel average;
  FilterKernel paeth;
  PairKernel average_pair;
  PairKernel paeth_pair;
};

FilterKernels PortableKernels();
// The x86-64 vector kernels; they fall back to the portable ones for pixel
// sizes without a vector path. Null elsewhere.
const FilterKernels* Sse2Kernels();
const FilterKernels* Ssse3Kernels();

}  // namespace lumeconv
