#pragma once

#include <QByteArray>
#include <QString>
#include <cstdint>
#include <functional>
#include <vector>

// Writes PNG files of any kind with libpng, and raw chunk streams for the
// damaged ones.
struct PngRecipe {
  uint32_t width = 16;
  uint32_t height = 16;
  int colour_type = 2;  // PNG_COLOR_TYPE_*
  int bit_depth = 8;
  bool interlaced = false;
  bool transparent_colour = false;  // a tRNS chunk
  QByteArray icc_profile;
  QByteArray exif;
  uint32_t ppm_x = 0;  // pHYs in pixels per metre when not 0
  uint32_t ppm_y = 0;
  uint32_t seed = 0;  // shifts the picture, so that files differ
};

// The source sample of channel c at (x, y), in 0 .. 2^depth - 1; for palette
// images, the index.
uint32_t SourceSample(const PngRecipe& recipe, uint32_t x, uint32_t y, int c);

// The colour the converter should produce at (x, y) after flattening onto
// white, as 8-bit values (1 or 3 of them).
std::vector<double> ExpectedColour(const PngRecipe& recipe, uint32_t x,
                                   uint32_t y);

void WritePng(const QString& path, const PngRecipe& recipe);

// One PNG chunk with its length and CRC.
QByteArray Chunk(const char* type, const QByteArray& data);
QByteArray PngSignature();
QByteArray Ihdr(uint32_t width, uint32_t height, int depth, int colour,
                int interlace);
QByteArray Zlib(const QByteArray& raw);
