#include "huffman_table.h"

#include <algorithm>
#include <array>
#include <cstring>

namespace lumeconv {

namespace {

constexpr int kMaxBits = 15;
constexpr int kLitBits = 11;
constexpr int kDistBits = 8;

constexpr uint32_t MakeEntry(Kind kind, uint32_t value, uint32_t extra = 0,
                             uint32_t length = 0) {
  return value << 16 | uint32_t{kind} << 12 | extra << 8 | length;
}

constexpr uint32_t LiteralEntry(uint32_t bytes, uint32_t count,
                                uint32_t length) {
  return bytes << 8 | count << 6 | length;
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
  if (symbol < 256) return LiteralEntry(symbol, 1, 0);
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

uint32_t CodeLengthSymbol(int symbol) { return LiteralEntry(symbol, 1, 0); }

constexpr auto kReversedBytes = [] {
  std::array<uint8_t, 256> table{};
  for (int b = 0; b < 256; ++b) {
    for (int i = 0; i < 8; ++i) table[b] |= ((b >> i) & 1) << (7 - i);
  }
  return table;
}();

// The code's bits in the opposite order: deflate sends a code's first bit
// first, and the table is indexed by the bits as they arrive.
uint32_t Reversed(uint32_t code, int length) {
  const uint32_t whole = uint32_t{kReversedBytes[code & 0xff]} << 8 |
                         kReversedBytes[(code >> 8) & 0xff];
  return whole >> (16 - length);
}

// The literals whose codes fit in the first table, in the order of their
// codes (so the shortest first): where each code's entries begin, and its
// length.
struct ShortLiterals {
  int count = 0;
  uint16_t reversed[256];
  uint8_t length[256];
};

bool Build(const uint8_t* lengths, int count, int primary_bits,
           uint32_t (*meaning)(int), bool code_lengths, HuffmanTable& table,
           ShortLiterals* short_literals = nullptr) {
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
  // Every sub-table hangs from a first-table entry that no shorter code
  // takes: room for that many is made at once, rather than table by table.
  uint32_t short_codes = 0;
  for (int length = 1; length <= primary; ++length) {
    short_codes += static_cast<uint32_t>(per_length[length])
                   << (primary - length);
  }
  const size_t first_size = size_t{1} << primary;
  const size_t subs = sub_bits > 0 ? first_size - short_codes : 0;
  table.entries.resize(first_size + (subs << sub_bits));
  uint32_t* const entries = table.entries.data();
  std::fill(entries + first_size, entries + table.entries.size(),
            MakeEntry(kInvalid, 0, 0, sub_bits));

  // The symbols by length, in order within each: the order of their codes.
  int first_of[kMaxBits + 2] = {};
  for (int length = 1; length <= kMaxBits; ++length) {
    first_of[length + 1] = first_of[length] + per_length[length];
  }
  int place[kMaxBits + 1];
  std::copy_n(first_of, kMaxBits + 1, place);
  uint16_t by_code[288];
  for (int s = 0; s < count; ++s) {
    if (lengths[s] != 0)
      by_code[place[lengths[s]]++] = static_cast<uint16_t>(s);
  }

  // The first table grows one length at a time, doubled before the codes
  // of the next length go in: each short code is written once and copied
  // on with the rest, not written to every entry it fills.
  entries[0] = MakeEntry(kInvalid, 0, 0, primary);
  size_t size = 1;
  uint32_t code = 0;
  for (int length = 1; length <= primary; ++length) {
    std::memcpy(entries + size, entries, size * sizeof *entries);
    size *= 2;
    for (int j = first_of[length]; j < first_of[length + 1]; ++j) {
      const uint32_t reversed = Reversed(code++, length);
      entries[reversed] = meaning(by_code[j]) | static_cast<uint32_t>(length);
      if (short_literals && by_code[j] < 256) {
        const int n = short_literals->count++;
        short_literals->reversed[n] = static_cast<uint16_t>(reversed);
        short_literals->length[n] = static_cast<uint8_t>(length);
      }
    }
    code <<= 1;
  }
  size_t next_sub = first_size;
  for (int length = primary + 1; length <= max; ++length) {
    const int rest = length - primary;
    for (int j = first_of[length]; j < first_of[length + 1]; ++j) {
      const uint32_t reversed = Reversed(code++, length);
      const uint32_t prefix = reversed & (first_size - 1);
      if (KindOf(entries[prefix]) != kLink) {
        entries[prefix] = MakeEntry(kLink, static_cast<uint32_t>(next_sub),
                                    sub_bits, primary);
        next_sub += size_t{1} << sub_bits;
      }
      uint32_t* const sub = entries + ValueOf(entries[prefix]);
      const uint32_t entry = meaning(by_code[j]) | static_cast<uint32_t>(rest);
      for (uint32_t i = reversed >> primary; i < (1u << sub_bits);
           i += 1u << rest) {
        sub[i] = entry;
      }
    }
    code <<= 1;
  }
  return true;
}

// Where a short literal code leaves room in the primary bits for the whole
// codes of one or two more literals, the entry holds them all: photos
// compressed without matches are literals one after another, and each
// lookup waits on the one before. A table is built for every block (every
// 8 KiB of output in some optimisers' streams), so what may follow a first
// literal is worked out once for all of them: for the bits after it, the
// literals whose codes they begin with and how many bits those take. Each
// first literal then adds its own to every entry its code begins, when the
// rest fits beside it.
void JoinLiterals(const ShortLiterals& literals, HuffmanTable& table) {
  if (literals.count == 0) return;
  const int primary = table.primary_bits;
  const int shortest = literals.length[0];
  // No literal's code is short enough to follow another.
  if (2 * shortest > primary) return;
  uint32_t* const entries = table.entries.data();
  // For the bits after a first literal: the one or two literals that follow
  // (as an entry without the first) and the bits they take, more than any
  // room when they are not literals. Read before any entry is joined.
  const uint32_t most = 1u << (primary - shortest);
  uint32_t rest[2][1u << kLitBits];
  uint8_t needs[2][1u << kLitBits];
  for (uint32_t k = 0; k < most; ++k) {
    const uint32_t second = entries[k];
    const uint32_t third = entries[k >> LengthOf(second)];
    const uint32_t two = LiteralBytes(second) << 8;
    rest[0][k] = LiteralEntry(two, 1, LengthOf(second));
    rest[1][k] = LiteralEntry(two | LiteralBytes(third) << 16, 2,
                              LengthOf(second) + LengthOf(third));
    needs[0][k] = IsLiteral(second) ? LengthOf(rest[0][k]) : kMaxBits + 1;
    needs[1][k] = IsLiteral(second) & IsLiteral(third) ? LengthOf(rest[1][k])
                                                       : kMaxBits + 1;
  }
  // A first literal's own entry is untouched until its turn: no other
  // code begins its entries.
  for (int n = 0; n < literals.count; ++n) {
    const int length = literals.length[n];
    if (length + shortest > primary) break;
    const uint32_t reversed = literals.reversed[n];
    const uint32_t first = entries[reversed];
    const uint32_t left = static_cast<uint32_t>(primary - length);
    for (uint32_t k = 0; k < (1u << left); ++k) {
      uint32_t e = first;
      if (needs[0][k] <= left) e = first + rest[0][k];
      if (needs[1][k] <= left) e = first + rest[1][k];
      entries[reversed | k << length] = e;
    }
  }
}

}  // namespace

bool BuildTable(const uint8_t* lengths, int count, Code code,
                HuffmanTable& table) {
  switch (code) {
    case Code::kCodeLengths:
      return Build(lengths, count, 7, CodeLengthSymbol, true, table);
    case Code::kLiteralsAndLengths: {
      ShortLiterals literals;
      if (!Build(lengths, count, kLitBits, LiteralOrLength, false, table,
                 &literals)) {
        return false;
      }
      JoinLiterals(literals, table);
      return true;
    }
    default:
      return Build(lengths, count, kDistBits, Distance, false, table);
  }
}

namespace {

struct FixedTables {
  HuffmanTable literals;
  HuffmanTable distances;
  FixedTables() {
    uint8_t lengths[288];
    std::fill(lengths, lengths + 144, 8);
    std::fill(lengths + 144, lengths + 256, 9);
    std::fill(lengths + 256, lengths + 280, 7);
    std::fill(lengths + 280, lengths + 288, 8);
    BuildTable(lengths, 288, Code::kLiteralsAndLengths, literals);
    // 32 codes, as zlib has them: the last two decode to no distance.
    std::fill(lengths, lengths + 32, 5);
    BuildTable(lengths, 32, Code::kDistances, distances);
  }
};

const FixedTables& Fixed() {
  static const FixedTables tables;
  return tables;
}

}  // namespace

const HuffmanTable& FixedLiterals() { return Fixed().literals; }
const HuffmanTable& FixedDistances() { return Fixed().distances; }

}  // namespace lumeconv
