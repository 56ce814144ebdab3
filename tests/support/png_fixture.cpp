#include "support/png_fixture.h"

#include <png.h>
#include <zlib.h>

#include <QFile>
#include <QtEndian>
#include <cmath>
#include <stdexcept>

namespace {

int Channels(int colour_type) {
  switch (colour_type) {
    case PNG_COLOR_TYPE_GRAY:
    case PNG_COLOR_TYPE_PALETTE:
      return 1;
    case PNG_COLOR_TYPE_GRAY_ALPHA:
      return 2;
    case PNG_COLOR_TYPE_RGB:
      return 3;
    default:
      return 4;
  }
}

// A palette of 2^depth entries: colours spread over the cube, alphas falling.
png_color PaletteColour(int index, int entries) {
  const int step = 255 * index / std::max(1, entries - 1);
  return {static_cast<png_byte>(step), static_cast<png_byte>(255 - step),
          static_cast<png_byte>((step * 7) % 256)};
}

png_byte PaletteAlpha(int index, int entries) {
  return static_cast<png_byte>(255 - 255 * index / std::max(1, entries - 1));
}

uint32_t TransparentSample(const PngRecipe& recipe) {
  return ((1u << recipe.bit_depth) - 1) / 3;  // one grey level or colour
}

}  // namespace

uint32_t SourceSample(const PngRecipe& recipe, uint32_t x, uint32_t y, int c) {
  const uint32_t max = (1u << recipe.bit_depth) - 1;
  // Smooth ramps that differ per channel, so JPEG keeps them close.
  const double t = (double(x) / std::max(1u, recipe.width - 1) * (c + 1) +
                    double(y) / std::max(1u, recipe.height - 1) * (3 - c)) /
                       4.0 +
                   recipe.seed * 0.137;
  uint32_t v = static_cast<uint32_t>(std::lround(std::fmod(t, 1.0) * max));
  if (recipe.transparent_colour && x % 4 == 0) v = TransparentSample(recipe);
  return v;
}

std::vector<double> ExpectedColour(const PngRecipe& recipe, uint32_t x,
                                   uint32_t y) {
  const double max = (1u << recipe.bit_depth) - 1;
  std::vector<double> colour;
  double alpha = 1;
  if (recipe.colour_type == PNG_COLOR_TYPE_PALETTE) {
    const int entries = 1 << recipe.bit_depth;
    const int index = static_cast<int>(SourceSample(recipe, x, y, 0));
    const png_color p = PaletteColour(index, entries);
    colour = {double(p.red), double(p.green), double(p.blue)};
    if (recipe.transparent_colour) alpha = PaletteAlpha(index, entries) / 255.0;
  } else {
    const int channels = Channels(recipe.colour_type);
    const bool has_alpha = recipe.colour_type & PNG_COLOR_MASK_ALPHA;
    const int colours = has_alpha ? channels - 1 : channels;
    bool all_key = true;
    for (int c = 0; c < colours; ++c) {
      const uint32_t v = SourceSample(recipe, x, y, c);
      all_key = all_key && v == TransparentSample(recipe);
      colour.push_back(v / max * 255.0);
    }
    if (has_alpha) alpha = SourceSample(recipe, x, y, colours) / max;
    if (recipe.transparent_colour && all_key) alpha = 0;
  }
  for (double& v : colour) v = v * alpha + 255.0 * (1 - alpha);
  return colour;
}

