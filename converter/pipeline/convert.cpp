#include "convert.h"

#include <dirent.h>
#include <sched.h>
#include <strings.h>
#include <sys/stat.h>

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

#include "byte_source.h"
#include "checksums.h"
#include "conversion_error.h"
#include "huffman_rewrite.h"
#include "huge_pages.h"
#include "image_reader.h"
#include "jpeg_writer.h"
#include "pending_file.h"
#include "row_pipe.h"
#include "spare_thread.h"

namespace lumeconv {

std::string OutputPathFor(const std::string& input) {
  const size_t slash = input.rfind('/');
  const size_t name_start = slash == std::string::npos ? 0 : slash + 1;
  const size_t dot = input.rfind('.');
  const bool has_extension = dot != std::string::npos && dot > name_start;
  return (has_extension ? input.substr(0, dot) : input) + ".jpg";
}

namespace {

std::string NameOf(const std::string& path) {
  const size_t slash = path.rfind('/');
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

// True when the folder lists no entry spelt exactly `name`.
bool UnlistedIn(const std::string& folder, const std::string& name) {
  DIR* dir = ::opendir(folder.c_str());
  if (!dir) return false;
  bool listed = false;
  while (const dirent* entry = ::readdir(dir)) {
    if (name == entry->d_name) {
      listed = true;
      break;
    }
  }
  ::closedir(dir);
  return !listed;
}

// An output name that differs from an existing input's only in case, and
// that the folder does not list as it is spelt, can only have been found by
// folding case (FAT, exFAT, casefold folders): it is the input. Such file
// systems may give each spelling an inode number of its own.
bool IsInputByAnotherSpelling(const std::string& input,
                              const std::string& output) {
  const std::string in = NameOf(input);
  const std::string out = NameOf(output);
  if (in == out || ::strcasecmp(in.c_str(), out.c_str()) != 0) return false;
  const std::string folder = output.substr(0, output.size() - out.size());
  return UnlistedIn(folder.empty() ? "." : folder, out);
}

// Decoding and encoding take similar time; each gets a core. The decoding
// thread inflates (and puts an interlaced image together); the encoding
// thread finishes each row (filters, palette, transparency, 16 bits) before
// it encodes it, except where the reader wants its filters undone while
// reading. Rows travel in bands: handing each row over alone woke the
// other thread once per row, and those wake-ups cost as much as the
// decoding itself.
constexpr size_t kBandBytes = 256 * 1024;
constexpr size_t kBandsInFlight = 4;
// What else a conversion allocates: the encoder's rows, the reader's
// buffers.
constexpr size_t kWorkingSlack = size_t{1} << 20;
// The coefficients and bands from which 2 MiB pages pay: a 2 MiB page is
// cleared whole on first touch, more than a 128x128 image needs in all. A
// file this large takes them before the reader's buffers are allocated.
constexpr size_t kHugePagesFrom = size_t{256} << 10;
constexpr uint64_t kLargeFile = uint64_t{256} << 10;

size_t BandRows(size_t row_bytes) {
  return std::clamp<size_t>(kBandBytes / row_bytes, 1, 64);
}

// The rows of the band from row `y` on. The last two bands' worth go in
// pieces of 16 rows (a row of JPEG blocks): the encoder, which follows the
// reading, then has a piece left to encode at the end, not a band.
size_t RowsAt(uint32_t y, uint32_t height, size_t band) {
  const size_t left = height - y;
  if (left > 2 * band || band <= 16) return std::min(band, left);
  return std::min<size_t>(16, left);
}

// Reads all rows into the pipe; false when reading failed or the encoding
// side gave up first.
bool DecodeInto(ImageReader& png, RowPipe& pipe) {
  try {
    const size_t band = BandRows(png.RawRowBytes());
    const bool prepare = png.PrepareWhileReading();
    for (uint32_t y = 0; y < png.Height();) {
      uint8_t* slot = pipe.WaitForFreeRow();
      if (!slot) return false;
      const size_t rows = RowsAt(y, png.Height(), band);
      png.ReadRawRows(slot, rows);
      if (prepare) png.PrepareRows(slot, rows);
      pipe.Publish();
      y += static_cast<uint32_t>(rows);
    }
    png.Finish();
  } catch (...) {
    pipe.Fail(std::current_exception());
    return false;
  }
  return true;
}

bool SeveralCores() {
  cpu_set_t cores;
  return sched_getaffinity(0, sizeof cores, &cores) == 0 &&
         CPU_COUNT(&cores) >= 2;
}

// How long the decoding thread, its rows read, waits for the last part of
// the encoding: the encoder is usually a band or two behind.
constexpr std::chrono::microseconds kLendFor{3000};

// Below this many bytes of rows, the whole image is decoded before it is
// encoded, on one thread: starting a thread cost more than the overlap won
// (64x64 files, farm-bench -n 61: wall 0.96, CPU 0.93).
constexpr size_t kDecodeAlone = size_t{64} << 10;

// The decoding thread; when the encoding side stops early, by an error or
// an exception, it is told to stop and waited for. A small image, whose
// rows all fit in the pipe, is decoded at once instead. Once it has read
// everything, on more than one core, the thread is lent to the encoder.
class Decoding {
 public:
  Decoding(ImageReader& png, RowPipe& pipe, bool at_once) : pipe_(pipe) {
    if (at_once) {
      DecodeInto(png, pipe);
      read_ = true;
      return;
    }
    lent_ = SeveralCores();
    thread_ = std::thread([this, &png, &pipe] {
      const bool read_all = DecodeInto(png, pipe);
      {
        std::lock_guard lock(mutex_);
        read_ = true;
      }
      read_changed_.notify_all();
      if (read_all && lent_) {
        spare_.Lend(kLendFor);
      } else {
        spare_.Decline();
      }
    });
  }
  ~Decoding() {
    spare_.Decline();
    if (thread_.joinable()) {
      pipe_.GiveUp();
      thread_.join();
    }
  }
  Decoding(const Decoding&) = delete;
  Decoding& operator=(const Decoding&) = delete;

  // Returns once every row is read and the rest of the file checked, or
  // reading failed.
  void WaitForRead() {
    std::unique_lock lock(mutex_);
    read_changed_.wait(lock, [&] { return read_; });
  }
  SpareThread* Spare() { return lent_ ? &spare_ : nullptr; }

 private:
  RowPipe& pipe_;
  SpareThread spare_;
  bool lent_ = false;
  std::mutex mutex_;
  std::condition_variable read_changed_;
  bool read_ = false;
  std::thread thread_;
};

}  // namespace

void ConvertStream(ByteSource& source, FILE* out, int quality,
                   const std::string& scratch_folder, ImageOpener open,
                   std::vector<std::string>* left_out) {
  const std::unique_ptr<ImageReader> image = open(source);
  ImageReader& png = *image;
  if (left_out) *left_out = MetadataLeftOut(png.Metadata());
  // An image too large to optimise its tables in memory is first encoded
  // with the standard ones into a scratch file, then rewritten.
  const bool in_memory = JpegWriter::Optimises(png.Width(), png.Height(),
                                               png.Components(), quality);
  const std::unique_ptr<ScratchFile> scratch(
      in_memory ? nullptr : std::make_unique<ScratchFile>(scratch_folder));
  const size_t row_bytes = png.RawRowBytes();
  const size_t band = BandRows(row_bytes);
  const size_t working =
      (in_memory ? JpegWriter::CoefficientBytes(png.Width(), png.Height(),
                                                png.Components(), quality)
                 : 0) +
      kBandsInFlight * row_bytes * band;
  if (working >= kHugePagesFrom) ReserveHugePages();
  RowPipe pipe(row_bytes * band, kBandsInFlight);
  // Decoding starts at once: the encoder's set-up below runs beside it.
  Decoding decoding(png, pipe,
                    uint64_t{png.Height()} * row_bytes <= kDecodeAlone &&
                        png.Height() <= band * kBandsInFlight);
  // The coefficients and the bands are each written once; mapping them in
  // ahead, in one call, costs less than a page fault per page.
  PrepareWorkingMemory(working + kWorkingSlack);
  JpegWriter jpeg(in_memory ? out : scratch->Stream(), png.Width(),
                  png.Height(), png.Components(), quality, png.Metadata(),
                  decoding.Spare());
  std::vector<uint8_t> finishing;
  const bool prepared = png.PrepareWhileReading();
  for (uint32_t y = 0; y < png.Height();) {
    uint8_t* rows = pipe.WaitForFullRow();
    if (!rows) break;
    const size_t count = RowsAt(y, png.Height(), band);
    if (!prepared) png.PrepareRows(rows, count);
    for (size_t i = 0; i < count; ++i) {
      jpeg.WriteRow(png.FinishRow(rows + i * row_bytes, finishing));
    }
    pipe.Release();
    y += static_cast<uint32_t>(count);
  }
  decoding.WaitForRead();
  if (const std::exception_ptr error = pipe.Error()) {
    std::rethrow_exception(error);
  }
  jpeg.Finish();
  if (scratch) OptimiseHuffmanTables(scratch->Reread(), out, &jpeg.Counts());
}

std::string ConvertFile(const std::string& input, int quality, ImageOpener open,
                        std::vector<std::string>* left_out) {
  FileSource source(input);
  if (source.Size() >= kLargeFile) {
    ReserveHugePages();
    LoadFastChecksums();
  }
  const std::string output = OutputPathFor(input);
  struct stat existing {};
  if (::stat(output.c_str(), &existing) == 0 &&
      ((existing.st_dev == source.Device() &&
        existing.st_ino == source.Inode()) ||
       IsInputByAnotherSpelling(input, output))) {
    throw ConversionError(kExitOutput,
                          "the JPEG would replace this file itself");
  }
  PendingFile result(output);
  ConvertStream(source, result.Stream(), quality, result.Folder(), open,
                left_out);
  result.Commit();
  return output;
}

}  // namespace lumeconv
