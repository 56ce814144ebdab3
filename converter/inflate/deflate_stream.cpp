#include "deflate_stream.h"

#include <algorithm>
#include <cstring>

#include "checksums.h"
#include "load64.h"

namespace lumeconv {

namespace {

// The longest code: bits enough for any one symbol.
constexpr int kMaxBits = 15;
constexpr size_t kHistory = size_t{1} << 15;
// Decoded bytes between two slides of the window to the buffer's front.
constexpr size_t kSpan = size_t{1} << 18;
constexpr size_t kMaxMatch = 258;
// Room past a match's end, for copies eight bytes at a time.
constexpr size_t kSlack = 16;
// Room in the caller's buffer from which symbols are decoded straight into
// it rather than into the buffer and copied out.
constexpr size_t kDirectRoom = 4096;
// The largest unit is a block header of codes: under 600 bytes.
constexpr size_t kCarry = 2048;
constexpr size_t kLargestUnit = 1024;

// A match's bytes, eight at a time where they do not overlap what they
// copy; past the end up to kSlack bytes may be written.
inline void CopyMatch(uint8_t* to, uint32_t distance, uint32_t length) {
  const uint8_t* from = to - distance;
  if (distance >= 8) {
    for (uint32_t i = 0; i < length; i += 8) std::memcpy(to + i, from + i, 8);
  } else if (distance == 1) {
    std::memset(to, *from, length);
  } else {
    // The bytes repeat with the distance as their period: once written
    // out, they also lie twice as far back, so the distance doubles until
    // eight bytes at a time can be copied.
    uint8_t* const end = to + length;
    while (distance < 8) {
      for (uint32_t i = 0; i < distance; ++i) to[i] = from[i];
      to += distance;
      if (to >= end) return;
      distance *= 2;
    }
    for (; to < end; to += 8, from += 8) std::memcpy(to, from, 8);
  }
}

// The entry the bits begin with, its code taken from them: the table is
// given as its entries and the mask of its primary bits, held by the caller
// where a stored byte cannot stand for a change to them.
inline uint32_t TakeEntry(const uint32_t* entries, uint64_t mask,
                          uint64_t& bits, int& count) {
  uint32_t e = entries[bits & mask];
  if (KindOf(e) == kLink) {
    bits >>= LengthOf(e);
    count -= LengthOf(e);
    e = entries[ValueOf(e) + Low(bits, ExtraOf(e))];
  }
  bits >>= LengthOf(e);
  count -= LengthOf(e);
  return e;
}

// One literal to three, written as four bytes either way; returns past
// them.
inline uint8_t* PutLiterals(uint8_t* to, uint32_t e) {
  const uint32_t bytes = LiteralBytes(e);
  std::memcpy(to, &bytes, 4);
  return to + LiteralsOf(e);
}

}  // namespace

struct DeflateStream::Cursor {
  const uint8_t* begin;
  const uint8_t* p;
  const uint8_t* end;
  uint64_t offset;  // of `begin` in the whole input
};

DeflateStream::DeflateStream(uint32_t window)
    : window_(window),
      buf_(std::make_unique_for_overwrite<uint8_t[]>(kHistory + kSpan +
                                                     kMaxMatch + kSlack)),
      carry_(kCarry) {}

DeflateStream::~DeflateStream() = default;

void DeflateStream::Refill(Cursor& c) {
  while (count_ <= 56 && c.p < c.end) {
    bits_ |= uint64_t{*c.p++} << count_;
    count_ += 8;
  }
}

void DeflateStream::Slide() {
  adler_ = Adler32(adler_, buf_.get() + checked_, write_ - checked_);
  checked_ = write_;
  const size_t keep_from =
      std::min(read_, write_ > kHistory ? write_ - kHistory : size_t{0});
  if (keep_from == 0) return;
  std::memmove(buf_.get(), buf_.get() + keep_from, write_ - keep_from);
  read_ -= keep_from;
  write_ -= keep_from;
  checked_ -= keep_from;
  slid_ += keep_from;
}

bool DeflateStream::Match(uint32_t length, uint32_t distance) {
  if (distance > window_ || distance > slid_ + write_) {
    Fail();
    return false;
  }
  CopyMatch(buf_.get() + write_, distance, length);
  write_ += length;
  return true;
}

// Everything the loop reads is held in locals: a store of a decoded byte
// could otherwise stand for a change to any of them.
//
// Each turn starts with at least 56 bits in hand. A literal entry of the
// first table takes at most 11 of them, so after four at least 12 are left
// and the next entry can be looked up at once, before the refill: the
// refill adds bits above those it reads, and the lookup of one symbol need
// not wait for it.
template <bool kDirect>
uint8_t* DeflateStream::FastCodes(Cursor& c, uint8_t* first, uint8_t* w,
                                  uint8_t* limit) {
  const uint32_t* const lit = lit_->entries.data();
  const uint64_t lit_mask = (uint64_t{1} << lit_->primary_bits) - 1;
  const uint32_t* const dist = dist_->entries.data();
  const uint64_t dist_mask = (uint64_t{1} << dist_->primary_bits) - 1;
  const uint64_t window = window_;
  const uint64_t written_before = slid_ + write_;
  uint64_t bits = bits_;
  int count = count_;
  const uint8_t* p = c.p;
  const uint8_t* const end = c.end;
  const auto refill = [&] {
    bits |= Load64(p) << count;
    p += (63 - count) >> 3;
    count |= 56;
  };
  const auto consume = [&](uint32_t e) {
    bits >>= LengthOf(e);
    count -= LengthOf(e);
  };
  if (end - p < 8 || w >= limit) return w;
  refill();
  uint32_t e = lit[bits & lit_mask];
  for (;;) {
    if (IsLiteral(e)) {
      for (int taken = 0; taken < 4 && IsLiteral(e); ++taken) {
        consume(e);
        w = PutLiterals(w, e);
        e = lit[bits & lit_mask];
      }
      if (end - p < 8 || w >= limit) break;
      refill();
      continue;
    }
    if (KindOf(e) == kLink) {
      consume(e);
      e = lit[ValueOf(e) + Low(bits, ExtraOf(e))];
    }
    consume(e);
    if (IsLiteral(e)) {
      w = PutLiterals(w, e);
    } else if (KindOf(e) == kBase) {
      const uint32_t length = ValueOf(e) + Low(bits, ExtraOf(e));
      bits >>= ExtraOf(e);
      count -= ExtraOf(e);
      const uint32_t d = TakeEntry(dist, dist_mask, bits, count);
      const uint32_t distance = ValueOf(d) + Low(bits, ExtraOf(d));
      bits >>= ExtraOf(d);
      count -= ExtraOf(d);
      const uint64_t done = static_cast<uint64_t>(w - first);
      if (KindOf(d) != kBase || distance > window ||
          distance > written_before + done) {
        Fail();
        break;
      }
      if (kDirect && distance > done) {
        CopyFromHistory(w, distance, length, done);
      } else {
        CopyMatch(w, distance, length);
      }
      w += length;
    } else {
      if (KindOf(e) == kEnd) {
        mode_ = last_block_ ? Mode::kTrailer : Mode::kBlockHeader;
      } else {
        Fail();
      }
      break;
    }
    if (end - p < 8 || w >= limit) break;
    refill();
    e = lit[bits & lit_mask];
  }
  bits_ = bits;
  count_ = count;
  c.p = p;
  return w;
}

// The match's source begins `distance - done` bytes before the end of the
// buffer, which holds the window, and may run on into what this call wrote.
void DeflateStream::CopyFromHistory(uint8_t* w, uint32_t distance,
                                    uint32_t length, uint64_t done) {
  const uint64_t in_buffer = distance - done;
  const uint8_t* const behind = buf_.get() + write_ - in_buffer;
  for (uint32_t i = 0; i < length; ++i) {
    w[i] = i < in_buffer ? behind[i] : *(w + i - distance);
  }
}

void DeflateStream::EndDirect(const uint8_t* first, const uint8_t* end) {
  const size_t n = static_cast<size_t>(end - first);
  adler_ = Adler32(adler_, first, n);
  // The buffer ends with the window again: the newest bytes, up to 32 KiB.
  const size_t taken = std::min(n, kHistory);
  const size_t keep = std::min(write_, kHistory - taken);
  std::memmove(buf_.get(), buf_.get() + write_ - keep, keep);
  std::memcpy(buf_.get() + keep, end - taken, taken);
  slid_ += write_ - keep + n - taken;
  write_ = read_ = checked_ = keep + taken;
}

bool DeflateStream::SlowSymbol(Cursor& c) {
  Refill(c);
  int used;
  const uint32_t e = Lookup(*lit_, bits_, &used);
  if (used > count_) return false;
  switch (KindOf(e)) {
    case kLiteral:
      write_ =
          static_cast<size_t>(PutLiterals(buf_.get() + write_, e) - buf_.get());
      break;
    case kEnd:
      mode_ = last_block_ ? Mode::kTrailer : Mode::kBlockHeader;
      break;
    case kBase: {
      int at = used + ExtraOf(e);
      if (at > count_) return false;
      const uint32_t length = ValueOf(e) + Low(bits_ >> used, ExtraOf(e));
      const uint32_t d = Lookup(*dist_, bits_ >> at, &used);
      at += used;
      if (at > count_) return false;
      if (KindOf(d) != kBase) {
        Fail();
        return true;
      }
      if (at + ExtraOf(d) > count_) return false;
      const uint32_t distance = ValueOf(d) + Low(bits_ >> at, ExtraOf(d));
      used = at + ExtraOf(d);
      if (!Match(length, distance)) return true;
      break;
    }
    default:
      Fail();
      return true;
  }
  bits_ >>= used;
  count_ -= used;
  return true;
}

bool DeflateStream::Codes(Cursor& c) {
  while (mode_ == Mode::kCodes && write_ < stop_) {
    if (c.end - c.p >= 8) {
      uint8_t* const w = buf_.get() + write_;
      write_ = static_cast<size_t>(
          FastCodes<false>(c, w, w, buf_.get() + stop_) - buf_.get());
    } else if (!SlowSymbol(c)) {
      return false;
    }
  }
  return true;
}

bool DeflateStream::Need(Cursor& c, int n) {
  if (count_ < n) Refill(c);
  return count_ >= n;
}

uint32_t DeflateStream::Take(int n) {
  const uint32_t v = static_cast<uint32_t>(Low(bits_, n));
  bits_ >>= n;
  count_ -= n;
  return v;
}

bool DeflateStream::PausesAt(const Cursor& c, Mode resume) {
  const uint64_t bit = 8 * (c.offset + static_cast<uint64_t>(c.p - c.begin)) -
                       static_cast<uint64_t>(count_);
  if (marks_ && (marks_->empty() || marks_->back().bit != bit)) {
    marks_->push_back(
        {bit, Decoded() + direct_bytes_, resume == Mode::kTrailer});
  }
  if (bit < pause_bit_) return false;
  paused_bit_ = bit;
  resume_mode_ = resume;
  mode_ = Mode::kPaused;
  return true;
}

void DeflateStream::PauseAt(uint64_t bit) {
  pause_bit_ = bit;
  if (mode_ == Mode::kPaused) mode_ = resume_mode_;
}

uint32_t DeflateStream::Adler() {
  adler_ = Adler32(adler_, buf_.get() + checked_, write_ - checked_);
  checked_ = write_;
  return adler_;
}

void DeflateStream::Restart(uint64_t bit, bool at_end, const uint8_t* window,
                            size_t window_size, uint64_t decoded,
                            uint32_t adler) {
  if (window) std::memcpy(buf_.get(), window, window_size);
  read_ = write_ = checked_ = window_size;
  slid_ = decoded - window_size;
  adler_ = adler;
  mode_ = at_end ? Mode::kTrailer : Mode::kBlockHeader;
  bits_ = 0;
  count_ = 0;
  carried_ = 0;
  taken_ = bit / 8;
  skip_bits_ = static_cast<int>(bit % 8);
  pause_bit_ = UINT64_MAX;
}

bool DeflateStream::BlockHeader(Cursor& c) {
  if (PausesAt(c, Mode::kBlockHeader)) return true;
  Refill(c);
  const Cursor start = c;
  const uint64_t bits = bits_;
  const int count = count_;
  if (WholeHeader(c)) return true;
  c = start;
  bits_ = bits;
  count_ = count;
  return false;
}

bool DeflateStream::WholeHeader(Cursor& c) {
  if (!Need(c, 3)) return false;
  last_block_ = Take(1) != 0;
  switch (Take(2)) {
    case 0: {
      Take(count_ & 7);
      if (!Need(c, 32)) return false;
      const uint32_t length = Take(16);
      if (length != (~Take(16) & 0xffff)) {
        Fail();
        return true;
      }
      stored_left_ = length;
      mode_ = Mode::kStored;
      return true;
    }
    case 1:
      lit_ = &FixedLiterals();
      dist_ = &FixedDistances();
      mode_ = Mode::kCodes;
      return true;
    case 2:
      return DynamicCodes(c);
    default:
      Fail();
      return true;
  }
}

bool DeflateStream::DynamicCodes(Cursor& c) {
  if (!Need(c, 14)) return false;
  const int lit_count = static_cast<int>(Take(5)) + 257;
  const int dist_count = static_cast<int>(Take(5)) + 1;
  const int code_count = static_cast<int>(Take(4)) + 4;
  if (lit_count > 286 || dist_count > 30) {
    Fail();
    return true;
  }
  static constexpr uint8_t kOrder[19] = {16, 17, 18, 0, 8,  7, 9,  6, 10, 5,
                                         11, 4,  12, 3, 13, 2, 14, 1, 15};
  uint8_t code_lengths[19] = {};
  for (int i = 0; i < code_count; ++i) {
    if (!Need(c, 3)) return false;
    code_lengths[kOrder[i]] = static_cast<uint8_t>(Take(3));
  }
  HuffmanTable codes;
  if (!BuildTable(code_lengths, 19, Code::kCodeLengths, codes)) {
    Fail();
    return true;
  }
  uint8_t lengths[286 + 30] = {};
  const int total = lit_count + dist_count;
  for (int i = 0; i < total;) {
    Refill(c);
    int used;
    const uint32_t symbol = LiteralBytes(Lookup(codes, bits_, &used));
    if (used > count_) return false;
    Take(used);
    if (symbol < 16) {
      lengths[i++] = static_cast<uint8_t>(symbol);
      continue;
    }
    const int extra = symbol == 16 ? 2 : symbol == 17 ? 3 : 7;
    if (!Need(c, extra)) return false;
    const int repeat = static_cast<int>(Take(extra)) + (symbol == 18 ? 11 : 3);
    if ((symbol == 16 && i == 0) || i + repeat > total) {
      Fail();
      return true;
    }
    std::fill(lengths + i, lengths + i + repeat,
              symbol == 16 ? lengths[i - 1] : 0);
    i += repeat;
  }
  if (lengths[256] == 0 ||
      !BuildTable(lengths, lit_count, Code::kLiteralsAndLengths,
                  dynamic_lit_) ||
      !BuildTable(lengths + lit_count, dist_count, Code::kDistances,
                  dynamic_dist_)) {
    Fail();
    return true;
  }
  lit_ = &dynamic_lit_;
  dist_ = &dynamic_dist_;
  mode_ = Mode::kCodes;
  return true;
}

bool DeflateStream::Stored(Cursor& c) {
  const size_t limit = stop_;
  while (stored_left_ > 0 && count_ >= 8 && write_ < limit) {
    buf_[write_++] = static_cast<uint8_t>(bits_);
    bits_ >>= 8;
    count_ -= 8;
    --stored_left_;
  }
  if (stored_left_ > 0 && count_ == 0) {
    // Past the bit buffer the bytes are copied as they stand.
    bits_ = 0;
    const size_t n = std::min<size_t>(
        {stored_left_, static_cast<size_t>(c.end - c.p), limit - write_});
    std::memcpy(buf_.get() + write_, c.p, n);
    c.p += n;
    write_ += n;
    stored_left_ -= static_cast<uint32_t>(n);
  }
  if (stored_left_ == 0) {
    mode_ = last_block_ ? Mode::kTrailer : Mode::kBlockHeader;
    return true;
  }
  return write_ >= limit;
}

bool DeflateStream::Trailer(Cursor& c) {
  bits_ >>= count_ & 7;
  count_ &= ~7;
  Refill(c);
  if (count_ < 32) return false;
  uint32_t expected = 0;
  for (int i = 0; i < 4; ++i) {
    expected = (expected << 8) | static_cast<uint32_t>(bits_ & 0xff);
    bits_ >>= 8;
    count_ -= 8;
  }
  // Whole bytes the bit buffer took past the stream are given back.
  c.p -= std::min<ptrdiff_t>(count_ >> 3, c.p - c.begin);
  bits_ = 0;
  count_ = 0;
  adler_ = Adler32(adler_, buf_.get() + checked_, write_ - checked_);
  checked_ = write_;
  mode_ = adler_ == expected ? Mode::kEnded : Mode::kBadCheck;
  return true;
}

bool DeflateStream::Run(Cursor& c) {
  while (write_ < stop_) {
    bool went_on = true;
    switch (mode_) {
      case Mode::kBlockHeader:
        went_on = BlockHeader(c);
        break;
      case Mode::kStored:
        went_on = Stored(c);
        break;
      case Mode::kCodes:
        went_on = Codes(c);
        break;
      case Mode::kTrailer:
        return PausesAt(c, Mode::kTrailer) || Trailer(c);
      default:
        return true;
    }
    if (!went_on) return false;
  }
  return true;
}

InflateStep DeflateStream::Decode(const uint8_t* in, size_t in_size,
                                  uint8_t* out, size_t out_size) {
  size_t produced = 0;
  // Where the bytes decoded straight into `out` begin, while they are.
  uint8_t* direct = nullptr;
  auto hand_out = [&] {
    const size_t n = std::min(write_ - read_, out_size - produced);
    if (n == 0) return;
    std::memcpy(out + produced, buf_.get() + read_, n);
    read_ += n;
    produced += n;
  };
  // Decodes and hands out until the output is full, the stream has ended
  // or failed (true), or a unit does not fit in the input (false).
  auto pump = [&](Cursor& c) {
    for (;;) {
      hand_out();
      if (produced == out_size) return true;
      if (mode_ == Mode::kEnded || mode_ == Mode::kBad ||
          mode_ == Mode::kBadCheck || mode_ == Mode::kPaused) {
        return true;
      }
      const size_t room = out_size - produced;
      const bool roomy =
          read_ == write_ && room >= kDirectRoom && c.end - c.p >= 8;
      // A block's header alone, so that its codes may go straight out.
      if (roomy && mode_ == Mode::kBlockHeader) {
        direct_bytes_ =
            direct ? static_cast<size_t>(out + produced - direct) : 0;
        const bool whole = BlockHeader(c);
        direct_bytes_ = 0;
        if (!whole) return false;
        continue;
      }
      if (roomy && mode_ == Mode::kCodes) {
        if (!direct) {
          adler_ = Adler32(adler_, buf_.get() + checked_, write_ - checked_);
          checked_ = write_;
          direct = out + produced;
        }
        uint8_t* const w = out + produced;
        produced = static_cast<size_t>(
            FastCodes<true>(c, direct, w, out + out_size - kMaxMatch - kSlack) -
            out);
        if (out + produced != w) continue;
      }
      if (direct) {
        EndDirect(direct, out + produced);
        direct = nullptr;
      }
      if (write_ >= kHistory + kSpan) Slide();
      // For a caller that gives large rooms, only what this one lacks is
      // decoded into the buffer: the rest may go straight to the next room.
      // Small rooms are served from the buffer, decoded far ahead.
      stop_ = out_size >= kDirectRoom
                  ? std::min(kHistory + kSpan, write_ + room)
                  : kHistory + kSpan;
      if (!Run(c)) {
        hand_out();
        return false;
      }
    }
  };

  auto end_direct = [&] {
    if (!direct) return;
    EndDirect(direct, out + produced);
    direct = nullptr;
  };

  size_t consumed = 0;
  if (skip_bits_ > 0 && in_size > 0) {
    bits_ = in[0] >> skip_bits_;
    count_ = 8 - skip_bits_;
    skip_bits_ = 0;
    consumed = 1;
  }
  if (carried_ > 0) {
    // A unit cut short last time: its bytes and the start of this input
    // are read as one.
    const size_t added = std::min(in_size, kCarry - carried_);
    if (added > 0) std::memcpy(carry_.data() + carried_, in, added);
    Cursor c{carry_.data(), carry_.data(), carry_.data() + carried_ + added,
             taken_ - carried_};
    const bool fitted = pump(c);
    end_direct();
    const size_t used = static_cast<size_t>(c.p - carry_.data());
    const bool over = mode_ == Mode::kEnded || mode_ == Mode::kBad ||
                      mode_ == Mode::kBadCheck;
    if (used < carried_ && !over) {
      if (!fitted && added < in_size) Fail();
      std::memmove(carry_.data(), carry_.data() + used,
                   carried_ + added - used);
      carried_ += added - used;
      consumed = added;
    } else {
      consumed = used > carried_ ? used - carried_ : 0;
      carried_ = 0;
    }
  }
  if (carried_ == 0 && produced < out_size) {
    Cursor c{in, in + consumed, in + in_size, taken_};
    const bool fitted = pump(c);
    end_direct();
    if (!fitted) {
      const size_t rest = static_cast<size_t>(c.end - c.p);
      if (rest > kLargestUnit) {
        Fail();
      } else {
        std::memcpy(carry_.data(), c.p, rest);
        carried_ = rest;
        c.p = c.end;
      }
    }
    consumed = static_cast<size_t>(c.p - in);
  }

  taken_ += consumed;
  InflateStep step{InflateStatus::kOk, consumed, produced};
  if (read_ < write_) return step;
  if (mode_ == Mode::kBad) {
    step.status = InflateStatus::kBadData;
  } else if (mode_ == Mode::kEnded || mode_ == Mode::kBadCheck) {
    step.status = mode_ == Mode::kEnded ? InflateStatus::kEnded
                                        : InflateStatus::kBadCheck;
  }
  return step;
}

}  // namespace lumeconv
