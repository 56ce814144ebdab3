#pragma once

#include <cstddef>
#include <cstdint>
#include <exception>
#include <memory>
#include <utility>
#include <vector>

#include "inflater.h"
#include "png_chunks.h"

namespace lumeconv {

class ByteSource;

// The zlib stream spread over a PNG's IDAT chunks, read one row at a time.
// It is inflated with the strict engine (DeflateStream); when that meets
// damage, the stream is read again from its start
// with zlib, asked for the same rows in the same pieces as the reference
// decoder asks, so that a damaged file fails or passes exactly as it does
// there.
class ImageData {
 public:
  // `chunks` stands at the start of the first IDAT chunk's data; `source`
  // is read again from the start if zlib has to take over. The stream
  // should inflate to `size` bytes.
  ImageData(ByteSource& source, ChunkReader& chunks, uint64_t size);
  ~ImageData();

  // Exactly n bytes of image data, or throws.
  void Read(uint8_t* out, size_t n) { ReadRows(out, n, 1); }
  // `count` rows of `row_bytes` each, read as the reference reads them: one
  // row at a time.
  void ReadRows(uint8_t* out, size_t row_bytes, size_t count);
  // Reads what follows the image in the stream to its end, forgiving
  // damage there, and the CRC of the last IDAT chunk.
  void Finish();
  // Where the chunks go on after the image data.
  ChunkReader& Chunks() { return *chunks_; }

 private:
  // One inflate call on the current piece of input; moves to the next
  // piece when this one is used up.
  // `starved` tells that more input was wanted and the image data had run
  // out.
  Inflater::Step Pump(uint8_t* out, size_t n, bool* starved);
  // Makes the next piece of compressed bytes current; false when the chunk
  // after the image data is not IDAT.
  bool NextInput();
  bool Gather();
  void BackToStreamEnd();
  // Exactly n bytes, or throws; with a strict engine, damage or input that
  // runs out returns false instead, for zlib to judge.
  bool Fill(uint8_t* out, size_t n);
  void SwitchToZlib();
  void CheckRestWithZlib();

  ByteSource& source_;
  ChunkReader* chunks_;
  std::unique_ptr<ChunkReader> replay_chunks_;
  std::unique_ptr<Inflater> inflater_;
  bool zlib_ = false;
  bool stream_ended_ = false;

  std::vector<uint8_t> input_;
  size_t input_at_ = 0;
  size_t input_end_ = 0;
  size_t piece_end_ = 0;

  // Where each chunk's data ends in what was gathered, and the chunks' place
  // after it.
  struct Gathered {
    size_t end;
    ChunkReader::Place place;
  };
  std::vector<Gathered> gathered_;
  // What stopped the last gathering short.
  enum class Stop { kNone, kCrcError, kDataEnded, kFailed };
  Stop stop_ = Stop::kNone;
  std::exception_ptr failure_;
  // The reads made so far, as runs of equal sizes, to make again.
  std::vector<std::pair<size_t, uint64_t>> reads_;
};

}  // namespace lumeconv
