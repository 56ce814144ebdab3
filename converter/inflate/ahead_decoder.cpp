#include "ahead_decoder.h"

#include <algorithm>
#include <cstring>

#include "load64.h"

namespace lumeconv {

namespace {

// The input's offsets count the zlib header; the parts' bits do not.
constexpr uint64_t kZlibHeader = 2;
// Input read at a time: far more than a block header or a look needs.
constexpr size_t kInputBytes = size_t{256} << 10;
// How far past the asked point a block header is looked for.
constexpr uint64_t kSearchBits = uint64_t{64} << 13;
constexpr size_t kFewestBlocks = 3;

}  // namespace

AheadDecoder::AheadDecoder(uint32_t window, std::unique_ptr<AheadInput> input,
                           uint64_t part_bits, size_t part_bytes)
    : window_(window),
      input_(std::move(input)),
      part_bits_(part_bits),
      part_bytes_(part_bytes),
      engine_(window),
      in_(new uint8_t[kInputBytes]),
      thread_(&AheadDecoder::Run, this) {}

AheadDecoder::~AheadDecoder() {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    stopping_ = true;
    ++generation_;
  }
  changed_.notify_all();
  thread_.join();
}

void AheadDecoder::Request(uint64_t from_bit) {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    ++generation_;
    next_from_ = from_bit;
    for (Slot& slot : slots_) {
      if (slot.state != State::kWorking) slot.state = State::kFree;
    }
    QueueNext();
  }
  changed_.notify_all();
}

const AheadPart* AheadDecoder::Wait(uint64_t from_bit) {
  std::unique_lock<std::mutex> lock(mutex_);
  for (;;) {
    bool coming = next_from_ == from_bit;
    for (Slot& slot : slots_) {
      if (slot.state == State::kFree || slot.part.from_bit != from_bit) {
        continue;
      }
      if (slot.state == State::kDone) return &slot.part;
      coming = true;
    }
    if (!coming) return nullptr;
    changed_.wait(lock);
  }
}

void AheadDecoder::Release(const AheadPart* part) {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    for (Slot& slot : slots_) {
      if (&slot.part == part) slot.state = State::kFree;
    }
    QueueNext();
  }
  changed_.notify_all();
}

void AheadDecoder::QueueNext() {
  if (next_from_ == UINT64_MAX) return;
  for (Slot& slot : slots_) {
    if (slot.state != State::kFree) continue;
    slot.part.from_bit = next_from_;
    slot.state = State::kQueued;
    next_from_ = UINT64_MAX;
    return;
  }
}

void AheadDecoder::Run() {
  std::unique_lock<std::mutex> lock(mutex_);
  for (;;) {
    Slot* slot = nullptr;
    changed_.wait(lock, [&] {
      for (Slot& s : slots_) {
        if (s.state == State::kQueued) slot = &s;
      }
      return stopping_ || slot;
    });
    if (stopping_) return;
    slot->state = State::kWorking;
    const uint64_t generation = generation_;
    lock.unlock();
    Decode(slot->part, generation);
    lock.lock();
    if (Abandoned(generation)) {
      slot->state = State::kFree;
    } else {
      slot->state = State::kDone;
      const auto& marks = slot->part.marks;
      if (!marks.empty() && !marks.back().at_end) {
        next_from_ = marks.back().bit + part_bits_;
      }
    }
    QueueNext();
    changed_.notify_all();
  }
}

void AheadDecoder::Load(uint64_t first) {
  const uint64_t end = in_first_ + in_size_;
  size_t kept = 0;
  if (first >= in_first_ && first <= end) {
    kept = static_cast<size_t>(end - first);
    std::memmove(in_.get(), in_.get() + (first - in_first_), kept);
  } else {
    in_ended_ = false;
  }
  in_first_ = first;
  in_size_ = kept;
  if (in_ended_) return;
  in_size_ += input_->ReadAt(kZlibHeader + first + kept, in_.get() + kept,
                             kInputBytes - kept);
  in_ended_ = in_size_ < kInputBytes;
}

