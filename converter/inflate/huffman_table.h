#pragma once

#include <cstdint>
#include <vector>

namespace lumeconv {

// The decoding tables of deflate's canonical Huffman codes, for
// DeflateStream. An entry: bits 0-5 the code's length (for a link: the
// primary bits; for literals: all their codes'), 6-7 how many literals it
// holds (1 to 3; 0 for any other kind). Literals are bytes 1-3, in order.
// Other kinds: bits 8-11 the extra bits to read (for a link: the sub-table's
// bits), 12-14 the kind, 16-31 the value (a base length or distance, or
// where a sub-table starts). The length comes first, so that it shifts the
// bits as it stands.
enum Kind : uint32_t { kLiteral, kBase, kEnd, kLink, kInvalid };

inline bool IsLiteral(uint32_t e) { return (e & 0xc0) != 0; }
inline Kind KindOf(uint32_t e) {
  return IsLiteral(e) ? kLiteral : static_cast<Kind>((e >> 12) & 7);
}
inline uint32_t LiteralsOf(uint32_t e) { return (e >> 6) & 3; }
inline uint32_t LiteralBytes(uint32_t e) { return e >> 8; }
inline uint32_t ValueOf(uint32_t e) { return e >> 16; }
inline int LengthOf(uint32_t e) { return static_cast<int>(e & 63); }
inline int ExtraOf(uint32_t e) { return static_cast<int>((e >> 8) & 15); }
inline uint64_t Low(uint64_t bits, int n) {
  return bits & ((uint64_t{1} << n) - 1);
}

struct HuffmanTable {
  std::vector<uint32_t> entries;
  int primary_bits = 0;
};

enum class Code { kCodeLengths, kLiteralsAndLengths, kDistances };

// Builds the table of a code from its code lengths, with zlib's rules: an
// over-subscribed set is refused, and so is an incomplete one but for a
// single code of length 1 (outside the code lengths' own code). A set
// without codes gives a table that refuses every symbol.
bool BuildTable(const uint8_t* lengths, int count, Code code,
                HuffmanTable& table);

// The codes of blocks with fixed codes.
const HuffmanTable& FixedLiterals();
const HuffmanTable& FixedDistances();

// Looks a symbol up in `bits`; `used` is set to the bits its code takes.
inline uint32_t Lookup(const HuffmanTable& table, uint64_t bits, int* used) {
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

}  // namespace lumeconv
