#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace lumeconv {

// Decodes the same bytes with the converter's own reader and with libpng,
// row by row in step, and says how they differ: in accepting the file, in
// size, side data or any pixel. Empty when they agree. `accepted` tells
// whether both took the file.
std::string ReaderDisagreement(const uint8_t* data, size_t size,
                               bool* accepted = nullptr);

}  // namespace lumeconv
