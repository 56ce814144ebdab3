// Writes PNG files for the benchmarks: photo-like pictures (smooth colour
// fields, soft-edged shapes and mild noise), photos with the fine texture
// of real ones (grain and detail at several scales, as foliage, fabric or
// gravel have), and screenshots (flat panels, sharp edges, rows of small
// glyphs). All are written by libpng with its default filters;
// bench/writer_bench.py writes them again with other writers.
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
  bool textured = false;
};

// A smooth random field in -1..1 with features about `scale` pixels wide:
// hashed lattice values, interpolated.
double ValueNoise(double x, double y, double scale, unsigned seed) {
  const auto lattice = [seed](long i, long j) {
    uint64_t h = uint64_t(i) * 0x9E3779B97F4A7C15ull ^
                 uint64_t(j) * 0xC2B2AE3D27D4EB4Full ^ seed;
    h ^= h >> 29;
    h *= 0xBF58476D1CE4E5B9ull;
    h ^= h >> 32;
    return double(h & 0xFFFF) / 32767.5 - 1;
  };
  const double fx = x / scale, fy = y / scale;
  const long i = long(std::floor(fx)), j = long(std::floor(fy));
  const double tx = fx - i, ty = fy - j;
  const double sx = tx * tx * (3 - 2 * tx), sy = ty * ty * (3 - 2 * ty);
  const double top = lattice(i, j) + sx * (lattice(i + 1, j) - lattice(i, j));
  const double bottom =
      lattice(i, j + 1) + sx * (lattice(i + 1, j + 1) - lattice(i, j + 1));
  return top + sy * (bottom - top);
}

// Detail at several scales, strongest where the picture is busy.
double Texture(uint32_t x, uint32_t y, int channel, unsigned seed) {
  const double busy =
      std::clamp(0.5 + ValueNoise(x, y, 180, seed + 7), 0.0, 1.0);
  double detail = 0;
  double weight = 0.06;
  for (const double scale : {1.5, 3.5, 9.0, 23.0}) {
    detail += weight * ValueNoise(x, y, scale,
                                  seed + channel * 31 + unsigned(scale * 10));
    weight *= 0.8;
  }
  return detail * (0.3 + busy);
}

