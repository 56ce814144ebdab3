#include "split_stream.h"

#include <algorithm>
#include <cstring>

#include "checksums.h"

namespace lumeconv {

SplitStream::SplitStream(uint32_t window, std::unique_ptr<AheadInput> input,
                         uint64_t part_bits, size_t part_bytes)
    : window_(window),
      part_bits_(part_bits),
      engine_(window),
      ahead_(window, std::move(input), part_bits, part_bytes),
      next_from_(part_bits) {
  ahead_.Request(next_from_);
  engine_.PauseAt(next_from_);
}

InflateStep SplitStream::Decode(const uint8_t* in, size_t in_size, uint8_t* out,
                                size_t out_size) {
  InflateStep step{InflateStatus::kOk, 0, 0};
  for (;;) {
    if (phase_ == Phase::kCopying) {
      const size_t copy_end = part_->marks.back().decoded;
      const size_t n = std::min(copy_end - copy_at_, out_size - step.produced);
      std::memcpy(out + step.produced, part_->bytes.get() + copy_at_, n);
      adler_ = Adler32(adler_, out + step.produced, n);
      copy_at_ += n;
      step.produced += n;
      bytes_ahead_ += n;
      const size_t skip = static_cast<size_t>(
          std::min<uint64_t>(skip_to_ - taken_, in_size - step.consumed));
      taken_ += skip;
      step.consumed += skip;
      if (copy_at_ < copy_end || taken_ < skip_to_) return step;
      EndCopy();
      continue;
    }
    const InflateStep s =
        engine_.Decode(in + step.consumed, in_size - step.consumed,
                       out + step.produced, out_size - step.produced);
    step.consumed += s.consumed;
    step.produced += s.produced;
    taken_ += s.consumed;
    if (!engine_.Paused()) {
      step.status = s.status;
      return step;
    }
    OnPause();
  }
}

void SplitStream::OnPause() {
  const uint64_t bit = engine_.PausedBit();
  if (engine_.PausedAtEnd()) {
    Stop();
    return;
  }
  // Waiting costs less than decoding on: the thread is seldom far behind,
  // and what the engine decodes of a part itself, the thread decoded for
  // nothing.
  if (!part_) part_ = ahead_.Wait(next_from_);
  if (!part_) {
    LookOnFrom(bit);
    return;
  }
  const auto& marks = part_->marks;
  if (marks.empty()) {
    // None of it to look at again.
    LookOnFrom(std::max(bit, part_->searched_to - part_bits_));
    return;
  }
  const auto here = std::lower_bound(
      marks.begin(), marks.end(), bit,
      [](const DeflateStream::Mark& m, uint64_t at) { return m.bit < at; });
  if (here == marks.end() || here + 1 == marks.end()) {
    GoOnAfter(marks.back());
  } else if (here->bit > bit) {
    engine_.PauseAt(here->bit);
  } else {
    Meet(&*here);
  }
}

void SplitStream::Meet(const DeflateStream::Mark* here) {
  // Where the windows match, so does all that follows; the engine must have
  // decoded a window's worth, or it would refuse matches the part took.
  const DeflateStream::Mark& last = part_->marks.back();
  if (here->decoded >= 2 * window_ && engine_.Decoded() >= window_ &&
      taken_ <= last.bit / 8 &&
      std::memcmp(engine_.Newest(window_),
                  part_->bytes.get() + here->decoded - window_, window_) == 0) {
    phase_ = Phase::kCopying;
    part_start_ = engine_.Decoded() - here->decoded;
    copy_at_ = here->decoded;
    skip_to_ = last.bit / 8;
    adler_ = engine_.Adler();
    return;
  }
  engine_.PauseAt(here[1].bit);
}

void SplitStream::EndCopy() {
  const DeflateStream::Mark& last = part_->marks.back();
  engine_.Restart(last.bit, last.at_end,
                  part_->bytes.get() + last.decoded - window_, window_,
                  part_start_ + last.decoded, adler_);
  GoOnAfter(last);
}

void SplitStream::GoOnAfter(const DeflateStream::Mark& last) {
  const bool at_end = last.at_end;
  // The thread went on with the part after this one by itself.
  next_from_ = last.bit + part_bits_;
  ahead_.Release(part_);
  part_ = nullptr;
  phase_ = Phase::kSeeking;
  if (at_end) {
    Stop();
  } else {
    engine_.PauseAt(next_from_);
  }
}

void SplitStream::LookOnFrom(uint64_t bit) {
  if (part_) ahead_.Release(part_);
  part_ = nullptr;
  phase_ = Phase::kSeeking;
  next_from_ = bit + part_bits_;
  ahead_.Request(next_from_);
  engine_.PauseAt(next_from_);
}

void SplitStream::Stop() {
  if (part_) ahead_.Release(part_);
  part_ = nullptr;
  phase_ = Phase::kAlone;
  engine_.PauseAt(UINT64_MAX);
}

}  // namespace lumeconv
