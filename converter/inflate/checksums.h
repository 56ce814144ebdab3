#pragma once

#include <cstddef>
#include <cstdint>

namespace lumeconv {

// The CRC-32 of PNG chunks (the same polynomial as zlib and gzip).
uint32_t Crc32(uint32_t crc, const uint8_t* data, size_t size);
// The Adler-32 of zlib streams; start with 1.
uint32_t Adler32(uint32_t adler, const uint8_t* data, size_t size);
// Opens the faster sums now, for a file whose sums will pay for it; they
// are otherwise opened only once a process has summed 1 MiB.
void LoadFastChecksums();

}  // namespace lumeconv
