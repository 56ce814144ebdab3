#include "image_reader.h"

#include <cstring>

#include "conversion_error.h"

namespace lumeconv {

void ImageReader::CheckDimensions() const {
  if (width_ > kMaxJpegDimension || height_ > kMaxJpegDimension) {
    throw ConversionError(kExitTooLarge,
                          "is " + std::to_string(width_) + " x " +
                              std::to_string(height_) +
                              " pixels; JPEG allows at most 65500 in each "
                              "direction");
  }
}

void ImageReader::CheckInterlacedSize(uint64_t row_bytes) const {
  const uint64_t whole = row_bytes * height_;
  if (whole > kMaxInterlacedBuffer) {
    throw ConversionError(kExitTooLarge,
                          "is interlaced and would need " +
                              std::to_string(whole >> 20) +
                              " MiB to decode; at most 1024 MiB is allowed");
  }
}

void ImageReader::ReadRawRows(uint8_t* out, size_t count) {
  const size_t row_bytes = RawRowBytes();
  for (size_t i = 0; i < count; ++i) {
    std::memcpy(out + i * row_bytes, NextRawRow(), row_bytes);
  }
}

std::vector<uint8_t> ExifWithoutPrefix(const uint8_t* data, size_t size) {
  static constexpr uint8_t kPrefix[6] = {'E', 'x', 'i', 'f', 0, 0};
  if (size > 6 && std::memcmp(data, kPrefix, 6) == 0) {
    return std::vector<uint8_t>(data + 6, data + size);
  }
  return std::vector<uint8_t>(data, data + size);
}

void ThrowDamaged(const std::string& why) {
  throw ConversionError(kExitDamaged, "is damaged (" + why + ")");
}

}  // namespace lumeconv
