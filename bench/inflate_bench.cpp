// The reader's inflate on the image data of real PNG files, on one thread
// and split over two (with the share the second thread decoded), beside
// zlib and, where the build found it, ISA-L as a yardstick. Each is fed as
// the reader feeds its engine: 256 KiB of room at a time, and 8 KiB of
// input for zlib, 256 KiB for the others. Medians of several runs, in ms,
// and MB/s of decoded bytes.
//
//   inflate_bench [RUNS] FILE.png...
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
#include <memory>
#include <string>
#include <vector>

#include "inflater.h"
#include "median.h"

#ifdef BENCH_HAVE_ISAL
#include <isa-l/igzip_lib.h>
#endif

namespace {

using Clock = std::chrono::steady_clock;

constexpr size_t kZlibPiece = 8192;
constexpr size_t kPiece = 256 * 1024;
constexpr size_t kRoom = 256 * 1024;

uint32_t BigEndian(const uint8_t* p) {
  return uint32_t{p[0]} << 24 | uint32_t{p[1]} << 16 | uint32_t{p[2]} << 8 |
         p[3];
}

// The zlib stream the IDAT chunks hold together; empty when the file ends
// inside a chunk.
std::vector<uint8_t> ImageData(const std::vector<uint8_t>& png) {
  std::vector<uint8_t> stream;
  for (size_t at = 8; at + 12 <= png.size();) {
    const uint32_t length = BigEndian(&png[at]);
    if (length > png.size() - at - 12) return {};
    if (std::memcmp(&png[at + 4], "IDAT", 4) == 0) {
      stream.insert(stream.end(), &png[at + 8], &png[at + 8 + length]);
    }
    at += size_t{12} + length;
  }
  return stream;
}

// Inflates the whole stream with one engine; the decoded size, or 0 when
// the engine refused the stream.
template <typename Engine>
size_t InflateAll(Engine&& step, const std::vector<uint8_t>& stream,
                  size_t piece_size, std::vector<uint8_t>& out) {
  size_t in = 0;
  size_t produced = 0;
  for (;;) {
    if (out.size() - produced < kRoom) out.resize(out.size() + 64 * kRoom);
    const size_t piece = std::min(piece_size, stream.size() - in);
    const lumeconv::InflateStep s =
        step(stream.data() + in, piece, out.data() + produced, kRoom);
    in += s.consumed;
    produced += s.produced;
    if (s.status == lumeconv::InflateStatus::kEnded) return produced;
    if (s.status != lumeconv::InflateStatus::kOk ||
        (s.consumed == 0 && s.produced == 0)) {
      return 0;
    }
  }
}

#ifdef BENCH_HAVE_ISAL
// ISA-L on the deflate data after the two-byte header, checking the
// Adler-32 at the end.
size_t InflateWithIsal(const std::vector<uint8_t>& stream,
                       std::vector<uint8_t>& out) {
  inflate_state state;
  isal_inflate_init(&state);
  state.crc_flag = ISAL_ZLIB_NO_HDR_VER;
  return InflateAll(
      [&](const uint8_t* in, size_t n, uint8_t* to, size_t room) {
        state.next_in = const_cast<uint8_t*>(in);
        state.avail_in = static_cast<uint32_t>(n);
        state.next_out = to;
        state.avail_out = static_cast<uint32_t>(room);
        const int result = isal_inflate(&state);
        lumeconv::InflateStep step{lumeconv::InflateStatus::kOk,
                                   n - state.avail_in, room - state.avail_out};
        if (result != ISAL_DECOMP_OK) {
          step.status = lumeconv::InflateStatus::kBadData;
        } else if (state.block_state == ISAL_BLOCK_FINISH) {
          step.status = lumeconv::InflateStatus::kEnded;
        }
        return step;
      },
      std::vector<uint8_t>(stream.begin() + 2, stream.end()), kPiece, out);
}
constexpr int kEngines = 4;
#else
constexpr int kEngines = 3;
#endif

constexpr int kZlib = 1;
constexpr int kSplit = 2;

double Ms(Clock::time_point from) {
  return std::chrono::duration<double, std::milli>(Clock::now() - from).count();
}

}  // namespace

int main(int argc, char** argv) {
  int first = 1;
  int runs = 7;
  if (argc > 1 && std::atoi(argv[1]) > 0) {
    runs = std::atoi(argv[1]);
    first = 2;
  }
  if (first >= argc) {
    std::fprintf(stderr, "usage: inflate_bench [RUNS] FILE.png...\n");
    return 2;
  }
  std::printf("%-36s %9s %10s  %-15s %-15s %-15s %-15s %s\n", "file", "idat",
              "raw", "reader", "zlib", "reader, split",
              kEngines > 3 ? "ISA-L" : "", "ahead");
  std::vector<uint8_t> out;
  for (int f = first; f < argc; ++f) {
    std::ifstream file(argv[f], std::ios::binary);
    const std::vector<uint8_t> png((std::istreambuf_iterator<char>(file)), {});
    const std::vector<uint8_t> stream = ImageData(png);
    if (stream.size() < 2) {
      std::fprintf(stderr, "%s: no image data\n", argv[f]);
      continue;
    }
    std::vector<double> times[kEngines];
    size_t raw[kEngines] = {};
    uint64_t ahead = 0;
    for (int run = 0; run < runs; ++run) {
      for (int engine = 0; engine < kEngines; ++engine) {
        const auto start = Clock::now();
        if (engine <= kSplit) {
          lumeconv::Inflater inflater(
              /*zlib_only=*/engine == kZlib,
              engine == kSplit
                  ? std::make_unique<lumeconv::AheadFromMemory>(stream)
                  : nullptr);
          raw[engine] = InflateAll(
              [&](const uint8_t* in, size_t n, uint8_t* to, size_t room) {
                return inflater.Inflate(in, n, to, room);
              },
              stream, engine == kZlib ? kZlibPiece : kPiece, out);
          if (engine == kSplit) ahead = inflater.BytesAhead();
        } else {
#ifdef BENCH_HAVE_ISAL
          raw[engine] = InflateWithIsal(stream, out);
#endif
        }
        times[engine].push_back(Ms(start));
      }
    }
    const std::string name = argv[f];
    std::printf("%-36s %9zu %10zu", name.substr(name.rfind('/') + 1).c_str(),
                stream.size(), raw[1]);
    for (int engine = 0; engine < kEngines; ++engine) {
      const double ms = Median(times[engine]);
      if (raw[engine] == 0) {
        std::printf("  %-15s", "refused");
      } else {
        std::printf("  %6.2f %4.0f MB/s", ms, raw[engine] / ms / 1e3);
      }
    }
    std::printf("  %3.0f %%\n", raw[1] ? 100.0 * ahead / raw[1] : 0.0);
  }
  return 0;
}
