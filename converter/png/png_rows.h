#pragma once

#include <cstddef>
#include <cstdint>

#include "png_info.h"

namespace lumeconv {

// Turns unfiltered rows as stored into the form the flattening takes: 8-bit
// samples, or 16-bit ones in this machine's byte order; palette colours
// looked up; a transparent key colour turned into an alpha channel. These
// are the pixels the reference decoder hands over with the same settings.
class RowExpander {
 public:
  explicit RowExpander(const PngInfo& info);

  int Channels() const { return channels_; }   // after expansion
  int BitDepth() const { return bit_depth_; }  // 8 or 16
  size_t PixelBytes() const { return channels_ * (bit_depth_ / 8); }
  // Whether stored rows already have the expanded form.
  bool Identity() const { return identity_; }

  void Expand(const uint8_t* in, uint32_t pixels, uint8_t* out) const;

 private:
  const PngInfo* info_;
  int channels_;
  int bit_depth_;
  bool identity_;
};

}  // namespace lumeconv
