#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>

#include "ahead_decoder.h"
#include "deflate_stream.h"
#include "inflate_step.h"

namespace lumeconv {

// The strict engine, helped by a thread that decodes parts of the data
// ahead. It gives exactly the engine's bytes and verdicts: a part's bytes
// are taken only from one of its block headers that the engine reached
// itself, where the engine's window and the part's are the same; from
// there on, decoding hangs on nothing else. The engine then goes on after
// the part.
class SplitStream {
 public:
  // Parts of about `part_bits` each, at most `part_bytes` decoded.
  SplitStream(uint32_t window, std::unique_ptr<AheadInput> input,
              uint64_t part_bits, size_t part_bytes);

  // As DeflateStream::Decode.
  InflateStep Decode(const uint8_t* in, size_t in_size, uint8_t* out,
                     size_t out_size);
  // How many of the bytes given were decoded ahead.
  uint64_t BytesAhead() const { return bytes_ahead_; }

 private:
  enum class Phase { kSeeking, kCopying, kAlone };

  // The engine paused where it was told: decides how it goes on.
  void OnPause();
  // The engine stands at a block header of the part: takes the part's
  // bytes from there, or goes on to its next one.
  void Meet(const DeflateStream::Mark* here);
  // Done with the part, whose last block header is `last`.
  void GoOnAfter(const DeflateStream::Mark& last);
  // Drops the part and looks for the next one `part_bits_` after `bit`.
  void LookOnFrom(uint64_t bit);
  void Stop();
  // The engine takes over again after the part's last block header.
  void EndCopy();

  const uint32_t window_;
  const uint64_t part_bits_;
  DeflateStream engine_;
  AheadDecoder ahead_;
  Phase phase_ = Phase::kSeeking;
  uint64_t next_from_ = 0;
  uint64_t taken_ = 0;  // input bytes taken
  const AheadPart* part_ = nullptr;
  // The bytes decoded before the part, less the part's made-up window: so
  // that the engine's count and the part's marks differ by it.
  uint64_t part_start_ = 0;
  size_t copy_at_ = 0;
  uint64_t skip_to_ = 0;  // the input byte the engine goes on from
  uint32_t adler_ = 1;
  uint64_t bytes_ahead_ = 0;
};

}  // namespace lumeconv
