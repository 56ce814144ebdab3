#pragma once

#include <array>
#include <cstdint>
#include <optional>

namespace lumeconv {

// A Huffman code as a JPEG file gives it: how many codes there are of each
// length, and the symbols in the order of their codes.
struct HuffmanCode {
  std::array<uint8_t, 17> bits{};  // bits[n]: codes of n bits
  std::array<uint8_t, 256> values{};
  int count = 0;  // the symbols in `values`
};

// The code for these counts of the 256 symbols by the JPEG standard's
// procedure (Annex K.2): a Huffman code with ties broken towards the higher
// symbol, lengths limited to 16, the all-ones code left free. The same code
// as libjpeg's while the counts add up to less than 10^9, as those of any
// image it optimises in memory do; libjpeg scans all symbols twice for each
// merge, this takes the two smallest from a heap. Nothing when a length
// before the limit would pass 32, which libjpeg refuses.
std::optional<HuffmanCode> OptimalCode(const long* counts);

}  // namespace lumeconv
