#include "jpeg_writer.h"

// jpeglib.h needs the definitions of FILE and size_t first.
#include <jpeglib.h>

#include <algorithm>
#include <cmath>
#include <csetjmp>
#include <cstddef>
#include <cstdio>
#include <cstring>
#include <numeric>
#include <string>
#include <vector>

#include "conversion_error.h"
#include "image_reader.h"
#include "output_halves.h"
#include "spare_thread.h"
#include "symbol_counts.h"

namespace lumeconv {

// libjpeg reports failures by longjmp; as with the PNG side, the calls into
// it are wrapped in small functions that hold no C++ objects.
struct JpegWriter::Jpeg {
  jpeg_compress_struct cinfo{};
  jpeg_error_mgr error{};
  std::jmp_buf jump{};
  char message[JMSG_LENGTH_MAX] = "";
  bool created = false;
  SymbolCounts counts{};  // counted as written, when not optimised here
  std::unique_ptr<OutputHalves> halves;

  // Here rather than in ~JpegWriter, so that a constructor that throws
  // releases libjpeg's state too; the helper uses it until it stops.
  ~Jpeg() {
    halves.reset();
    if (created) jpeg_destroy_compress(&cinfo);
  }
};

namespace {

// Colour is kept at half resolution (4:2:0) below quality 90, in full
// (4:4:4) from there on.
bool Subsampled(int quality) { return quality < 90; }

void OnError(j_common_ptr cinfo) {
  auto* jpeg = reinterpret_cast<JpegWriter::Jpeg*>(cinfo->client_data);
  (*cinfo->err->format_message)(cinfo, jpeg->message);
  std::longjmp(jpeg->jump, 1);
}

void OnMessage(j_common_ptr, int) {}

struct Density {
  uint8_t unit;  // 0: aspect ratio only, 1: dots per inch, 2: per cm
  uint16_t x;
  uint16_t y;
};

uint16_t Clamped(double value) {
  return static_cast<uint16_t>(std::clamp(std::round(value), 1.0, 65535.0));
}

// JFIF counts dots per inch or per centimetre, PNG per metre: the unit
// that keeps the density closest is chosen, so 2835 and 11811 per metre
// read 72 and 300 dpi rather than 28 and 118 per cm (71.12 and 299.72).
Density JfifDensity(const PngMetadata& metadata) {
  if (!metadata.has_density) return {0, 1, 1};
  uint64_t x = metadata.x_density;
  uint64_t y = metadata.y_density;
  if (metadata.density_per_metre) {
    constexpr double kInchesPerMetre = 1 / 0.0254;
    const Density inch{1, Clamped(x / kInchesPerMetre),
                       Clamped(y / kInchesPerMetre)};
    const Density cm{2, Clamped(x / 100.0), Clamped(y / 100.0)};
    const double inch_error = std::abs(inch.x * kInchesPerMetre - x) +
                              std::abs(inch.y * kInchesPerMetre - y);
    const double cm_error =
        std::abs(cm.x * 100.0 - x) + std::abs(cm.y * 100.0 - y);
    return inch_error < cm_error ? inch : cm;
  }
  const uint64_t divisor = std::gcd(x, y);
  x /= divisor;
  y /= divisor;
  while (x > 65535 || y > 65535) {
    x = std::max<uint64_t>(1, x / 2);
    y = std::max<uint64_t>(1, y / 2);
  }
  return {0, static_cast<uint16_t>(x), static_cast<uint16_t>(y)};
}

// What one APP1 segment holds of Exif after its six-byte header, and what
// at most 255 APP2 segments hold of a colour profile.
constexpr size_t kLargestExif = 65533 - 6;
constexpr size_t kLargestProfile = 255 * 65519;

bool Start(JpegWriter::Jpeg* j, FILE* out, uint32_t width, uint32_t height,
           int components, int quality, bool optimise, Density density,
           const uint8_t* icc, size_t icc_size, const uint8_t* app1,
           size_t app1_size) {
  if (setjmp(j->jump)) return false;
  jpeg_create_compress(&j->cinfo);
  j->created = true;
  if (j->halves) {
    j->halves->Attach(&j->cinfo);
  } else {
    jpeg_stdio_dest(&j->cinfo, out);
  }
  j->cinfo.image_width = width;
  j->cinfo.image_height = height;
  j->cinfo.input_components = components;
  j->cinfo.in_color_space = components == 3 ? JCS_RGB : JCS_GRAYSCALE;
  jpeg_set_defaults(&j->cinfo);
  jpeg_set_quality(&j->cinfo, quality, TRUE);
  if (components == 3) {
    const int luma = Subsampled(quality) ? 2 : 1;
    j->cinfo.comp_info[0].h_samp_factor = luma;
    j->cinfo.comp_info[0].v_samp_factor = luma;
    for (int c = 1; c < 3; ++c) {
      j->cinfo.comp_info[c].h_samp_factor = 1;
      j->cinfo.comp_info[c].v_samp_factor = 1;
    }
  }
  j->cinfo.optimize_coding = optimise ? TRUE : FALSE;
  // Measured on photo-like images: smaller files and a closer match than the
  // integer transforms, at about the same speed.
  j->cinfo.dct_method = JDCT_FLOAT;
  j->cinfo.density_unit = density.unit;
  j->cinfo.X_density = density.x;
  j->cinfo.Y_density = density.y;
  jpeg_start_compress(&j->cinfo, TRUE);
  CountSymbolsFaster(&j->cinfo, j->halves ? j->halves->Counts() : nullptr);
  CountSymbolsWhileWriting(&j->cinfo, &j->counts);
  if (app1_size > 0) {
    jpeg_write_marker(&j->cinfo, JPEG_APP0 + 1, app1,
                      static_cast<unsigned>(app1_size));
  }
  if (icc_size > 0) {
    jpeg_write_icc_profile(&j->cinfo, icc, static_cast<unsigned>(icc_size));
  }
  return true;
}

bool Write(JpegWriter::Jpeg* j, const uint8_t* row) {
  if (setjmp(j->jump)) return false;
  JSAMPROW rows[1] = {const_cast<JSAMPROW>(row)};
  jpeg_write_scanlines(&j->cinfo, rows, 1);
  return true;
}

bool End(JpegWriter::Jpeg* j) {
  if (setjmp(j->jump)) return false;
  jpeg_finish_compress(&j->cinfo);
  return true;
}

[[noreturn]] void Failed(const JpegWriter::Jpeg& j) {
  throw ConversionError(
      kExitOutput, std::string("JPEG cannot be written (") + j.message + ")");
}

uint64_t Mcus(uint32_t width, uint32_t height, int components, int quality) {
  const uint64_t mcu = components == 3 && Subsampled(quality) ? 16 : 8;
  return ((width + mcu - 1) / mcu) * ((height + mcu - 1) / mcu);
}

}  // namespace

uint64_t JpegWriter::CoefficientBytes(uint32_t width, uint32_t height,
                                      int components, int quality) {
  const bool subsampled = components == 3 && Subsampled(quality);
  const uint64_t mcus = Mcus(width, height, components, quality);
  const uint64_t blocks =
      components == 1 ? mcus : (subsampled ? mcus * 6 : mcus * 3);
  return blocks * 64 * sizeof(JCOEF);
}

bool JpegWriter::Optimises(uint32_t width, uint32_t height, int components,
                           int quality) {
  return CoefficientBytes(width, height, components, quality) <=
         kOptimiseBudget;
}

JpegWriter::JpegWriter(FILE* out, uint32_t width, uint32_t height,
                       int components, int quality, const PngMetadata& metadata,
                       SpareThread* spare)
    : jpeg_(std::make_unique<Jpeg>()) {
  jpeg_->cinfo.err = jpeg_std_error(&jpeg_->error);
  jpeg_->error.error_exit = OnError;
  jpeg_->error.emit_message = OnMessage;
  jpeg_->cinfo.client_data = jpeg_.get();
  // What JPEG cannot carry is left out rather than cut (MetadataLeftOut).
  std::vector<uint8_t> app1;
  if (!metadata.exif.empty() && metadata.exif.size() <= kLargestExif) {
    static constexpr uint8_t kPrefix[6] = {'E', 'x', 'i', 'f', 0, 0};
    app1.assign(kPrefix, kPrefix + 6);
    app1.insert(app1.end(), metadata.exif.begin(), metadata.exif.end());
  }
  const bool optimise = Optimises(width, height, components, quality);
  if (const uint64_t mcus = Mcus(width, height, components, quality);
      optimise && OutputHalves::Pays(mcus, spare)) {
    jpeg_->halves = std::make_unique<OutputHalves>(
        out, mcus,
        CoefficientBytes(width, height, components, quality) /
            (64 * sizeof(JCOEF)),
        spare);
  } else if (spare) {
    // Nothing will come for it: it need not wait.
    spare->Decline();
  }
  if (!Start(jpeg_.get(), out, width, height, components, quality, optimise,
             JfifDensity(metadata), metadata.icc_profile.data(),
             metadata.icc_profile.size() <= kLargestProfile
                 ? metadata.icc_profile.size()
                 : 0,
             app1.data(), app1.size())) {
    Failed(*jpeg_);
  }
}

JpegWriter::~JpegWriter() = default;

std::vector<std::string> MetadataLeftOut(const PngMetadata& metadata) {
  std::vector<std::string> left_out;
  if (metadata.icc_profile.size() > kLargestProfile) {
    left_out.push_back(
        "its colour profile (" + std::to_string(metadata.icc_profile.size()) +
        " bytes) is larger than a JPEG can carry (" +
        std::to_string(kLargestProfile) + " bytes) and was left out");
  }
  if (metadata.exif.size() > kLargestExif) {
    left_out.push_back(
        "its Exif data (" + std::to_string(metadata.exif.size()) +
        " bytes) is larger than a JPEG can carry (" +
        std::to_string(kLargestExif) + " bytes) and was left out");
  }
  return left_out;
}

void JpegWriter::WriteRow(const uint8_t* row) {
  if (!Write(jpeg_.get(), row)) Failed(*jpeg_);
}

void JpegWriter::Finish() {
  if (!End(jpeg_.get())) Failed(*jpeg_);
  if (jpeg_->halves) jpeg_->halves->Finish();
}

const SymbolCounts& JpegWriter::Counts() const { return jpeg_->counts; }

}  // namespace lumeconv
