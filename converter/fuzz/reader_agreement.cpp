#include "reader_agreement.h"

#include <algorithm>
#include <cstring>
#include <memory>
#include <vector>

#include "byte_source.h"
#include "conversion_error.h"
#include "image_reader.h"
#include "libpng_reader.h"
#include "open_png.h"

namespace lumeconv {

namespace {

// One reader with what it has said so far.
struct Attempt {
  Attempt(const uint8_t* data, size_t size, ImageOpener open)
      : source(data, size) {
    Try([&] { reader = open(source); });
  }

  template <typename Step>
  void Try(Step step) {
    try {
      step();
    } catch (const ConversionError& error) {
      failure = error.what();
      reader.reset();
    }
  }

  MemorySource source;
  std::unique_ptr<ImageReader> reader;
  std::string failure;
};

std::string Verdict(const Attempt& attempt) {
  return attempt.reader ? "accepted" : "refused (" + attempt.failure + ")";
}

std::string SideData(const ImageReader& own, const ImageReader& reference) {
  const PngMetadata& a = own.Metadata();
  const PngMetadata& b = reference.Metadata();
  if (own.Width() != reference.Width() || own.Height() != reference.Height() ||
      own.Components() != reference.Components()) {
    return "size or colour differs";
  }
  if (a.icc_profile != b.icc_profile) return "ICC profile differs";
  if (a.exif != b.exif) return "Exif data differs";
  if (a.has_density != b.has_density ||
      a.density_per_metre != b.density_per_metre ||
      a.x_density != b.x_density || a.y_density != b.y_density) {
    return "pixel density differs";
  }
  return {};
}

}  // namespace

std::string ReaderDisagreement(const uint8_t* data, size_t size,
                               bool* accepted) {
  Attempt own(data, size, OpenPng);
  Attempt reference(data, size, OpenWithLibpng);
  if (own.reader && reference.reader) {
    const std::string side = SideData(*own.reader, *reference.reader);
    if (!side.empty()) return side;
  }
  const uint32_t height =
      own.reader ? own.reader->Height()
                 : (reference.reader ? reference.reader->Height() : 0);
  const size_t row_bytes =
      own.reader ? size_t{own.reader->Width()} * own.reader->Components() : 0;
  // Ours is read as the converter reads it: raw rows in bands, prepared
  // together, then each row finished on its own.
  constexpr uint32_t kBand = 7;
  std::vector<uint8_t> band;
  std::vector<uint8_t> scratch;
  for (uint32_t y = 0; y < height && (own.reader || reference.reader); ++y) {
    const uint8_t* a = nullptr;
    const uint8_t* b = nullptr;
    if (own.reader) {
      own.Try([&] {
        const size_t raw = own.reader->RawRowBytes();
        if (y % kBand == 0) {
          const uint32_t rows = std::min(kBand, height - y);
          band.resize(rows * raw);
          own.reader->ReadRawRows(band.data(), rows);
          own.reader->PrepareRows(band.data(), rows);
        }
        a = own.reader->FinishRow(band.data() + (y % kBand) * raw, scratch);
      });
    }
    if (reference.reader) {
      reference.Try([&] { b = reference.reader->NextRow(); });
    }
    if (a && b && std::memcmp(a, b, row_bytes) != 0) {
      return "row " + std::to_string(y) + " differs";
    }
  }
  if (own.reader) own.Try([&] { own.reader->Finish(); });
  if (reference.reader) reference.Try([&] { reference.reader->Finish(); });
  if (accepted) *accepted = own.reader && reference.reader;
  if (!own.reader != !reference.reader) {
    return "ours " + Verdict(own) + ", libpng " + Verdict(reference);
  }
  return {};
}

}  // namespace lumeconv
