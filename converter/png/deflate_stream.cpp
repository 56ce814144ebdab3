#include "deflate_stream.h"

#include <algorithm>
#include <cstring>

namespace lumeconv {

namespace {

constexpr int kMaxBits = 15;
constexpr size_t kHistory = size_t{1} << 15;
// Decoded bytes between two slides of the window to the buffer's front.
constexpr size_t kSpan = size_t{1} << 18;
constexpr size_t kMaxMatch = 258;
// Room past a match's end, for copies eight bytes at a time.
constexpr size_t kSlack = 16;
// The largest unit is a block header of codes: under 600 bytes.
constexpr size_t kCarry = 2048;
constexpr size_t kLargestUnit = 1024;
constexpr int kLitBits = 11;
constexpr int kDistBits = 8;

// A table entry: bits 0-5 the code's length (for a link: the primary
// bits), 8-11 the extra bits to read (for a link: the sub-table's bits),
// 12-14 the kind, 15 set for two literals, 16-31 the value (one literal or
// two, a base length or distance, or where a sub-table starts). The length
// comes first, so that it shifts the bits as it stands.
enum Kind : uint32_t { kLiteral, kBase, kEnd, kLink, kInvalid };

constexpr uint32_t MakeEntry(Kind kind, uint32_t value, uint32_t extra = 0,
                             uint32_t length = 0) {
  return value << 16 | uint32_t{kind} << 12 | extra << 8 | length;
}
inline Kind KindOf(uint32_t e) { return static_cast<Kind>((e >> 12) & 7); }
inline bool IsLiteral(uint32_t e) { return (e & 0x7000) == 0; }
// How many literals a literal entry holds: 1 or 2.
inline uint32_t LiteralsOf(uint32_t e) { return 1 + ((e >> 15) & 1); }
inline uint32_t ValueOf(uint32_t e) { return e >> 16; }
inline int LengthOf(uint32_t e) { return static_cast<int>(e & 63); }
inline int ExtraOf(uint32_t e) { return static_cast<int>((e >> 8) & 15); }
inline uint64_t Low(uint64_t bits, int n) {
  return bits & ((uint64_t{1} << n) - 1);
}

constexpr uint16_t kLengthBase[29] = {
    3,  4,  5,  6,  7,  8,  9,  10, 11,  13,  15,  17,  19,  23, 27,
    31, 35, 43, 51, 59, 67, 83, 99, 115, 131, 163, 195, 227, 258};
constexpr uint8_t kLengthExtra[29] = {0, 0, 0, 0, 0, 0, 0, 0, 1, 1,
                                      1, 1, 2, 2, 2, 2, 3, 3, 3, 3,
                                      4, 4, 4, 4, 5, 5, 5, 5, 0};
constexpr uint16_t kDistBase[30] = {
    1,    2,    3,    4,    5,    7,    9,    13,    17,    25,
    33,   49,   65,   97,   129,  193,  257,  385,   513,   769,
    1025, 1537, 2049, 3073, 4097, 6145, 8193, 12289, 16385, 24577};
constexpr uint8_t kDistExtra[30] = {0, 0, 0,  0,  1,  1,  2,  2,  3,  3,
                                    4, 4, 5,  5,  6,  6,  7,  7,  8,  8,
                                    9, 9, 10, 10, 11, 11, 12, 12, 13, 13};

uint32_t LiteralOrLength(int symbol) {
  if (symbol < 256) return MakeEntry(kLiteral, symbol);
  if (symbol == 256) return MakeEntry(kEnd, 0);
  if (symbol < 286) {
    return MakeEntry(kBase, kLengthBase[symbol - 257],
                     kLengthExtra[symbol - 257]);
  }
  return MakeEntry(kInvalid, 0);
}

uint32_t Distance(int symbol) {
  if (symbol < 30) {
    return MakeEntry(kBase, kDistBase[symbol], kDistExtra[symbol]);
  }
  return MakeEntry(kInvalid, 0);
}

uint32_t CodeLengthSymbol(int symbol) { return MakeEntry(kLiteral, symbol); }

uint32_t Reversed(uint32_t code, int length) {
  uint32_t out = 0;
  for (int i = 0; i < length; ++i) {
    out = (out << 1) | (code & 1);
    code >>= 1;
  }
  return out;
}

// Builds the table of a canonical Huffman code from its code lengths, with
// zlib's rules: an over-subscribed set is refused, and so is an incomplete
// one but for a single code of length 1 (outside the code lengths' own
// code). A set without codes gives a table that refuses every symbol.
bool BuildTable(const uint8_t* lengths, int count, int primary_bits,
                uint32_t (*meaning)(int), bool code_lengths,
                DeflateStream::Table& table) {
  int per_length[kMaxBits + 1] = {};
  for (int s = 0; s < count; ++s) ++per_length[lengths[s]];
  per_length[0] = 0;
  int max = kMaxBits;
  while (max > 0 && per_length[max] == 0) --max;
  int left = 1;
  for (int length = 1; length <= kMaxBits; ++length) {
    left = 2 * left - per_length[length];
    if (left < 0) return false;
  }
  if (max == 0 && code_lengths) return false;
  if (max > 0 && left > 0 && (code_lengths || max != 1)) return false;

  const int primary = std::max(1, std::min(primary_bits, max));
  const int sub_bits = std::max(0, max - primary);
  table.primary_bits = primary;
  table.entries.assign(size_t{1} << primary,
                       MakeEntry(kInvalid, 0, 0, primary));
  uint32_t next[kMaxBits + 1] = {};
  uint32_t code = 0;
  for (int length = 1; length <= kMaxBits; ++length) {
    code = (code + per_length[length - 1]) << 1;
    next[length] = code;
  }
  for (int s = 0; s < count; ++s) {
    const int length = lengths[s];
    if (length == 0) continue;
    const uint32_t reversed = Reversed(next[length]++, length);
    const uint32_t entry = meaning(s);
    if (length <= primary) {
      for (uint32_t i = reversed; i < (1u << primary); i += 1u << length) {
        table.entries[i] = entry | static_cast<uint32_t>(length);
      }
      continue;
    }
    const uint32_t prefix = reversed & ((1u << primary) - 1);
    if (KindOf(table.entries[prefix]) != kLink) {
      const size_t start = table.entries.size();
      table.entries[prefix] =
          MakeEntry(kLink, static_cast<uint32_t>(start), sub_bits, primary);
      table.entries.resize(start + (size_t{1} << sub_bits),
                           MakeEntry(kInvalid, 0, 0, sub_bits));
    }
    const uint32_t start = ValueOf(table.entries[prefix]);
    const int rest = length - primary;
    for (uint32_t i = reversed >> primary; i < (1u << sub_bits);
         i += 1u << rest) {
      table.entries[start + i] = entry | static_cast<uint32_t>(rest);
    }
  }
  return true;
}

// Where a short literal code leaves room in the primary bits for the whole
// code of another literal, the entry holds both: photos compressed without
// matches are literals one after another, and each lookup waits on the one
// before.
void PairLiterals(DeflateStream::Table& table) {
  const int primary = table.primary_bits;
  const uint32_t size = 1u << primary;
  uint32_t single[1u << kLitBits];
  std::copy_n(table.entries.begin(), size, single);
  for (uint32_t i = 0; i < size; ++i) {
    const uint32_t first = single[i];
    const int used = LengthOf(first);
    if (KindOf(first) != kLiteral || used >= primary) continue;
    const uint32_t second = single[i >> used];
    if (KindOf(second) != kLiteral || LengthOf(second) > primary - used) {
      continue;
    }
    table.entries[i] = (ValueOf(first) | ValueOf(second) << 8) << 16 | 0x8000 |
                       static_cast<uint32_t>(used + LengthOf(second));
  }
}

struct FixedTables {
  DeflateStream::Table lit;
  DeflateStream::Table dist;
  FixedTables() {
    uint8_t lengths[288];
    std::fill(lengths, lengths + 144, 8);
    std::fill(lengths + 144, lengths + 256, 9);
    std::fill(lengths + 256, lengths + 280, 7);
    std::fill(lengths + 280, lengths + 288, 8);
    BuildTable(lengths, 288, kLitBits, LiteralOrLength, false, lit);
    PairLiterals(lit);
    std::fill(lengths, lengths + 32, 5);
    BuildTable(lengths, 32, kDistBits, Distance, false, dist);
  }
};

const FixedTables& Fixed() {
  static const FixedTables tables;
  return tables;
}

inline uint64_t Load64(const uint8_t* p) {
  uint64_t v;
  std::memcpy(&v, p, sizeof v);
  return v;
}

// Looks a symbol up in `bits`; `used` is set to the bits its code takes.
inline uint32_t Lookup(const DeflateStream::Table& table, uint64_t bits,
                       int* used) {
  const uint32_t* entries = table.entries.data();
  uint32_t e = entries[Low(bits, table.primary_bits)];
  *used = 0;
  if (KindOf(e) == kLink) {
    *used = LengthOf(e);
    e = entries[ValueOf(e) + Low(bits >> *used, ExtraOf(e))];
  }
  *used += LengthOf(e);
  return e;
}

}  // namespace

struct DeflateStream::Cursor {
  const uint8_t* begin;
  const uint8_t* p;
  const uint8_t* end;
};

DeflateStream::DeflateStream(uint32_t window)
    : window_(window),
      buf_(kHistory + kSpan + kMaxMatch + kSlack),
      carry_(kCarry) {}

DeflateStream::~DeflateStream() = default;

void DeflateStream::Refill(Cursor& c) {
  while (count_ <= 56 && c.p < c.end) {
    bits_ |= uint64_t{*c.p++} << count_;
    count_ += 8;
  }
}

void DeflateStream::Slide() {
  adler_ = Adler32(adler_, buf_.data() + checked_, write_ - checked_);
  checked_ = write_;
  const size_t keep_from =
      std::min(read_, write_ > kHistory ? write_ - kHistory : size_t{0});
  if (keep_from == 0) return;
  std::memmove(buf_.data(), buf_.data() + keep_from, write_ - keep_from);
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
  uint8_t* to = buf_.data() + write_;
  const uint8_t* from = to - distance;
  if (distance >= 8) {
    for (uint32_t i = 0; i < length; i += 8) std::memcpy(to + i, from + i, 8);
  } else if (distance == 1) {
    std::memset(to, *from, length);
  } else {
    for (uint32_t i = 0; i < length; ++i) to[i] = from[i];
  }
  write_ += length;
  return true;
}

// Everything the loop reads is held in locals: a store of a decoded byte
// could otherwise stand for a change to any of them.
void DeflateStream::FastCodes(Cursor& c) {
  const uint32_t* const lit = lit_->entries.data();
  const uint64_t lit_mask = (uint64_t{1} << lit_->primary_bits) - 1;
  const uint32_t* const dist = dist_->entries.data();
  const uint64_t dist_mask = (uint64_t{1} << dist_->primary_bits) - 1;
  uint8_t* const start = buf_.data();
  uint8_t* const limit = start + kHistory + kSpan;
  uint8_t* w = start + write_;
  const uint64_t window = window_;
  const uint64_t written_before = slid_ + write_;
  uint64_t bits = bits_;
  int count = count_;
  const uint8_t* p = c.p;
  const uint8_t* const end = c.end;
  while (end - p >= 8 && w < limit) {
    bits |= Load64(p) << count;
    p += (63 - count) >> 3;
    count |= 56;
    uint32_t e = lit[bits & lit_mask];
    if (KindOf(e) == kLink) {
      bits >>= LengthOf(e);
      count -= LengthOf(e);
      e = lit[ValueOf(e) + Low(bits, ExtraOf(e))];
    }
    bits >>= LengthOf(e);
    count -= LengthOf(e);
    if (IsLiteral(e)) {
      // One literal or two, written as two bytes either way.
      w[0] = static_cast<uint8_t>(ValueOf(e));
      w[1] = static_cast<uint8_t>(ValueOf(e) >> 8);
      w += LiteralsOf(e);
      // More while their code is surely in the bits.
      const uint32_t next = lit[bits & lit_mask];
      if (count >= kMaxBits && IsLiteral(next)) {
        bits >>= LengthOf(next);
        count -= LengthOf(next);
        w[0] = static_cast<uint8_t>(ValueOf(next));
        w[1] = static_cast<uint8_t>(ValueOf(next) >> 8);
        w += LiteralsOf(next);
      }
      continue;
    }
    if (KindOf(e) != kBase) {
      if (KindOf(e) == kEnd) {
        mode_ = last_block_ ? Mode::kTrailer : Mode::kBlockHeader;
      } else {
        Fail();
      }
      break;
    }
    const uint32_t length = ValueOf(e) + Low(bits, ExtraOf(e));
    bits >>= ExtraOf(e);
    count -= ExtraOf(e);
    uint32_t d = dist[bits & dist_mask];
    if (KindOf(d) == kLink) {
      bits >>= LengthOf(d);
      count -= LengthOf(d);
      d = dist[ValueOf(d) + Low(bits, ExtraOf(d))];
    }
    bits >>= LengthOf(d);
    count -= LengthOf(d);
    const uint32_t distance = ValueOf(d) + Low(bits, ExtraOf(d));
    bits >>= ExtraOf(d);
    count -= ExtraOf(d);
    const uint64_t written = written_before + (w - start - write_);
    if (KindOf(d) != kBase || distance > window || distance > written) {
      Fail();
      break;
    }
    const uint8_t* from = w - distance;
    if (distance >= 8) {
      for (uint32_t i = 0; i < length; i += 8) std::memcpy(w + i, from + i, 8);
    } else if (distance == 1) {
      std::memset(w, *from, length);
    } else {
      for (uint32_t i = 0; i < length; ++i) w[i] = from[i];
    }
    w += length;
  }
  write_ = static_cast<size_t>(w - start);
  bits_ = bits;
  count_ = count;
  c.p = p;
}

bool DeflateStream::SlowSymbol(Cursor& c) {
  Refill(c);
  int used;
  const uint32_t e = Lookup(*lit_, bits_, &used);
  if (used > count_) return false;
  switch (KindOf(e)) {
    case kLiteral:
      buf_[write_] = static_cast<uint8_t>(ValueOf(e));
      buf_[write_ + 1] = static_cast<uint8_t>(ValueOf(e) >> 8);
      write_ += LiteralsOf(e);
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
  const size_t limit = kHistory + kSpan;
  while (mode_ == Mode::kCodes && write_ < limit) {
    if (c.end - c.p >= 8) {
      FastCodes(c);
    } else if (!SlowSymbol(c)) {
      return false;
    }
  }
  return true;
}

bool DeflateStream::BlockHeader(Cursor& c) {
  Refill(c);
  const Cursor start = c;
  const uint64_t bits = bits_;
  const int count = count_;
  auto short_of_input = [&] {
    c = start;
    bits_ = bits;
    count_ = count;
    return false;
  };
  auto need = [&](int n) {
    if (count_ < n) Refill(c);
    return count_ >= n;
  };
  auto take = [&](int n) {
    const uint32_t v = static_cast<uint32_t>(Low(bits_, n));
    bits_ >>= n;
    count_ -= n;
    return v;
  };
  if (!need(3)) return short_of_input();
  last_block_ = take(1) != 0;
  switch (take(2)) {
    case 0: {
      take(count_ & 7);
      if (!need(32)) return short_of_input();
      const uint32_t length = take(16);
      if (length != (~take(16) & 0xffff)) {
        Fail();
        return true;
      }
      stored_left_ = length;
      mode_ = Mode::kStored;
      return true;
    }
    case 1:
      lit_ = &Fixed().lit;
      dist_ = &Fixed().dist;
      mode_ = Mode::kCodes;
      return true;
    case 2:
      break;
    default:
      Fail();
      return true;
  }

  if (!need(14)) return short_of_input();
  const int lit_count = static_cast<int>(take(5)) + 257;
  const int dist_count = static_cast<int>(take(5)) + 1;
  const int code_count = static_cast<int>(take(4)) + 4;
  if (lit_count > 286 || dist_count > 30) {
    Fail();
    return true;
  }
  static constexpr uint8_t kOrder[19] = {16, 17, 18, 0, 8,  7, 9,  6, 10, 5,
                                         11, 4,  12, 3, 13, 2, 14, 1, 15};
  uint8_t code_lengths[19] = {};
  for (int i = 0; i < code_count; ++i) {
    if (!need(3)) return short_of_input();
    code_lengths[kOrder[i]] = static_cast<uint8_t>(take(3));
  }
  Table codes;
  if (!BuildTable(code_lengths, 19, 7, CodeLengthSymbol, true, codes)) {
    Fail();
    return true;
  }
  uint8_t lengths[286 + 30] = {};
  const int total = lit_count + dist_count;
  for (int i = 0; i < total;) {
    Refill(c);
    int used;
    const uint32_t e = Lookup(codes, bits_, &used);
    if (used > count_) return short_of_input();
    take(used);
    const uint32_t symbol = ValueOf(e);
    if (symbol < 16) {
      lengths[i++] = static_cast<uint8_t>(symbol);
      continue;
    }
    const int extra = symbol == 16 ? 2 : symbol == 17 ? 3 : 7;
    if (!need(extra)) return short_of_input();
    const int repeat = static_cast<int>(take(extra)) + (symbol == 18 ? 11 : 3);
    if ((symbol == 16 && i == 0) || i + repeat > total) {
      Fail();
      return true;
    }
    const uint8_t value = symbol == 16 ? lengths[i - 1] : 0;
    std::fill(lengths + i, lengths + i + repeat, value);
    i += repeat;
  }
  if (lengths[256] == 0 ||
      !BuildTable(lengths, lit_count, kLitBits, LiteralOrLength, false,
                  dynamic_lit_) ||
      !BuildTable(lengths + lit_count, dist_count, kDistBits, Distance, false,
                  dynamic_dist_)) {
    Fail();
    return true;
  }
  PairLiterals(dynamic_lit_);
  lit_ = &dynamic_lit_;
  dist_ = &dynamic_dist_;
  mode_ = Mode::kCodes;
  return true;
}

bool DeflateStream::Stored(Cursor& c) {
  const size_t limit = kHistory + kSpan;
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
    std::memcpy(buf_.data() + write_, c.p, n);
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
  adler_ = Adler32(adler_, buf_.data() + checked_, write_ - checked_);
  checked_ = write_;
  mode_ = adler_ == expected ? Mode::kEnded : Mode::kBadCheck;
  return true;
}

bool DeflateStream::Run(Cursor& c) {
  const size_t limit = kHistory + kSpan;
  while (write_ < limit) {
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
        return Trailer(c);
      default:
        return true;
    }
    if (!went_on) return false;
  }
  return true;
}

Inflater::Step DeflateStream::Decode(const uint8_t* in, size_t in_size,
                                     uint8_t* out, size_t out_size) {
  size_t produced = 0;
  auto hand_out = [&] {
    const size_t n = std::min(write_ - read_, out_size - produced);
    if (n == 0) return;
    std::memcpy(out + produced, buf_.data() + read_, n);
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
          mode_ == Mode::kBadCheck) {
        return true;
      }
      if (write_ >= kHistory + kSpan) Slide();
      if (!Run(c)) {
        hand_out();
        return false;
      }
    }
  };

  size_t consumed = 0;
  if (carried_ > 0) {
    // A unit cut short last time: its bytes and the start of this input
    // are read as one.
    const size_t added = std::min(in_size, kCarry - carried_);
    if (added > 0) std::memcpy(carry_.data() + carried_, in, added);
    Cursor c{carry_.data(), carry_.data(), carry_.data() + carried_ + added};
    const bool fitted = pump(c);
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
    Cursor c{in, in + consumed, in + in_size};
    if (!pump(c)) {
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

  Inflater::Step step{Inflater::Status::kOk, consumed, produced};
  if (read_ < write_) return step;
  if (mode_ == Mode::kBad) {
    step.status = Inflater::Status::kBadData;
  } else if (mode_ == Mode::kEnded || mode_ == Mode::kBadCheck) {
    step.status = mode_ == Mode::kEnded ? Inflater::Status::kEnded
                                        : Inflater::Status::kBadCheck;
  }
  return step;
}

}  // namespace lumeconv
