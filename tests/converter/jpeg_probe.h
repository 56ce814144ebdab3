#pragma once

#include <QByteArray>
#include <QString>
#include <cstdint>
#include <vector>

// What a decoder sees in a JPEG file.
struct JpegProbe {
  bool ok = false;
  uint32_t width = 0;
  uint32_t height = 0;
  int components = 0;
  int luma_sampling = 0;  // horizontal sampling factor of the first component
  bool progressive = false;
  int density_unit = -1;
  int x_density = 0;
  int y_density = 0;
  QByteArray icc_profile;
  QByteArray exif;  // APP1 payload after "Exif\0\0"
  std::vector<uint8_t> pixels;

  double Sample(uint32_t x, uint32_t y, int c) const {
    return pixels[(size_t{y} * width + x) * components + c];
  }
};

JpegProbe ProbeJpeg(const QString& path);
