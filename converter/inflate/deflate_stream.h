#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

#include "huffman_table.h"
#include "inflate_step.h"

namespace lumeconv {

// Deflate data and the Adler-32 after it, decoded strictly: a match that
// reaches past `window` bytes, a code set zlib would refuse, or anything
// else in doubt ends in kBadData, for zlib to judge the stream. It never
// gives other bytes than zlib for a stream zlib accepts.
//
// Works like one zlib inflate call per Decode(), in pieces of any size on
// either side. Bytes it has decoded are handed out before any failure. Where
// the room given is large it decodes straight into it, and may then leave
// scratch bytes in the room past those it hands out.
class DeflateStream {
 public:
  explicit DeflateStream(uint32_t window);
  ~DeflateStream();
  DeflateStream(const DeflateStream&) = delete;
  DeflateStream& operator=(const DeflateStream&) = delete;

  InflateStep Decode(const uint8_t* in, size_t in_size, uint8_t* out,
                     size_t out_size);

  // A block header, or the end of the last block, and the bytes decoded
  // before it.
  struct Mark {
    uint64_t bit;
    uint64_t decoded;
    bool at_end;
  };
  // Notes every one that decoding reaches in `marks`.
  void MarkHeaders(std::vector<Mark>* marks) { marks_ = marks; }

  // Decoding pauses at the first block header, or end of the last block, at
  // or after `bit` (counted from the first bit given), once all bytes before
  // it are handed out; the next PauseAt lets it go on.
  void PauseAt(uint64_t bit);
  bool Paused() const { return mode_ == Mode::kPaused && read_ == write_; }
  uint64_t PausedBit() const { return paused_bit_; }
  bool PausedAtEnd() const { return resume_mode_ == Mode::kTrailer; }

  // Bytes decoded so far, the newest n of them (n at most 32 KiB and
  // Decoded()), and their Adler-32.
  uint64_t Decoded() const { return slid_ + write_; }
  const uint8_t* Newest(size_t n) const { return buf_.get() + write_ - n; }
  uint32_t Adler();

  // Goes on from another point of the data: a block header (or, `at_end`,
  // the trailer) at `bit`, after `decoded` bytes of which `window` holds the
  // last `window_size` (null: whatever the buffer holds stands for them),
  // and whose Adler-32 is `adler`. The next input given starts with the
  // byte that holds that bit.
  void Restart(uint64_t bit, bool at_end, const uint8_t* window,
               size_t window_size, uint64_t decoded, uint32_t adler);

 private:
  enum class Mode {
    kBlockHeader,
    kStored,
    kCodes,
    kTrailer,
    kEnded,
    kBad,
    kBadCheck,
    kPaused
  };
  struct Cursor;

  // Decodes from `c` until the buffer is full, the input runs short inside
  // a unit (a header, a symbol with its match, the trailer), or the stream
  // ends or fails. Returns false when input ran short, with `c` at the
  // start of the unit that did not fit.
  bool Run(Cursor& c);
  // At the start of a block header or the trailer (`resume`): notes it,
  // and tells whether decoding pauses there.
  bool PausesAt(const Cursor& c, Mode resume);
  // A block's header, or nothing taken when the input ends inside it.
  bool BlockHeader(Cursor& c);
  // The header after its first bits; false when the input runs short.
  bool WholeHeader(Cursor& c);
  bool DynamicCodes(Cursor& c);
  // Whether n bits are in, after refilling; the next n bits.
  bool Need(Cursor& c, int n);
  uint32_t Take(int n);
  bool Stored(Cursor& c);
  bool Codes(Cursor& c);
  bool Trailer(Cursor& c);
  // Symbols into w while input and room (to `limit`) are plenty: no checks
  // for either. Returns past the last byte written. Direct, w lies in the
  // caller's buffer, after what was decoded into it from `first` on, and
  // the window before `first` lies in the buffer; otherwise w and `first`
  // are where the buffer ends.
  template <bool kDirect>
  uint8_t* FastCodes(Cursor& c, uint8_t* first, uint8_t* w, uint8_t* limit);
  void CopyFromHistory(uint8_t* w, uint32_t distance, uint32_t length,
                       uint64_t done);
  // After bytes were decoded straight into the caller's buffer, from
  // `first` to `end`: their checksum, and the buffer ending with the window
  // again.
  void EndDirect(const uint8_t* first, const uint8_t* end);
  // One literal, end of block or match, checked; false when input is short.
  bool SlowSymbol(Cursor& c);
  bool Match(uint32_t length, uint32_t distance);
  void Refill(Cursor& c);
  void Slide();
  void Fail() { mode_ = Mode::kBad; }

  uint32_t window_;
  Mode mode_ = Mode::kBlockHeader;
  bool last_block_ = false;
  uint32_t stored_left_ = 0;
  const HuffmanTable* lit_ = nullptr;
  const HuffmanTable* dist_ = nullptr;
  HuffmanTable dynamic_lit_;
  HuffmanTable dynamic_dist_;

  uint64_t bits_ = 0;  // unread bits, first in the lowest; beyond count_,
                       // zeros or the next bits of the input
  int count_ = 0;

  // Decoded bytes: the window behind, then those not yet handed out.
  std::unique_ptr<uint8_t[]> buf_;  // never cleared: pages cost when written
  size_t read_ = 0;
  size_t write_ = 0;
  size_t checked_ = 0;  // up to here in the Adler-32
  size_t stop_ = 0;     // where decoding into the buffer stops this time
  uint64_t slid_ = 0;   // bytes moved out of the buffer's front
  uint32_t adler_ = 1;

  // The start of a unit that did not fit in the last call's input.
  std::vector<uint8_t> carry_;
  size_t carried_ = 0;

  uint64_t taken_ = 0;  // input bytes taken before this call's
  int skip_bits_ = 0;   // of the next input byte, after a restart
  uint64_t pause_bit_ = UINT64_MAX;
  std::vector<Mark>* marks_ = nullptr;
  size_t direct_bytes_ = 0;  // decoded into the caller's buffer, not yet
                             // counted
  uint64_t paused_bit_ = 0;
  Mode resume_mode_ = Mode::kBlockHeader;
};

}  // namespace lumeconv
