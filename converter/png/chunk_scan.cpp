#include "chunk_scan.h"

#include <cstring>
#include <string>

#include "byte_source.h"
#include "conversion_error.h"

namespace lumeconv {

namespace {

constexpr uint8_t kSignature[8] = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1a, '\n'};

uint32_t BigEndian32(const uint8_t* p) {
  return (uint32_t{p[0]} << 24) | (uint32_t{p[1]} << 16) |
         (uint32_t{p[2]} << 8) | p[3];
}

bool IsLetter(uint8_t c) {
  return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z');
}

}  // namespace

void CheckChunkHeader(const uint8_t* header) {
  const uint32_t length = BigEndian32(header);
  if (length > 0x7fffffffu) {
    throw ConversionError(kExitDamaged,
                          "is damaged (chunk length out of range)");
  }
  for (int i = 4; i < 8; ++i) {
    if (!IsLetter(header[i])) {
      throw ConversionError(kExitDamaged, "is damaged (invalid chunk type)");
    }
  }
  const bool ancillary = (header[4] & 0x20) != 0;
  if (ancillary && length > kMaxAncillaryChunk) {
    throw ConversionError(
        kExitTooLarge,
        "has a " + std::string(reinterpret_cast<const char*>(header + 4), 4) +
            " chunk of " + std::to_string(length) +
            " bytes, more than the 16 MiB allowed");
  }
}

void ScanChunks(ByteSource& source) {
  source.Rewind();
  if (source.Size() == 0) throw ConversionError(kExitNotPng, "is empty");
  uint8_t signature[8];
  if (source.Read(signature, 8) != 8 ||
      std::memcmp(signature, kSignature, 8) != 0) {
    throw ConversionError(kExitNotPng, "is not a PNG file");
  }
  for (;;) {
    uint8_t header[8];
    if (source.Read(header, 8) != 8) {
      throw ConversionError(kExitDamaged, "is truncated (no IEND chunk)");
    }
    CheckChunkHeader(header);
    const uint32_t length = BigEndian32(header);
    const std::string type(reinterpret_cast<const char*>(header + 4), 4);
    if (!source.Skip(uint64_t{length} + 4)) {
      const bool vowel =
          std::string("AEIOUaeiou").find(type[0]) != std::string::npos;
      throw ConversionError(kExitDamaged,
                            "is truncated (inside " +
                                std::string(vowel ? "an " : "a ") + type +
                                " chunk)");
    }
    if (type == "IEND") break;
  }
  source.Rewind();
}

}  // namespace lumeconv
