#include "huffman_table.h"

#include <algorithm>
#include <array>

namespace lumeconv {

namespace {

constexpr int kMaxBits = 15;
constexpr int kLitBits = 11;
constexpr int kDistBits = 8;

constexpr uint32_t MakeEntry(Kind kind, uint32_t value, uint32_t extra = 0,
                             uint32_t length = 0) {
  return value << 16 | uint32_t{kind} << 12 | extra << 8 | length;
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

bool Build(const uint8_t* lengths, int count, int primary_bits,
           uint32_t (*meaning)(int), bool code_lengths, HuffmanTable& table) {
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
// before. The entries are visited from the last, so the single entry each
// one reads (at a lower index) is still as Build left it; free of branches,
// as whether a pair fits follows no pattern and a table is built for every
// block.
void PairLiterals(HuffmanTable& table) {
  const int primary = table.primary_bits;
  uint32_t* const entries = table.entries.data();
  for (uint32_t i = (1u << primary); i-- > 0;) {
    const uint32_t first = entries[i];
    const int used = LengthOf(first);
    const uint32_t second = entries[i >> used];
    const bool pair = IsLiteral(first) & IsLiteral(second) &
                      (used + LengthOf(second) <= primary);
    const uint32_t both = (ValueOf(first) | ValueOf(second) << 8) << 16 |
                          0x8000 |
                          static_cast<uint32_t>(used + LengthOf(second));
    entries[i] = pair ? both : first;
  }
}

}  // namespace

bool BuildTable(const uint8_t* lengths, int count, Code code,
                HuffmanTable& table) {
  switch (code) {
    case Code::kCodeLengths:
      return Build(lengths, count, 7, CodeLengthSymbol, true, table);
    case Code::kLiteralsAndLengths:
      if (!Build(lengths, count, kLitBits, LiteralOrLength, false, table)) {
        return false;
      }
      PairLiterals(table);
      return true;
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
