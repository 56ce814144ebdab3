#pragma once

#include <memory>

#include "image_reader.h"

namespace lumeconv {

// Opens a PNG with `open` without first walking the chunk layout; the walk
// is made later, on a second cursor, by the first of: CheckLayout() (which
// the converter calls on its own thread once decoding has started), a
// failure of the decoder, or Finish(). A fault the walk finds is the one
// reported, as if the walk had come first: an empty, foreign, truncated or
// oversized file is still named for what it is.
std::unique_ptr<ImageReader> OpenCheckingLayout(ByteSource& source,
                                                ImageOpener open);

}  // namespace lumeconv
