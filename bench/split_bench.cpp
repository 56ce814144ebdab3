// Where one PNG's conversion spends its time, step by step on one core:
// inflating the image data, undoing the filters, converting the rows to
// 8-bit grey or RGB on white, encoding the JPEG; then the whole conversion
// in this process with each reader. Medians of several runs.
//
//   split_bench FILE.png [RUNS]
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <functional>
#include <iterator>
#include <vector>

#include "byte_source.h"
#include "convert.h"
#include "flatten.h"
#include "huge_pages.h"
#include "inflater.h"
#include "jpeg_writer.h"
#include "libpng_reader.h"
#include "png_chunks.h"
#include "png_info.h"
#include "png_rows.h"
#include "unfilter.h"

namespace {

using Clock = std::chrono::steady_clock;

double MedianMs(int runs, const std::function<void()>& step) {
  std::vector<double> times;
  for (int i = 0; i < runs; ++i) {
    const auto start = Clock::now();
    step();
    times.push_back(
        std::chrono::duration<double, std::milli>(Clock::now() - start)
            .count());
  }
  std::sort(times.begin(), times.end());
  return times[times.size() / 2];
}

std::vector<uint8_t> ImageDataOf(const std::vector<uint8_t>& png) {
  std::vector<uint8_t> data;
  for (size_t at = 8; at + 12 <= png.size();) {
    const uint32_t length = lumeconv::BigEndian32(&png[at]);
    if (lumeconv::BigEndian32(&png[at + 4]) == lumeconv::ChunkType("IDAT")) {
      data.insert(data.end(), png.begin() + at + 8,
                  png.begin() + at + 8 + length);
    }
    at += size_t{length} + 12;
  }
  return data;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) {
    std::fprintf(stderr, "usage: split_bench FILE.png [RUNS]\n");
    return 2;
  }
  lumeconv::PreferHugePages();
  const int runs = argc > 2 ? std::atoi(argv[2]) : 7;
  std::ifstream file(argv[1], std::ios::binary);
  const std::vector<uint8_t> png((std::istreambuf_iterator<char>(file)), {});

  lumeconv::MemorySource source(png.data(), png.size());
  lumeconv::ChunkReader chunks(source);
  const lumeconv::PngInfo info = lumeconv::ReadInfo(chunks);
  if (info.interlaced) {
    std::printf("%s is interlaced; the split covers plain images only\n",
                argv[1]);
  }
  const size_t row =
      (size_t{info.width} * info.channels * info.bit_depth + 7) / 8;
  const int bpp = std::max(1, info.channels * info.bit_depth / 8);
  const std::vector<uint8_t> compressed = ImageDataOf(png);
  std::vector<uint8_t> stored((row + 1) * info.height);

  const double inflate = MedianMs(runs, [&] {
    lumeconv::Inflater inflater;
    inflater.Inflate(compressed.data(), compressed.size(), stored.data(),
                     stored.size());
  });
  std::vector<uint8_t> rows;
  const double unfilter = MedianMs(runs, [&] {
    rows = stored;
    // Two rows at a time, as the converter does.
    std::vector<uint8_t> zeros(row);
    for (uint32_t y = 0; y < info.height && !info.interlaced; y += 2) {
      uint8_t* line = &rows[y * (row + 1)];
      const uint8_t* prior = y ? line - row : zeros.data();
      if (y + 1 < info.height) {
        uint8_t* next = line + row + 1;
        lumeconv::UnfilterPair(line[0], line + 1, next[0], next + 1, prior, row,
                               bpp);
      } else {
        lumeconv::Unfilter(line[0], line + 1, prior, row, bpp);
      }
    }
  });
  const lumeconv::RowExpander expander(info);
  const int components = (info.colour_type & 2) ? 3 : 1;
  std::vector<uint8_t> expanded(size_t{info.width} * expander.PixelBytes());
  std::vector<uint8_t> flat(size_t{info.width} * components * info.height);
  const double convert = MedianMs(runs, [&] {
    for (uint32_t y = 0; y < info.height; ++y) {
      expander.Expand(&rows[y * (row + 1) + 1], info.width, expanded.data());
      lumeconv::FlattenRow(
          expanded.data(), &flat[size_t{y} * info.width * components],
          info.width, expander.Channels(), expander.BitDepth());
    }
  });
  FILE* sink = std::fopen("/dev/null", "wb");
  const double encode = MedianMs(runs, [&] {
    lumeconv::JpegWriter jpeg(sink, info.width, info.height, components, 85,
                              info.metadata);
    for (uint32_t y = 0; y < info.height; ++y) {
      jpeg.WriteRow(&flat[size_t{y} * info.width * components]);
    }
    jpeg.Finish();
  });
  const auto whole = [&](lumeconv::ImageOpener open) {
    return MedianMs(runs, [&] {
      lumeconv::MemorySource again(png.data(), png.size());
      lumeconv::ConvertStream(again, sink, 85, "/tmp", open);
    });
  };
  const double own = whole(lumeconv::OpenPng);
  const double reference = whole(lumeconv::OpenWithLibpng);
  std::printf(
      "%s: inflate (%s) %.1f ms, unfilter (%s) %.1f ms, convert %.1f ms, "
      "encode %.1f ms; whole conversion in process: own reader %.1f ms, "
      "libpng %.1f ms\n",
      argv[1], lumeconv::Inflater::Engine(), inflate,
      lumeconv::UnfilterEngine(), unfilter, convert, encode, own, reference);
  std::fclose(sink);
  return 0;
}
