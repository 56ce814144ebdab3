#include "checksums.h"

#include <zlib.h>

#include <climits>

#ifdef LUMECONV_HAVE_ISAL
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
// questions cost more than zlib takes for a small file's bytes.
constexpr uint64_t kIsalFrom = uint64_t{256} << 10;
std::atomic<uint64_t> g_summed{0};

bool Small(size_t size) {
  return g_summed.fetch_add(size, std::memory_order_relaxed) + size < kIsalFrom;
}

#endif

}  // namespace

#ifdef LUMECONV_HAVE_ISAL

uint32_t Adler32(uint32_t adler, const uint8_t* data, size_t size) {
  if (Small(size)) return InPieces(adler32, adler, data, size);
  return size == 0 ? adler : isal_adler32(adler, data, size);
}

uint32_t Crc32(uint32_t crc, const uint8_t* data, size_t size) {
  if (Small(size)) return InPieces(crc32, crc, data, size);
  while (size > 0) {
    const uint64_t piece = size > UINT32_MAX ? UINT32_MAX : size;
    crc = crc32_gzip_refl(crc, data, piece);
    data += piece;
    size -= piece;
  }
  return crc;
}

#else

uint32_t Adler32(uint32_t adler, const uint8_t* data, size_t size) {
  return InPieces(adler32, adler, data, size);
}

uint32_t Crc32(uint32_t crc, const uint8_t* data, size_t size) {
  return InPieces(crc32, crc, data, size);
}

#endif

}  // namespace lumeconv
