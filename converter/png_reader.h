#pragma once

#include <cstdint>
#include <vector>

#include "image_reader.h"
#include "inflater.h"
#include "png_chunks.h"
#include "png_info.h"
#include "png_rows.h"

namespace lumeconv {

// The converter's own PNG decoder: rows are inflated as they are needed,
// unfiltered with vector code and handed on, so memory stays a few rows
// deep (an interlaced image is held whole). Accepts and refuses exactly the
// files the reference decoder does, and gives the same pixels.
class PngReader : public ImageReader {
 public:
  explicit PngReader(ByteSource& source);

  const uint8_t* NextRow() override;
  void Finish() override;

 private:
  // Inflates exactly n bytes of image data, or throws.
  void InflateImage(uint8_t* out, size_t n);
  // One inflate call on the current piece; moves to the next piece when
  // this one is used up.
  Inflater::Step Pump(uint8_t* out, size_t n);
  // Makes the next piece of compressed bytes available, from this IDAT
  // chunk or the next; throws when the image data has run out.
  void NextInput();
  // One stored row, unfiltered in place; returns its samples.
  uint8_t* ReadStoredRow(size_t row_bytes, int bpp);
  void ReadInterlaced();
  const uint8_t* Flatten(const uint8_t* expanded);

  ChunkReader chunks_;
  PngInfo info_;
  Inflater inflater_;
  RowExpander expander_;
  int bpp_ = 1;            // bytes per stored pixel, for the filters
  size_t stored_row_ = 0;  // bytes of one stored row, without filter byte

  std::vector<uint8_t> input_;  // compressed bytes read from the file
  size_t input_at_ = 0;
  size_t input_end_ = 0;
  size_t piece_end_ = 0;  // input is fed in pieces, as the reference does
  bool stream_ended_ = false;

  std::vector<uint8_t> current_;  // filter byte and samples
  std::vector<uint8_t> prior_;
  std::vector<uint8_t> expanded_;
  std::vector<uint8_t> flattened_;
  std::vector<std::vector<uint8_t>> rows_;  // an interlaced image, expanded
  uint32_t next_row_ = 0;
};

}  // namespace lumeconv