bool AheadDecoder::Plausible(uint64_t bit) const {
  const uint8_t* const p = in_.get() + (bit / 8 - in_first_);
  const int shift = static_cast<int>(bit % 8);
  const uint64_t header = Load64(p) >> shift;
  // The code lengths' own code must be complete.
  const int count = static_cast<int>((header >> 13) & 15) + 4;
  const int next = shift + 1;  // the lengths start 17 bits in
  const uint64_t lengths = Load64(p + 2 + next / 8) >> (next % 8);
  int sum = 0;
  for (int i = 0; i < count; ++i) {
    const int length = static_cast<int>((lengths >> (3 * i)) & 7);
    if (length > 0) sum += 128 >> length;
    if (sum > 128) return false;
  }
  return sum == 128;
}

void AheadDecoder::Decode(AheadPart& part, uint64_t generation) {
  part.marks.clear();
  part.searched_to = part.from_bit;
  if (!part.bytes) part.bytes.reset(new uint8_t[window_ + part_bytes_]);
  const uint64_t first = part.from_bit / 8;
  const uint64_t last = part.from_bit + kSearchBits;
  for (uint64_t byte = first; byte < last / 8; byte += 6) {
    if ((byte - first) % 3072 == 0 && Abandoned(generation)) return;
    if (byte + 16 > in_first_ + in_size_ || byte < in_first_) {
      Load(byte);
      if (byte + 16 > in_first_ + in_size_) return;
    }
    part.searched_to = byte * 8;
    // The bits at which a header may start, 48 at a time: not the last
    // block (0), codes of its own (0 then 1), at most 286 and 30 of them
    // (neither count's top four bits all set).
    const uint64_t w = Load64(in_.get() + (byte - in_first_));
    uint64_t starts = ~w & ~(w >> 1) & (w >> 2) &
                      ~((w >> 4) & (w >> 5) & (w >> 6) & (w >> 7)) &
                      ~((w >> 9) & (w >> 10) & (w >> 11) & (w >> 12)) &
                      ((uint64_t{1} << 48) - 1);
    for (; starts != 0; starts &= starts - 1) {
      const uint64_t bit =
          byte * 8 + static_cast<uint64_t>(__builtin_ctzll(starts));
      if (bit < part.from_bit || !Plausible(bit)) continue;
      if (DecodeFrom(bit, part, generation)) return;
      if (byte < in_first_) break;
    }
  }
}

bool AheadDecoder::DecodeFrom(uint64_t bit, AheadPart& part,
                              uint64_t generation) {
  auto& marks = part.marks;
  marks.clear();
  // Any window will do: the reading compares the windows before it takes
  // any bytes.
  engine_.Restart(bit, false, nullptr, window_, window_, 1);
  engine_.MarkHeaders(&marks);
  engine_.PauseAt(bit + part_bits_);
  uint8_t* const out = part.bytes.get() + window_;
  uint64_t at = bit / 8;
  size_t produced = 0;
  while (!Abandoned(generation)) {
    const uint64_t end = in_first_ + in_size_;
    const InflateStep step =
        engine_.Decode(in_.get() + (at - in_first_), end - at, out + produced,
                       part_bytes_ - produced);
    at += step.consumed;
    produced += step.produced;
    if (engine_.Paused()) {
      // The reading can take a part's bytes only after one of its inner
      // block headers, so a part holds a few blocks.
      if (engine_.PausedAtEnd() || marks.size() > kFewestBlocks) break;
      engine_.PauseAt(engine_.PausedBit() + 1);
      continue;
    }
    if (step.status != InflateStatus::kOk || produced == part_bytes_) break;
    if (step.consumed == 0 && step.produced == 0) {
      if (in_ended_ || at == in_first_) break;
      Load(at);
    }
  }
  engine_.MarkHeaders(nullptr);
  // Where the room ran out, the engine may have gone on in its own buffer.
  while (!marks.empty() && marks.back().decoded > window_ + produced) {
    marks.pop_back();
  }
  if (marks.size() < 2) marks.clear();
  return !marks.empty();
}

}  // namespace lumeconv
