#pragma once

#include <array>
#include <cstdio>

namespace lumeconv {

// How often each Huffman symbol occurs in a JPEG's data: DC tables 0 and 1,
// then AC tables 0 and 1.
using SymbolCounts = std::array<std::array<long, 257>, 4>;

// Rewrites a baseline JPEG (as JpegWriter makes it, without restart
// markers) with Huffman tables optimised for its own symbols. The
// coefficients are untouched, so it decodes to the same pixels. Reads `in`
// from its start, twice (once when the symbols were counted as the data
// was written), and needs memory for neither the image nor its
// coefficients. Throws ConversionError.
void OptimiseHuffmanTables(FILE* in, FILE* out,
                           const SymbolCounts* counted = nullptr);

}  // namespace lumeconv
