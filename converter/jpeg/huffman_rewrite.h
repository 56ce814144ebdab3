#pragma once

#include <cstdio>

namespace lumeconv {

// Rewrites a baseline JPEG (as JpegWriter makes it, without restart
// markers) with Huffman tables optimised for its own symbols. The
// coefficients are untouched, so it decodes to the same pixels. Reads `in`
// from its start, twice, and needs memory for neither the image nor its
// coefficients. Throws ConversionError.
void OptimiseHuffmanTables(FILE* in, FILE* out);

}  // namespace lumeconv
