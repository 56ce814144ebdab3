#include "symbol_tokens.h"

#include <cstring>

namespace lumeconv {

namespace {

// Canonical codes from the count of codes of each length, in the order of
// the table's symbols.
template <typename Set>
void Assign(const JHUFF_TBL& table, Set set) {
  uint32_t code = 0;
  int k = 0;
  for (int length = 1; length <= 16; ++length) {
    for (int i = 0; i < table.bits[length]; ++i) {
      set(table.huffval[k++], static_cast<uint16_t>(code++), length);
    }
    code <<= 1;
  }
}

}  // namespace

TokenCodes::TokenCodes(const JHUFF_TBL* const (&dc)[4],
                       const JHUFF_TBL* const (&ac)[4]) {
  for (uint32_t t = 0; t < 4; ++t) {
    if (dc[t]) {
      Assign(*dc[t], [&](int symbol, uint16_t code, int length) {
        codes_[t << 8 | symbol] = {code, static_cast<uint8_t>(length),
                                   static_cast<uint8_t>(symbol & 31)};
      });
    }
    if (ac[t]) {
      Assign(*ac[t], [&](int symbol, uint16_t code, int length) {
        codes_[(kAcTable + t) << 8 | symbol] = {
            code, static_cast<uint8_t>(length),
            static_cast<uint8_t>(symbol & 15)};
      });
    }
  }
}

std::vector<uint8_t> TokenCodes::Write(const uint32_t* tokens, size_t count,
                                       uint64_t bits) const {
  std::vector<uint8_t> out((bits + 7) / 8 + 8);
  uint8_t* to = out.data();
  // The newest `held` bits (fewer than 8 between tokens) are the low ones;
  // those above were written. After each token the whole bytes are stored
  // at once, eight bytes every time: a branch on whether there are enough
  // to store was mispredicted one token in four.
  uint64_t acc = 0;
  int held = 0;
  for (size_t i = 0; i < count; ++i) {
    const uint32_t token = tokens[i];
    const Code c = codes_[token >> 16];
    const int length = c.length + c.extra;
    acc = acc << length | (uint64_t{c.code} << c.extra | (token & 0xffff));
    held += length;
    const uint64_t word = __builtin_bswap64(acc << (64 - held));
    std::memcpy(to, &word, 8);
    to += held >> 3;
    held &= 7;
  }
  // Ones after the last bits, to the end of the byte.
  if (held > 0) {
    *to++ = static_cast<uint8_t>(acc << (8 - held) | 0xffu >> held);
  }
  out.resize(static_cast<size_t>(to - out.data()));
  return out;
}

}  // namespace lumeconv
