#pragma once

#include <memory>

#include "image_reader.h"

namespace lumeconv {

class ByteSource;

// The converter's own PNG reader: the pixels of the reference decoder for
// a valid file, and its verdict for a damaged one. Throws ConversionError.
std::unique_ptr<ImageReader> OpenPng(ByteSource& source);

}  // namespace lumeconv
