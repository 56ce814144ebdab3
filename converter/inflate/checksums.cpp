#include "checksums.h"

#include <zlib.h>

#include <climits>

#ifdef LUMECONV_HAVE_ISAL
#include <dlfcn.h>
#include <isa-l/crc.h>
#include <isa-l/igzip_lib.h>

#include <atomic>
#endif

namespace lumeconv {

namespace {

// zlib's sums count in unsigned int: longer data goes in pieces.
template <typename Sum>
uint32_t InPieces(Sum sum, uint32_t value, const uint8_t* data, size_t size) {
  while (size > 0) {
    const uInt piece = size > UINT_MAX ? UINT_MAX : static_cast<uInt>(size);
    value = static_cast<uint32_t>(sum(value, data, piece));
    data += piece;
    size -= piece;
  }
  return value;
}

#ifdef LUMECONV_HAVE_ISAL

// ISA-L's sums are several times faster, but the first call of each asks
// the processor which version to run, and in a virtual machine those
// questions cost more than zlib takes for a small file's bytes. The library
// is opened at start for a large file (LoadFastChecksums); otherwise only
// once a process has summed enough for the opening to pay.
constexpr uint64_t kIsalFrom = uint64_t{256} << 10;
constexpr uint64_t kOpenIsalFrom = uint64_t{1} << 20;
std::atomic<uint64_t> g_summed{0};
std::atomic<bool> g_opened{false};

// Opened, not linked: loading it cost a 64x64 conversion 7 % of its time,
// for sums zlib made. Without it, zlib sums on.
struct IsalSums {
  decltype(&isal_adler32) adler32 = nullptr;
  decltype(&crc32_gzip_refl) crc32 = nullptr;
};

const IsalSums& Isal() {
  static const IsalSums sums = [] {
    IsalSums found;
    void* library = ::dlopen("libisal.so.2", RTLD_NOW | RTLD_LOCAL);
    if (!library) return found;
    found.adler32 = reinterpret_cast<decltype(&isal_adler32)>(
        ::dlsym(library, "isal_adler32"));
    found.crc32 = reinterpret_cast<decltype(&crc32_gzip_refl)>(
        ::dlsym(library, "crc32_gzip_refl"));
    if (!found.adler32 || !found.crc32) found = {};
    g_opened.store(true, std::memory_order_relaxed);
    return found;
  }();
  return sums;
}

// ISA-L's sums for these bytes, or nothing where zlib's are to be used.
const IsalSums* FastSums(size_t size) {
  const uint64_t summed =
      g_summed.fetch_add(size, std::memory_order_relaxed) + size;
  if (summed < kIsalFrom) return nullptr;
  if (summed < kOpenIsalFrom && !g_opened.load(std::memory_order_relaxed)) {
    return nullptr;
  }
  const IsalSums& sums = Isal();
  return sums.adler32 ? &sums : nullptr;
}

#endif

}  // namespace

#ifdef LUMECONV_HAVE_ISAL

uint32_t Adler32(uint32_t adler, const uint8_t* data, size_t size) {
  const IsalSums* fast = FastSums(size);
  if (!fast) return InPieces(adler32, adler, data, size);
  return size == 0 ? adler : fast->adler32(adler, data, size);
}

uint32_t Crc32(uint32_t crc, const uint8_t* data, size_t size) {
  const IsalSums* fast = FastSums(size);
  if (!fast) return InPieces(crc32, crc, data, size);
  while (size > 0) {
    const uint64_t piece = size > UINT32_MAX ? UINT32_MAX : size;
    crc = fast->crc32(crc, data, piece);
    data += piece;
    size -= piece;
  }
  return crc;
}

void LoadFastChecksums() { Isal(); }

#else

uint32_t Adler32(uint32_t adler, const uint8_t* data, size_t size) {
  return InPieces(adler32, adler, data, size);
}

uint32_t Crc32(uint32_t crc, const uint8_t* data, size_t size) {
  return InPieces(crc32, crc, data, size);
}

void LoadFastChecksums() {}

#endif

}  // namespace lumeconv
