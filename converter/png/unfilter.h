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

// Undoes the filters of two rows in place, `second` right below `first`
// and `prior` above `first`. Where both have the filter that makes each
// pixel wait on the one to its left (Average, Paeth), the two are undone
// together, which takes little more time than one. Returns false as
// Unfilter does.
bool UnfilterPair(uint8_t first_filter, uint8_t* first, uint8_t second_filter,
                  uint8_t* second, const uint8_t* prior, size_t size, int bpp);

// Undoes the filters of `count` rows laid `stride` bytes apart, each its
// filter byte and `size` bytes, in place and two by two, `prior` above the
// first; each filter byte becomes 0 (None). Returns the last row's samples
// (`prior` when there are none), or nullptr for a filter type PNG does not
// define.
const uint8_t* UnfilterRows(uint8_t* rows, size_t count, size_t stride,
                            size_t size, const uint8_t* prior, int bpp);

// Which code Unfilter uses here: "ssse3", "sse2" or "portable".
const char* UnfilterEngine();

}  // namespace lumeconv
