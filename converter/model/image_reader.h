#pragma once

#include <cstdint>
#include <memory>
#include <string>
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

// A PNG decoded row by row into 8-bit grey or RGB flattened onto white.
// Only an interlaced image is held, all or half of it. Throws ConversionError.
class ImageReader {
 public:
  virtual ~ImageReader() = default;

  uint32_t Width() const { return width_; }
  uint32_t Height() const { return height_; }
  int Components() const { return components_; }  // 1 or 3
  const PngMetadata& Metadata() const { return metadata_; }

  // The next row, Width() * Components() bytes, valid until the next call.
  const uint8_t* NextRow() { return FinishRow(NextRawRow(), finished_); }

  // A row comes in two steps, so that the second can run on another thread
  // while the first goes on with the next rows: NextRawRow() gives
  // RawRowBytes() bytes valid until the next call; FinishRow(), called for
  // the rows in order, turns them into the row NextRow() gives, kept in
  // `scratch` or in the reader until the next call.
  virtual const uint8_t* NextRawRow() = 0;
  virtual size_t RawRowBytes() const { return size_t{width_} * components_; }
  // The next `count` raw rows, one after another into `out`.
  virtual void ReadRawRows(uint8_t* out, size_t count);
  virtual const uint8_t* FinishRow(const uint8_t* raw,
                                   std::vector<uint8_t>& scratch) {
    static_cast<void>(scratch);
    return raw;
  }
  // May do, in place, part of what FinishRow does for `count` raw rows at
  // once, before FinishRow is called for each: rows taken together go
  // faster. Called in the order of the rows, all on one thread: the one
  // that reads when PrepareWhileReading(), else the one that finishes.
  virtual void PrepareRows(uint8_t* raw, size_t count) {
    static_cast<void>(raw);
    static_cast<void>(count);
  }
  // Whether PrepareRows costs more than reading the rows does, so that it
  // belongs with the reading rather than with the encoding.
  virtual bool PrepareWhileReading() const { return false; }
  // Reads the rest of the file so that damage after the pixels is noticed.
  virtual void Finish() = 0;

 protected:
  // Both refuse with the same words, whichever reader found it.
  void CheckDimensions() const;
  // `row_bytes` is one decoded row before flattening.
  void CheckInterlacedSize(uint64_t row_bytes) const;

  uint32_t width_ = 0;
  uint32_t height_ = 0;
  int components_ = 0;
  PngMetadata metadata_;

 private:
  std::vector<uint8_t> finished_;
};

// Opens a PNG with one decoder: the converter's own (OpenPng), or libpng,
// kept as the reference the own one is tested against.
using ImageOpener = std::unique_ptr<ImageReader> (*)(ByteSource& source);

// eXIf data as libpng hands it over, with a leading "Exif\0\0" removed.
std::vector<uint8_t> ExifWithoutPrefix(const uint8_t* data, size_t size);

[[noreturn]] void ThrowDamaged(const std::string& why);

}  // namespace lumeconv
