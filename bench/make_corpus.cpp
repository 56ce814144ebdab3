// Writes photo-like PNG files for the benchmarks: smooth colour fields,
// soft-edged shapes and mild noise, so they compress like photographs.
//
//   make_corpus FOLDER
#include <png.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <random>
#include <string>
#include <vector>

namespace {

struct Shape {
  double cx, cy, rx, ry, softness;
  double colour[3];
};

struct Picture {
  uint32_t width, height;
  bool alpha, sixteen, interlaced;
};

void Write(const std::string& path, const Picture& p, unsigned seed) {
  std::mt19937 random(seed);
  std::uniform_real_distribution<double> unit(0, 1);
  double wave[3][4];
  for (auto& channel : wave) {
    for (double& v : channel) v = unit(random);
  }
  std::vector<Shape> shapes(12);
  for (Shape& s : shapes) {
    s = {unit(random) * p.width,
         unit(random) * p.height,
         (0.05 + 0.2 * unit(random)) * p.width,
         (0.05 + 0.2 * unit(random)) * p.height,
         0.1 + 0.3 * unit(random),
         {unit(random), unit(random), unit(random)}};
  }
  std::normal_distribution<double> noise(0, 0.012);

  FILE* file = std::fopen(path.c_str(), "wb");
  png_structp png =
      png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
  png_infop info = png_create_info_struct(png);
  if (!file || setjmp(png_jmpbuf(png))) {
    std::fprintf(stderr, "cannot write %s\n", path.c_str());
    std::exit(1);
  }
  png_init_io(png, file);
  const int channels = p.alpha ? 4 : 3;
  png_set_IHDR(png, info, p.width, p.height, p.sixteen ? 16 : 8,
               p.alpha ? PNG_COLOR_TYPE_RGB_ALPHA : PNG_COLOR_TYPE_RGB,
               p.interlaced ? PNG_INTERLACE_ADAM7 : PNG_INTERLACE_NONE,
               PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
  png_write_info(png, info);
  if (p.sixteen) png_set_swap(png);
  const size_t row_bytes = size_t{p.width} * channels * (p.sixteen ? 2 : 1);
  const int passes = png_set_interlace_handling(png);
  std::vector<uint8_t> image;
  std::vector<uint8_t> row(row_bytes);
  if (p.interlaced) image.resize(row_bytes * p.height);
  for (uint32_t y = 0; y < p.height; ++y) {
    uint8_t* out = p.interlaced ? image.data() + row_bytes * y : row.data();
    for (uint32_t x = 0; x < p.width; ++x) {
      const double u = double(x) / p.width;
      const double v = double(y) / p.height;
      double c[4];
      for (int k = 0; k < 3; ++k) {
        const double* w = wave[k];
        c[k] = 0.5 +
               0.25 * std::sin(6.3 * (u * w[0] * 2 + v * w[1]) + w[2] * 6) +
               0.15 * std::cos(6.3 * v * w[3] * 3);
      }
      for (const Shape& s : shapes) {
        const double d = std::hypot((x - s.cx) / s.rx, (y - s.cy) / s.ry);
        const double inside = std::clamp((1 - d) / s.softness + 0.5, 0.0, 1.0);
        for (int k = 0; k < 3; ++k) c[k] += inside * (s.colour[k] - c[k]) * 0.7;
      }
      c[3] = 0.6 + 0.4 * std::sin(6.3 * u);
      for (int k = 0; k < channels; ++k) {
        const double value = std::clamp(c[k] + noise(random), 0.0, 1.0);
        const size_t i = size_t{x} * channels + k;
        if (p.sixteen) {
          reinterpret_cast<uint16_t*>(out)[i] =
              static_cast<uint16_t>(std::lround(value * 65535));
        } else {
          out[i] = static_cast<uint8_t>(std::lround(value * 255));
        }
      }
    }
    if (!p.interlaced) png_write_row(png, out);
  }
  if (p.interlaced) {
    for (int pass = 0; pass < passes; ++pass) {
      for (uint32_t y = 0; y < p.height; ++y) {
        png_write_row(png, image.data() + row_bytes * y);
      }
    }
  }
  png_write_end(png, nullptr);
  png_destroy_write_struct(&png, &info);
  std::fclose(file);
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: make_corpus FOLDER\n");
    return 2;
  }
  const std::string folder = argv[1];
  unsigned seed = 1;
  auto name = [&](const char* kind, int i) {
    return folder + "/" + kind + "-" + std::to_string(i) + ".png";
  };
  for (int i = 0; i < 200; ++i) {
    Write(name("rgb-64x64", i), {64, 64, false, false, false}, seed++);
  }
  for (int i = 0; i < 40; ++i) {
    Write(name("rgb-1920x1080", i), {1920, 1080, false, false, false}, seed++);
  }
  for (int i = 0; i < 4; ++i) {
    Write(name("rgba-1920x1080", i), {1920, 1080, true, false, false}, seed++);
    Write(name("rgb16-1920x1080", i), {1920, 1080, false, true, false}, seed++);
  }
  Write(name("interlaced-1920x1080", 0), {1920, 1080, false, false, true},
        seed++);
  Write(name("rgb-8000x8000", 0), {8000, 8000, false, false, false}, seed++);
  return 0;
}