void WritePng(const QString& path, const PngRecipe& recipe) {
  FILE* file = std::fopen(path.toLocal8Bit().constData(), "wb");
  if (!file) throw std::runtime_error("cannot create test PNG");
  png_structp png =
      png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
  png_infop info = png_create_info_struct(png);
  if (setjmp(png_jmpbuf(png))) {
    png_destroy_write_struct(&png, &info);
    std::fclose(file);
    throw std::runtime_error("libpng could not write the test PNG");
  }
  png_init_io(png, file);
  png_set_IHDR(png, info, recipe.width, recipe.height, recipe.bit_depth,
               recipe.colour_type,
               recipe.interlaced ? PNG_INTERLACE_ADAM7 : PNG_INTERLACE_NONE,
               PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
  const int entries = 1 << recipe.bit_depth;
  std::vector<png_color> palette;
  std::vector<png_byte> alphas;
  if (recipe.colour_type == PNG_COLOR_TYPE_PALETTE) {
    for (int i = 0; i < entries; ++i) {
      palette.push_back(PaletteColour(i, entries));
      alphas.push_back(PaletteAlpha(i, entries));
    }
    png_set_PLTE(png, info, palette.data(), entries);
    if (recipe.transparent_colour) {
      png_set_tRNS(png, info, alphas.data(), entries, nullptr);
    }
  } else if (recipe.transparent_colour) {
    const auto key = static_cast<png_uint_16>(TransparentSample(recipe));
    png_color_16 colour{0, key, key, key, key};
    png_set_tRNS(png, info, nullptr, 0, &colour);
  }
  if (!recipe.icc_profile.isEmpty()) {
    png_set_iCCP(png, info, "test", 0,
                 reinterpret_cast<png_const_bytep>(recipe.icc_profile.data()),
                 static_cast<png_uint_32>(recipe.icc_profile.size()));
  }
  if (!recipe.exif.isEmpty()) {
    png_set_eXIf_1(
        png, info, static_cast<png_uint_32>(recipe.exif.size()),
        reinterpret_cast<png_bytep>(const_cast<char*>(recipe.exif.data())));
  }
  if (recipe.ppm_x) {
    png_set_pHYs(png, info, recipe.ppm_x, recipe.ppm_y, PNG_RESOLUTION_METER);
  }
  png_write_info(png, info);
  if (recipe.bit_depth < 8) png_set_packing(png);
  if (recipe.bit_depth == 16) png_set_swap(png);

  const int channels = Channels(recipe.colour_type);
  const size_t sample_bytes = recipe.bit_depth == 16 ? 2 : 1;
  std::vector<uint8_t> image(size_t{recipe.width} * recipe.height * channels *
                             sample_bytes);
  std::vector<png_bytep> rows(recipe.height);
  for (uint32_t y = 0; y < recipe.height; ++y) {
    uint8_t* row =
        image.data() + size_t{y} * recipe.width * channels * sample_bytes;
    rows[y] = row;
    for (uint32_t x = 0; x < recipe.width; ++x) {
      for (int c = 0; c < channels; ++c) {
        const uint32_t v = SourceSample(recipe, x, y, c);
        const size_t i = size_t{x} * channels + c;
        if (sample_bytes == 2) {
          reinterpret_cast<uint16_t*>(row)[i] = static_cast<uint16_t>(v);
        } else {
          row[i] = static_cast<uint8_t>(v);
        }
      }
    }
  }
  png_write_image(png, rows.data());
  png_write_end(png, nullptr);
  png_destroy_write_struct(&png, &info);
  std::fclose(file);
}

QByteArray Chunk(const char* type, const QByteArray& data) {
  QByteArray chunk(4, '\0');
  qToBigEndian<quint32>(static_cast<quint32>(data.size()), chunk.data());
  QByteArray body = QByteArray(type, 4) + data;
  chunk += body;
  QByteArray crc(4, '\0');
  qToBigEndian<quint32>(
      static_cast<quint32>(crc32(0, reinterpret_cast<const Bytef*>(body.data()),
                                 static_cast<uInt>(body.size()))),
      crc.data());
  return chunk + crc;
}

QByteArray PngSignature() { return QByteArray("\x89PNG\r\n\x1a\n", 8); }

QByteArray Ihdr(uint32_t width, uint32_t height, int depth, int colour,
                int interlace) {
  QByteArray data(13, '\0');
  qToBigEndian<quint32>(width, data.data());
  qToBigEndian<quint32>(height, data.data() + 4);
  data[8] = static_cast<char>(depth);
  data[9] = static_cast<char>(colour);
  data[12] = static_cast<char>(interlace);
  return Chunk("IHDR", data);
}

QByteArray Zlib(const QByteArray& raw) {
  uLongf size = compressBound(static_cast<uLong>(raw.size()));
  QByteArray out(static_cast<qsizetype>(size), '\0');
  compress(reinterpret_cast<Bytef*>(out.data()), &size,
           reinterpret_cast<const Bytef*>(raw.data()),
           static_cast<uLong>(raw.size()));
  out.truncate(static_cast<qsizetype>(size));
  return out;
}
