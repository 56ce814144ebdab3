#include "open_png.h"

#include "layout_check.h"
#include "png_reader.h"

namespace lumeconv {

std::unique_ptr<ImageReader> OpenPng(ByteSource& source) {
  return OpenCheckingLayout(
      source, [](ByteSource& unscanned) -> std::unique_ptr<ImageReader> {
        return std::make_unique<PngReader>(unscanned);
      });
}

}  // namespace lumeconv
