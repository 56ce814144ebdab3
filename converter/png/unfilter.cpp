#include "unfilter.h"

#include <cstdlib>

#include "unfilter_kernels.h"

namespace lumeconv {

namespace {

void SubPortable(uint8_t* row, const uint8_t*, size_t size, int bpp) {
  for (size_t i = bpp; i < size; ++i) row[i] += row[i - bpp];
}

void UpPortable(uint8_t* row, const uint8_t* prior, size_t size, int) {
  for (size_t i = 0; i < size; ++i) row[i] += prior[i];
}

void AveragePortable(uint8_t* row, const uint8_t* prior, size_t size, int bpp) {
  const size_t lead = static_cast<size_t>(bpp) < size ? bpp : size;
  for (size_t i = 0; i < lead; ++i) row[i] += prior[i] >> 1;
  for (size_t i = lead; i < size; ++i) {
    row[i] += (row[i - bpp] + prior[i]) >> 1;
  }
}

inline uint8_t Predict(int a, int b, int c) {
  const int pa = std::abs(b - c);
  const int pb = std::abs(a - c);
  const int pc = std::abs(a + b - 2 * c);
  if (pa <= pb && pa <= pc) return static_cast<uint8_t>(a);
  return static_cast<uint8_t>(pb <= pc ? b : c);
}

void PaethPortable(uint8_t* row, const uint8_t* prior, size_t size, int bpp) {
  const size_t lead = static_cast<size_t>(bpp) < size ? bpp : size;
  for (size_t i = 0; i < lead; ++i) row[i] += prior[i];
  for (size_t i = lead; i < size; ++i) {
    row[i] += Predict(row[i - bpp], prior[i], prior[i - bpp]);
  }
}

// Without vectors, two rows are simply one after the other.
template <FilterKernel kOne>
void OneThenTheOther(uint8_t* first, uint8_t* second, const uint8_t* prior,
                     size_t size, int bpp) {
  kOne(first, prior, size, bpp);
  kOne(second, first, size, bpp);
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
          SubPortable,
          UpPortable,
          AveragePortable,
          PaethPortable,
          OneThenTheOther<AveragePortable>,
          OneThenTheOther<PaethPortable>};
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

const char* UnfilterEngine() { return Chosen().name; }

}  // namespace lumeconv
