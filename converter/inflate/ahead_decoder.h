#pragma once

#include <atomic>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

#include "ahead_input.h"
#include "deflate_stream.h"

namespace lumeconv {

// A part of the deflate data decoded ahead, on a thread of its own, from a
// block header found by its look at or after `from_bit`, with a made-up
// window. Its bytes are right once they no longer reach into that
// window, which only the reading can tell.
struct AheadPart {
  uint64_t from_bit = 0;
  // Where the look for a block header stopped: none lies before it that
  // decodes.
  uint64_t searched_to = 0;
  // The block headers passed, with the bytes decoded before each counted
  // from the start of `bytes`. The first is where decoding began, the last
  // where the part ends; empty when no block header was found that decodes.
  std::vector<DeflateStream::Mark> marks;
  // Room for the made-up window, then the part's bytes; left as it comes
  // from the allocator, so that only the pages written are mapped in.
  std::unique_ptr<uint8_t[]> bytes;
};

// Decodes parts ahead, one at a time, each of about `part_bits` of deflate
// data. After each part it goes on with the next one, `part_bits` past the
// end of the last, which the reading decodes itself meanwhile.
class AheadDecoder {
 public:
  AheadDecoder(uint32_t window, std::unique_ptr<AheadInput> input,
               uint64_t part_bits, size_t part_bytes);
  ~AheadDecoder();
  AheadDecoder(const AheadDecoder&) = delete;
  AheadDecoder& operator=(const AheadDecoder&) = delete;

  // Drops every part asked for before, and looks from `from_bit` on.
  void Request(uint64_t from_bit);
  // The part looked for from `from_bit`, once decoded; nullptr when none is
  // asked for or on the way. It stays the caller's until Release().
  const AheadPart* Wait(uint64_t from_bit);
  void Release(const AheadPart* part);

 private:
  // Parts decoded and not yet taken, and the one being decoded: the
  // thread runs ahead by this many at most.
  static constexpr int kSlots = 2;
  enum class State { kFree, kQueued, kWorking, kDone };
  struct Slot {
    State state = State::kFree;
    AheadPart part;
  };

  void Run();
  // Queues the part that follows the last one decoded, if a slot is free.
  void QueueNext();
  void Decode(AheadPart& part, uint64_t generation);
  // Whether the code lengths' code of a dynamic block header at `bit` is
  // complete, as it must be.
  bool Plausible(uint64_t bit) const;
  // Decodes from `bit` into `part` until its end; false when not even the
  // first block decodes.
  bool DecodeFrom(uint64_t bit, AheadPart& part, uint64_t generation);
  // Input from byte `first` on, as much as there is room for.
  void Load(uint64_t first);
  bool Abandoned(uint64_t generation) const {
    return generation_.load(std::memory_order_relaxed) != generation;
  }

  const uint32_t window_;
  const std::unique_ptr<AheadInput> input_;
  const uint64_t part_bits_;
  const size_t part_bytes_;
  DeflateStream engine_;
  std::unique_ptr<uint8_t[]> in_;
  size_t in_size_ = 0;
  uint64_t in_first_ = 0;
  bool in_ended_ = false;

  std::mutex mutex_;
  std::condition_variable changed_;
  Slot slots_[kSlots];
  std::atomic<uint64_t> generation_{0};
  uint64_t next_from_ = UINT64_MAX;  // the part to queue when a slot frees
  bool stopping_ = false;
  std::thread thread_;
};

}  // namespace lumeconv
