#pragma once

#include <cstddef>
#include <cstdint>

namespace lumeconv {

// Undoes the PNG filter of one row in place. `prior` is the row above,
// already unfiltered (zeros for the first row of an image or pass); `bpp` is
// the bytes of one whole pixel, at least 1. Returns false for a filter type
// PNG does not define. Vector code is chosen once, at first use, for the
// processor at hand.
bool Unfilter(uint8_t filter, uint8_t* row, const uint8_t* prior, size_t size,
              int bpp);

// Which code Unfilter uses here: "ssse3", "sse2" or "portable".
const char* UnfilterEngine();

}  // namespace lumeconv
