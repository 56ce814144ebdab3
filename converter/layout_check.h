#pragma once

#include <memory>

#include "image_reader.h"

namespace lumeconv {

// Opens a PNG with `open` while the chunk layout is walked on another
// thread, so that decoding need not wait for the walk. A fault the walk
// finds is the one reported, whenever the decoder fails or finishes, as if
// the walk had come first: an empty, foreign, truncated or oversized file is
// still named for what it is.
std::unique_ptr<ImageReader> OpenCheckingLayout(ByteSource& source,
                                                ImageOpener open);

}  // namespace lumeconv
