#pragma once

#include <cstdint>
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "huffman_rewrite.h"

namespace lumeconv {

struct PngMetadata;
class SpareThread;

// Up to this many bytes of DCT coefficients the encoder optimises the
// Huffman tables itself, holding them all in memory; larger images get
// standard tables here and are rewritten afterwards.
inline constexpr uint64_t kOptimiseBudget = uint64_t{32} << 20;

// Encodes rows of 8-bit grey or RGB as a baseline JPEG. Throws
// ConversionError.
class JpegWriter {
 public:
  struct Jpeg;  // the library's state, opaque here

  // A large optimised image's data is written in two halves, one of them
  // on `spare` where it takes it.
  JpegWriter(FILE* out, uint32_t width, uint32_t height, int components,
             int quality, const PngMetadata& metadata,
             SpareThread* spare = nullptr);
  ~JpegWriter();
  JpegWriter(const JpegWriter&) = delete;
  JpegWriter& operator=(const JpegWriter&) = delete;

  void WriteRow(const uint8_t* row);
  void Finish();
  // Of an image written with standard tables: its symbols, for the rewrite.
  const SymbolCounts& Counts() const;

  // Whether this size of image gets optimised Huffman tables, for which all
  // its coefficients are held.
  static bool Optimises(uint32_t width, uint32_t height, int components,
                        int quality);
  static uint64_t CoefficientBytes(uint32_t width, uint32_t height,
                                   int components, int quality);

 private:
  std::unique_ptr<Jpeg> jpeg_;
};

// Why parts of the metadata are left out of the JPEG: a colour profile over
// 255 APP2 segments, Exif data over one APP1 segment. Empty when all of it
// is carried.
std::vector<std::string> MetadataLeftOut(const PngMetadata& metadata);

}  // namespace lumeconv
