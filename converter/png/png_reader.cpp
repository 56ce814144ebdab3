#include "png_reader.h"

#include <algorithm>
#include <cstring>
#include <thread>

#include "flatten.h"
#include "image_data.h"
#include "row_pipe.h"
#include "unfilter.h"

namespace lumeconv {

namespace {

struct Pass {
  uint32_t x0, y0, dx, dy;
};
constexpr Pass kAdam7[7] = {{0, 0, 8, 8}, {4, 0, 8, 8}, {0, 4, 4, 8},
                            {2, 0, 4, 4}, {0, 2, 2, 4}, {1, 0, 2, 2},
                            {0, 1, 1, 2}};

// Rows of a pass inflated at a time: enough that each call to the inflate
// pays off, few enough to stay in the cache.
constexpr size_t kPassBandBytes = 128 * 1024;
// From this many bytes of stored passes, inflating them beside undoing their
// filters pays for a thread.
constexpr uint64_t kInflateApartFrom = 512 * 1024;
constexpr size_t kBandsAhead = 3;

uint32_t PassSize(uint32_t size, uint32_t start, uint32_t step) {
  return size > start ? (size - start + step - 1) / step : 0;
}

size_t StoredRowBytes(const PngInfo& info, uint32_t pixels) {
  return (uint64_t{pixels} * info.channels * info.bit_depth + 7) / 8;
}

// Pixels of a pass go every `step` bytes of their row; a copy of a size
// known here compiles to a few moves, where one of any size is a call.
template <size_t kPixel>
void ScatterFixed(const uint8_t* in, uint32_t columns, uint8_t* out,
                  size_t step) {
  for (uint32_t i = 0; i < columns; ++i, in += kPixel, out += step) {
    std::memcpy(out, in, kPixel);
  }
}

void Scatter(const uint8_t* in, uint32_t columns, size_t pixel, uint8_t* out,
             size_t step) {
  switch (pixel) {
    case 1:
      return ScatterFixed<1>(in, columns, out, step);
    case 2:
      return ScatterFixed<2>(in, columns, out, step);
    case 3:
      return ScatterFixed<3>(in, columns, out, step);
    case 4:
      return ScatterFixed<4>(in, columns, out, step);
    case 6:
      return ScatterFixed<6>(in, columns, out, step);
    default:  // 16-bit RGBA
      return ScatterFixed<8>(in, columns, out, step);
  }
}

}  // namespace

PngReader::PngReader(ByteSource& source)
    : chunks_(source),
      info_(ReadInfo(chunks_)),
      image_data_(std::make_unique<ImageData>(
          source, chunks_,
          uint64_t{info_.height} * (StoredRowBytes(info_, info_.width) + 1))),
      expander_(info_) {
  width_ = info_.width;
  height_ = info_.height;
  CheckDimensions();
  components_ = (info_.colour_type & 2) ? 3 : 1;
  metadata_ = info_.metadata;

  bpp_ = std::max(1, info_.channels * info_.bit_depth / 8);
  stored_row_ = StoredRowBytes(info_, width_);
  const size_t expanded_row = size_t{width_} * expander_.PixelBytes();
  if (info_.interlaced) {
    CheckInterlacedSize(expanded_row);
    ReadInterlaced();
  } else {
    current_.resize(stored_row_ + 1);
    unfiltered_.resize(stored_row_);
    unfiltered_prior_.resize(stored_row_);
    band_tail_.resize(stored_row_);
  }
}

// The first six passes fill the even rows; the last one brings the odd rows
// whole, so those are read as they are asked for, while the rows before them
// are being encoded, and are never held. A pass is inflated some rows at a
// time and its filters undone two rows at once, as a plain image's are; in a
// large image a second thread inflates the next band meanwhile.
void PngReader::ReadInterlaced() {
  rows_.resize(height_);
  const size_t pixel = expander_.PixelBytes();
  std::vector<PassBand> bands;
  size_t slot_bytes = 0;
  uint64_t total = 0;
  for (int p = 0; p < 6; ++p) {
    const Pass& pass = kAdam7[p];
    const uint32_t columns = PassSize(width_, pass.x0, pass.dx);
    const uint32_t lines = PassSize(height_, pass.y0, pass.dy);
    if (columns == 0 || lines == 0) continue;
    const size_t stride = StoredRowBytes(info_, columns) + 1;
    const uint32_t band_rows = static_cast<uint32_t>(
        std::clamp<size_t>(kPassBandBytes / stride, 2, lines));
    slot_bytes = std::max(slot_bytes, band_rows * stride);
    total += uint64_t{lines} * stride;
    for (uint32_t line = 0; line < lines; line += band_rows) {
      bands.push_back(
          {p, columns, stride, line, std::min(band_rows, lines - line)});
    }
  }
  std::vector<uint8_t> pass_pixels;
  std::vector<uint8_t> above;
  const auto place = [&](const PassBand& band, uint8_t* data) {
    const size_t row_bytes = band.stride - 1;
    if (band.line == 0) {
      above.assign(row_bytes, 0);  // each pass starts afresh
      pass_pixels.resize(size_t{band.columns} * pixel);
    }
    UnfilterBand(data, band.count, band.stride, above);
    for (uint32_t i = 0; i < band.count; ++i) {
      const uint8_t* stored = data + i * band.stride + 1;
      if (!expander_.Identity()) {
        expander_.Expand(stored, band.columns, pass_pixels.data());
        stored = pass_pixels.data();
      }
      const Pass& pass = kAdam7[band.pass];
      std::vector<uint8_t>& row = rows_[pass.y0 + (band.line + i) * pass.dy];
      // A row gets its memory when its first pass arrives, so a cut-short
      // file costs only what its data filled.
      if (row.empty()) row.resize(size_t{width_} * pixel);
      Scatter(stored, band.columns, pixel, &row[pass.x0 * pixel],
              pass.dx * pixel);
    }
  };
  if (total < kInflateApartFrom) {
    std::vector<uint8_t> data(slot_bytes);
    for (const PassBand& band : bands) {
      image_data_->ReadRows(data.data(), band.stride, band.count);
      place(band, data.data());
    }
  } else {
    InflateApart(bands, slot_bytes, place);
  }
  above_odd_.assign(stored_row_, 0);
  one_row_.resize(size_t{width_} * pixel);
}

// Bands are inflated on a thread of their own, up to a few ahead, and placed
// here in order; a failure on either side stops both, and a band's damage
// is told before that of any band after it.
void PngReader::InflateApart(
    const std::vector<PassBand>& bands, size_t slot_bytes,
    const std::function<void(const PassBand&, uint8_t*)>& place) {
  RowPipe pipe(slot_bytes, kBandsAhead);
  std::thread inflating([&] {
    try {
      for (const PassBand& band : bands) {
        uint8_t* slot = pipe.WaitForFreeRow();
        if (!slot) return;
        image_data_->ReadRows(slot, band.stride, band.count);
        pipe.Publish();
      }
    } catch (...) {
      pipe.Fail(std::current_exception());
    }
  });
  try {
    for (const PassBand& band : bands) {
      uint8_t* data = pipe.WaitForFullRow();
      if (!data) std::rethrow_exception(pipe.Error());
      place(band, data);
      pipe.Release();
    }
  } catch (...) {
    pipe.GiveUp();
    inflating.join();
    throw;
  }
  inflating.join();
}

// A plain image's rows are handed on filtered: undoing the filters is the
// part of decoding that can move to the thread that encodes.
const uint8_t* PngReader::NextRawRow() {
  if (info_.interlaced) {
    ReadRawRows(one_row_.data(), 1);
    return one_row_.data();
  }
  image_data_->Read(current_.data(), stored_row_ + 1);
  ++next_row_;
  return current_.data();
}

// The odd rows among those asked for are inflated together and their
// filters undone two by two; the even ones were put together before.
void PngReader::ReadInterlacedRows(uint8_t* out, size_t count) {
  const size_t row_bytes = RawRowBytes();
  const size_t stride = stored_row_ + 1;
  const uint32_t first = next_row_;
  const uint32_t end = first + static_cast<uint32_t>(count);
  const size_t odd = end / 2 - first / 2;
  odd_band_.resize(odd * stride);
  if (odd > 0) {
    image_data_->ReadRows(odd_band_.data(), stride, odd);
    UnfilterBand(odd_band_.data(), odd, stride, above_odd_);
  }
  const uint8_t* stored = odd_band_.data() + 1;
  for (uint32_t y = first; y < end; ++y, out += row_bytes) {
    if (y % 2 == 0) {
      std::memcpy(out, rows_[y].data(), row_bytes);
    } else {
      expander_.Expand(stored, width_, out);
      stored += stride;
    }
  }
  next_row_ = end;
}

// A plain image's rows are inflated straight into place.
void PngReader::ReadRawRows(uint8_t* out, size_t count) {
  if (info_.interlaced) {
    ReadInterlacedRows(out, count);
    return;
  }
  image_data_->ReadRows(out, stored_row_ + 1, count);
  next_row_ += static_cast<uint32_t>(count);
}

size_t PngReader::RawRowBytes() const {
  return info_.interlaced ? size_t{width_} * expander_.PixelBytes()
                          : stored_row_ + 1;
}

// Plain rows lose their filters two by two, each row then marked as
// unfiltered (filter 0) for FinishRow; interlaced ones have none left.
void PngReader::PrepareRows(uint8_t* raw, size_t count) {
  if (info_.interlaced) return;
  prepared_.store(true, std::memory_order_relaxed);
  // Above the first row: the last one of the band before, zeros before the
  // first band.
  UnfilterBand(raw, count, stored_row_ + 1, band_tail_);
}

void PngReader::UnfilterBand(uint8_t* rows, size_t count, size_t stride,
                             std::vector<uint8_t>& above) const {
  const uint8_t* last =
      UnfilterRows(rows, count, stride, stride - 1, above.data(), bpp_);
  if (!last) ThrowDamaged("bad adaptive filter value");
  if (count > 0) std::copy_n(last, stride - 1, above.begin());
}

// Pixels of one or two bytes have little to inflate for each pixel the JPEG
// encodes, and no vector code to undo their filters: each byte waits on the
// one to its left. Measured on PIL's grey photos, the undoing then belongs
// with the reading; for larger pixels it belongs with the encoding.
bool PngReader::PrepareWhileReading() const {
  return !info_.interlaced && bpp_ <= 2;
}

// Interlaced rows were unfiltered and expanded as their passes came in;
// plain ones are still as stored, filter byte first, their filters undone
// unless prepared. A prepared row is used where it lies; only a row undone
// here is kept, as the one above the next.
const uint8_t* PngReader::FinishRow(const uint8_t* raw,
                                    std::vector<uint8_t>& scratch) {
  if (prepared_.load(std::memory_order_relaxed)) {
    ++raw;
  } else if (!info_.interlaced) {
    std::swap(unfiltered_, unfiltered_prior_);
    std::copy_n(raw + 1, stored_row_, unfiltered_.begin());
    if (!Unfilter(raw[0], unfiltered_.data(), unfiltered_prior_.data(),
                  stored_row_, bpp_)) {
      ThrowDamaged("bad adaptive filter value");
    }
    raw = unfiltered_.data();
  }
  const size_t expanded_bytes = size_t{width_} * expander_.PixelBytes();
  const bool flat =
      expander_.BitDepth() == 8 && expander_.Channels() == components_;
  const bool expanded = info_.interlaced || expander_.Identity();
  if (expanded && flat) return raw;
  scratch.resize(expanded_bytes + size_t{width_} * components_);
  const uint8_t* pixels = raw;
  if (!expanded) {
    expander_.Expand(raw, width_, scratch.data());
    pixels = scratch.data();
  }
  if (flat) return pixels;
  uint8_t* out = scratch.data() + expanded_bytes;
  FlattenRow(pixels, out, width_, expander_.Channels(), expander_.BitDepth());
  return out;
}

void PngReader::Finish() {
  image_data_->Finish();
  ReadTrailingChunks(image_data_->Chunks());
}

}  // namespace lumeconv
