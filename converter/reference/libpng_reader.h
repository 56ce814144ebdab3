#pragma once

#include <cstdint>
#include <memory>
#include <vector>

#include "image_reader.h"

namespace lumeconv {

// The reference decoder, through libpng: the converter's own reader must
// give exactly its pixels.
class LibpngReader : public ImageReader {
 public:
  struct Png;  // the library's state, opaque here

  explicit LibpngReader(ByteSource& source);
  ~LibpngReader() override;
  LibpngReader(const LibpngReader&) = delete;
  LibpngReader& operator=(const LibpngReader&) = delete;

  const uint8_t* NextRawRow() override;
  void Finish() override;

 private:
  void ReadInterlaced(int passes);

  std::unique_ptr<Png> png_;
  int channels_ = 0;
  int bit_depth_ = 0;
  bool interlaced_ = false;
  std::vector<uint8_t> decoded_;            // one row of a plain image
  std::vector<std::vector<uint8_t>> rows_;  // an interlaced image, whole
  std::vector<uint8_t> flattened_;          // one output row
  uint32_t next_row_ = 0;
  size_t row_bytes_ = 0;
};

std::unique_ptr<ImageReader> OpenWithLibpng(ByteSource& source);

}  // namespace lumeconv
