#pragma once

#include <cstdint>
#include <memory>
#include <vector>

namespace lumeconv {

class ByteSource;

// Side data carried over into the JPEG.
struct PngMetadata {
  std::vector<uint8_t> icc_profile;
  std::vector<uint8_t> exif;  // TIFF data, without the "Exif\0\0" prefix
  bool has_density = false;
  bool density_per_metre = false;  // else only the aspect ratio is known
  uint32_t x_density = 0;
  uint32_t y_density = 0;
};

// Limits on what one image may need.
inline constexpr uint32_t kMaxJpegDimension = 65500;
inline constexpr uint64_t kMaxInterlacedBuffer = uint64_t{1} << 30;

// Decodes a PNG row by row into 8-bit grey or RGB flattened onto white. Only
// an interlaced image is held whole. Throws ConversionError.
class PngReader {
 public:
  struct Png;  // the library's state, opaque here

  explicit PngReader(ByteSource& source);
  ~PngReader();
  PngReader(const PngReader&) = delete;
  PngReader& operator=(const PngReader&) = delete;

  uint32_t Width() const { return width_; }
  uint32_t Height() const { return height_; }
  int Components() const { return components_; }  // 1 or 3
  const PngMetadata& Metadata() const { return metadata_; }

  // The next row, Width() * Components() bytes, valid until the next call.
  const uint8_t* NextRow();
  // Reads the rest of the file so that damage after the pixels is noticed.
  void Finish();

 private:
  void ReadInterlaced(int passes);

  std::unique_ptr<Png> png_;
  uint32_t width_ = 0;
  uint32_t height_ = 0;
  int components_ = 0;
  int channels_ = 0;
  int bit_depth_ = 0;
  bool interlaced_ = false;
  PngMetadata metadata_;
  std::vector<uint8_t> decoded_;            // one row of a plain image
  std::vector<std::vector<uint8_t>> rows_;  // an interlaced image, whole
  std::vector<uint8_t> flattened_;          // one output row
  uint32_t next_row_ = 0;
  size_t row_bytes_ = 0;
};

}  // namespace lumeconv
