#pragma once

#include <cstddef>
#include <cstdint>

namespace lumeconv {

// Turns one decoded PNG row (grey, grey+alpha, RGB or RGBA; 8-bit, or 16-bit
// in native byte order) into 8-bit grey or RGB, composited onto white.
// Rounds once, at full precision.
void FlattenRow(const uint8_t* in, uint8_t* out, size_t pixels, int channels,
                int bit_depth);

}  // namespace lumeconv
