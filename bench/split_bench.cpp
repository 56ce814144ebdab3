// Where one PNG's conversion spends its time, step by step on one core,
// through the reader's and the writer's public steps: reading the raw rows
// (inflating the image data, and putting an interlaced image together),
// undoing the filters of row pairs ahead of time, finishing each row (the
// rest of the filters, then 8-bit grey or RGB on white), encoding the
// JPEG; then the whole conversion in this process with each reader.
// Medians of several runs.
//
//   split_bench FILE.png [RUNS]
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
#include <vector>

#include "byte_source.h"
#include "convert.h"
#include "huge_pages.h"
#include "jpeg_writer.h"
#include "libpng_reader.h"
#include "median.h"
#include "open_png.h"

namespace {

using Clock = std::chrono::steady_clock;

double Ms(Clock::time_point from, Clock::time_point to) {
  return std::chrono::duration<double, std::milli>(to - from).count();
}

// The times of one pass: read, prepare, finish, encode.
struct Split {
  std::vector<double> read, prepare, finish, encode;
};

void OnePass(const std::vector<uint8_t>& png, FILE* sink, Split* split) {
  lumeconv::MemorySource source(png.data(), png.size());
  const auto reader = lumeconv::OpenPng(source);
  const uint32_t width = reader->Width();
  const uint32_t height = reader->Height();
  const int components = reader->Components();
  const size_t raw = reader->RawRowBytes();
  std::vector<uint8_t> rows(raw * height);
  const auto start = Clock::now();
  reader->ReadRawRows(rows.data(), height);
  const auto read = Clock::now();
  reader->PrepareRows(rows.data(), height);
  const auto prepared = Clock::now();
  const size_t row_bytes = size_t{width} * components;
  std::vector<uint8_t> flat(row_bytes * height);
  std::vector<uint8_t> scratch;
  for (uint32_t y = 0; y < height; ++y) {
    std::memcpy(&flat[y * row_bytes],
                reader->FinishRow(&rows[y * raw], scratch), row_bytes);
  }
  const auto finished = Clock::now();
  reader->Finish();
  const auto encode_start = Clock::now();
  lumeconv::JpegWriter jpeg(sink, width, height, components, 85,
                            reader->Metadata());
  for (uint32_t y = 0; y < height; ++y) jpeg.WriteRow(&flat[y * row_bytes]);
  jpeg.Finish();
  const auto encoded = Clock::now();
  split->read.push_back(Ms(start, read));
  split->prepare.push_back(Ms(read, prepared));
  split->finish.push_back(Ms(prepared, finished));
  split->encode.push_back(Ms(encode_start, encoded));
}

double WholeMs(const std::vector<uint8_t>& png, FILE* sink, int runs,
               lumeconv::ImageOpener open) {
  std::vector<double> times;
  for (int i = 0; i < runs; ++i) {
    lumeconv::MemorySource source(png.data(), png.size());
    const auto start = Clock::now();
    lumeconv::ConvertStream(source, sink, 85, "/tmp", open);
    times.push_back(Ms(start, Clock::now()));
  }
  return Median(times);
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
  FILE* sink = std::fopen("/dev/null", "wb");
  Split split;
  for (int i = 0; i < runs; ++i) OnePass(png, sink, &split);
  const double own = WholeMs(png, sink, runs, lumeconv::OpenPng);
  const double reference = WholeMs(png, sink, runs, lumeconv::OpenWithLibpng);
  std::printf(
      "%s: read rows %.1f ms, unfilter pairs %.1f ms, finish rows %.1f ms, "
      "encode %.1f ms; whole conversion in process: own reader %.1f ms, "
      "libpng %.1f ms\n",
      argv[1], Median(split.read), Median(split.prepare), Median(split.finish),
      Median(split.encode), own, reference);
  std::fclose(sink);
  return 0;
}
