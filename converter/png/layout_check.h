#pragma once

#include <memory>

#include "image_reader.h"

namespace lumeconv {

// Opens a PNG with `open` without first walking the chunk layout: the walk
// is made on a second cursor, beside the decoding for a large file, and is
// waited for when the decoder fails or finishes. A fault the walk finds is
// the one reported, as if the walk had come first: an empty, foreign,
// truncated or oversized file is still named for what it is.
std::unique_ptr<ImageReader> OpenCheckingLayout(ByteSource& source,
                                                ImageOpener open);

}  // namespace lumeconv
