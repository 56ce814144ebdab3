#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <vector>

#include "image_data.h"
#include "image_reader.h"
#include "png_chunks.h"
#include "png_info.h"
#include "png_rows.h"

namespace lumeconv {

// The converter's own PNG decoder: rows are inflated as they are needed,
// unfiltered with vector code and handed on, so memory stays a few rows
// deep (of an interlaced image, the even rows are held). Accepts and refuses
// exactly the files the reference decoder does, and gives the same pixels.
class PngReader : public ImageReader {
 public:
  // Does not walk the chunk layout first; OpenPng has that done alongside.
  explicit PngReader(ByteSource& source);

  const uint8_t* NextRawRow() override;
  size_t RawRowBytes() const override;
  void ReadRawRows(uint8_t* out, size_t count) override;
  void PrepareRows(uint8_t* raw, size_t count) override;
  bool PrepareWhileReading() const override;
  const uint8_t* FinishRow(const uint8_t* raw,
                           std::vector<uint8_t>& scratch) override;
  void Finish() override;

 private:
  // Some rows of one of the passes before the last.
  struct PassBand {
    int pass;  // 0 for the first
    uint32_t columns;
    size_t stride;  // filter byte and samples
    uint32_t line;  // the first one, within the pass
    uint32_t count;
  };
  void ReadInterlaced();
  void InflateApart(
      const std::vector<PassBand>& bands, size_t slot_bytes,
      const std::function<void(const PassBand&, uint8_t*)>& place);
  void ReadInterlacedRows(uint8_t* out, size_t count);
  // Undoes the filters of `count` stored rows, `stride` bytes apart, with
  // `above` the row above the first; leaves the last one there. Throws on
  // a bad filter type.
  void UnfilterBand(uint8_t* rows, size_t count, size_t stride,
                    std::vector<uint8_t>& above) const;

  ChunkReader chunks_;
  PngInfo info_;
  std::unique_ptr<ImageData> image_data_;
  RowExpander expander_;
  int bpp_ = 1;            // bytes per stored pixel, for the filters
  size_t stored_row_ = 0;  // bytes of one stored row, without filter byte

  std::vector<uint8_t> current_;  // filter byte and samples
  // A plain image's rows are unfiltered as they are finished.
  std::vector<uint8_t> unfiltered_;
  std::vector<uint8_t> unfiltered_prior_;
  // The last row PrepareRows undid: the row above its next band. Its own,
  // as PrepareRows may run on another thread than FinishRow.
  std::vector<uint8_t> band_tail_;
  // Whether rows are prepared, in bands, rather than undone one by one.
  std::atomic<bool> prepared_{false};
  // An interlaced image's even rows, expanded; the odd rows being read, as
  // stored, and the one above them; a row NextRawRow hands out.
  std::vector<std::vector<uint8_t>> rows_;
  std::vector<uint8_t> odd_band_;
  std::vector<uint8_t> above_odd_;
  std::vector<uint8_t> one_row_;
  uint32_t next_row_ = 0;
};

}  // namespace lumeconv