// A PNG file written by libpng with its default filters; a failure ends
// the program.
class PngFile {
 public:
  PngFile(const std::string& path, uint32_t width, uint32_t height, int depth,
          int colour_type, int interlace)
      : path_(path), file_(std::fopen(path.c_str(), "wb")) {
    png_ =
        png_create_write_struct(PNG_LIBPNG_VER_STRING, &path_, Fail, nullptr);
    info_ = png_create_info_struct(png_);
    if (!file_ || !png_ || !info_) Fail(png_, "cannot open");
    png_init_io(png_, file_);
    png_set_IHDR(png_, info_, width, height, depth, colour_type, interlace,
                 PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
    png_write_info(png_, info_);
  }
  ~PngFile() {
    png_write_end(png_, nullptr);
    png_destroy_write_struct(&png_, &info_);
    std::fclose(file_);
  }
  PngFile(const PngFile&) = delete;
  PngFile& operator=(const PngFile&) = delete;

  png_structp Png() { return png_; }
  void Row(const uint8_t* row) { png_write_row(png_, row); }

 private:
  [[noreturn]] static void Fail(png_structp png, png_const_charp message) {
    const auto* path =
        png ? static_cast<const std::string*>(png_get_error_ptr(png)) : nullptr;
    std::fprintf(stderr, "cannot write %s: %s\n",
                 path ? path->c_str() : "a PNG file", message);
    std::exit(1);
  }

  std::string path_;
  FILE* file_;
  png_structp png_ = nullptr;
  png_infop info_ = nullptr;
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

  const int channels = p.alpha ? 4 : 3;
  PngFile file(path, p.width, p.height, p.sixteen ? 16 : 8,
               p.alpha ? PNG_COLOR_TYPE_RGB_ALPHA : PNG_COLOR_TYPE_RGB,
               p.interlaced ? PNG_INTERLACE_ADAM7 : PNG_INTERLACE_NONE);
  if (p.sixteen) png_set_swap(file.Png());
  const size_t row_bytes = size_t{p.width} * channels * (p.sixteen ? 2 : 1);
  const int passes = png_set_interlace_handling(file.Png());
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
      if (p.textured) {
        const double shared = Texture(x, y, 0, seed);
        for (int k = 0; k < 3; ++k) {
          c[k] += 0.8 * shared + 0.2 * Texture(x, y, k + 1, seed);
        }
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
    if (!p.interlaced) file.Row(out);
  }
  if (p.interlaced) {
    for (int pass = 0; pass < passes; ++pass) {
      for (uint32_t y = 0; y < p.height; ++y) {
        file.Row(image.data() + row_bytes * y);
      }
    }
  }
}

// A desktop screenshot: flat panels with title bars and borders, and rows
// of small dark glyphs on light ground, as text is.
void WriteScreenshot(const std::string& path, uint32_t width, uint32_t height,
                     unsigned seed) {
  std::mt19937 random(seed);
  std::uniform_int_distribution<int> pick(0, 1 << 30);
  std::vector<uint8_t> image(size_t{width} * height * 3);
  const auto fill = [&](int x0, int y0, int x1, int y1, const uint8_t* rgb) {
    for (int y = std::max(0, y0); y < std::min<int>(height, y1); ++y) {
      for (int x = std::max(0, x0); x < std::min<int>(width, x1); ++x) {
        std::copy(rgb, rgb + 3, &image[(size_t{uint32_t(y)} * width + x) * 3]);
      }
    }
  };
  const uint8_t desktop[3] = {58, 110, 165};
  fill(0, 0, width, height, desktop);
  for (int w = 0; w < 5; ++w) {
    const int x0 = pick(random) % (width / 2), y0 = pick(random) % (height / 2);
    const int x1 = x0 + 300 + pick(random) % (width / 2);
    const int y1 = y0 + 200 + pick(random) % (height / 2);
    const uint8_t border[3] = {120, 120, 120}, title[3] = {40, 70, 120},
                  ground[3] = {uint8_t(235 + pick(random) % 20),
                               uint8_t(235 + pick(random) % 20), 240};
    fill(x0 - 1, y0 - 1, x1 + 1, y1 + 1, border);
    fill(x0, y0, x1, y1, ground);
    fill(x0, y0, x1, y0 + 24, title);
    const uint8_t ink[3] = {20, 20, 30};
    for (int line = y0 + 36; line + 12 < y1; line += 18) {
      for (int x = x0 + 8; x + 8 < x1 - 8;) {
        const int word = 2 + pick(random) % 9;
        for (int g = 0; g < word && x + 7 < x1 - 8; ++g, x += 7) {
          const int glyph = pick(random);
          for (int gy = 0; gy < 11; ++gy) {
            for (int gx = 0; gx < 6; ++gx) {
              if ((glyph >> ((gx * 3 + gy) % 29)) & 1 && (gx + gy) % 3 != 0) {
                fill(x + gx, line + gy, x + gx + 1, line + gy + 1, ink);
              }
            }
          }
        }
        x += 7;
      }
    }
  }
  PngFile file(path, width, height, 8, PNG_COLOR_TYPE_RGB, PNG_INTERLACE_NONE);
  for (uint32_t y = 0; y < height; ++y) file.Row(&image[size_t{y} * width * 3]);
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
  for (int i = 0; i < 8; ++i) {
    Write(name("photo-1920x1080", i), {1920, 1080, false, false, false, true},
          seed++);
    WriteScreenshot(name("screenshot-1920x1080", i), 1920, 1080, seed++);
  }
  Write(name("interlaced-1920x1080", 0), {1920, 1080, false, false, true},
        seed++);
  Write(name("rgb-8000x8000", 0), {8000, 8000, false, false, false}, seed++);
  return 0;
}
