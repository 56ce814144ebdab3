#pragma once

#include <cstdint>

namespace lumeconv {

class ByteSource;

// Larger ancillary chunks are refused: no real image needs one, and a reader
// should not be made to hold or walk gigabytes of side data.
inline constexpr uint32_t kMaxAncillaryChunk = 16u << 20;

// Walks the chunk layout from the signature to IEND without decoding
// anything, so that an empty, foreign, truncated or oversized file is named
// for what it is before decoding starts. Throws ConversionError; leaves the
// source rewound.
void ScanChunks(ByteSource& source);

}  // namespace lumeconv
