#pragma once

#include <cstdint>

namespace lumeconv {

class ByteSource;

// Larger ancillary chunks are refused: no real image needs one, and a reader
// should not be made to hold or walk gigabytes of side data.
inline constexpr uint32_t kMaxAncillaryChunk = 16u << 20;

// Refuses a chunk header (length, then type) whose length is out of range,
// whose type is not four letters, or whose ancillary data is too large.
// Throws ConversionError.
void CheckChunkHeader(const uint8_t* header);

// Walks the chunk layout from the signature to IEND without decoding
// anything, so that an empty, foreign, truncated or oversized file is named
// for what it is before decoding starts. Throws ConversionError; leaves the
// source rewound.
void ScanChunks(ByteSource& source);

}  // namespace lumeconv
