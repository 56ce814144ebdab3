#include "libpng_reader.h"

#include <png.h>

#include <csetjmp>
#include <cstring>
#include <string>

#include "byte_source.h"
#include "chunk_scan.h"
#include "conversion_error.h"
#include "flatten.h"

namespace lumeconv {

// libpng reports failures by longjmp; every call into it goes through one of
// the small functions below, which hold no C++ objects across the jump.
struct LibpngReader::Png {
  png_structp png = nullptr;
  png_infop info = nullptr;
  char message[200] = "";
  ByteSource* source = nullptr;

  // Here rather than in ~LibpngReader, so that a constructor that throws
  // releases libpng's state too.
  ~Png() {
    if (png) png_destroy_read_struct(&png, &info, nullptr);
  }
};

namespace {

// The side chunks the conversion carries over; libpng skips all others
// without parsing them.
constexpr png_byte kKeptChunks[] = "iCCP\0eXIf\0pHYs\0";

void OnError(png_structp png, png_const_charp message) {
  auto* state = static_cast<LibpngReader::Png*>(png_get_error_ptr(png));
  std::snprintf(state->message, sizeof state->message, "%s", message);
  png_longjmp(png, 1);
}

void OnWarning(png_structp, png_const_charp) {}

void OnRead(png_structp png, png_bytep data, size_t length) {
  auto* state = static_cast<LibpngReader::Png*>(png_get_io_ptr(png));
  if (state->source->Read(data, length) != length) {
    png_error(png, "unexpected end of file");
  }
}

bool Begin(LibpngReader::Png* p) {
  if (setjmp(png_jmpbuf(p->png))) return false;
  png_set_read_fn(p->png, p, OnRead);
  // Sizes are checked against the JPEG limits below, with a clearer message.
  png_set_user_limits(p->png, 0x7fffffff, 0x7fffffff);
  png_set_chunk_malloc_max(p->png, kMaxAncillaryChunk + 1024);
  png_set_keep_unknown_chunks(p->png, PNG_HANDLE_CHUNK_NEVER, nullptr, -1);
  png_set_keep_unknown_chunks(p->png, PNG_HANDLE_CHUNK_AS_DEFAULT, kKeptChunks,
                              3);
  png_read_info(p->png, p->info);
  return true;
}

bool SetUpTransforms(LibpngReader::Png* p, int* passes) {
  if (setjmp(png_jmpbuf(p->png))) return false;
  const int colour = png_get_color_type(p->png, p->info);
  const int depth = png_get_bit_depth(p->png, p->info);
  if (colour == PNG_COLOR_TYPE_PALETTE) png_set_palette_to_rgb(p->png);
  if (colour == PNG_COLOR_TYPE_GRAY && depth < 8) {
    png_set_expand_gray_1_2_4_to_8(p->png);
  }
  if (png_get_valid(p->png, p->info, PNG_INFO_tRNS)) {
    png_set_tRNS_to_alpha(p->png);
  }
  if (depth == 16) png_set_swap(p->png);  // to native order on this host
  *passes = png_set_interlace_handling(p->png);
  png_read_update_info(p->png, p->info);
  return true;
}

bool ReadRow(LibpngReader::Png* p, png_bytep row) {
  if (setjmp(png_jmpbuf(p->png))) return false;
  png_read_row(p->png, row, nullptr);
  return true;
}

bool ReadEnd(LibpngReader::Png* p) {
  if (setjmp(png_jmpbuf(p->png))) return false;
  png_read_end(p->png, nullptr);
  return true;
}

[[noreturn]] void Damaged(const LibpngReader::Png& p) {
  ThrowDamaged(p.message);
}

void ReadMetadata(png_structp png, png_infop info, PngMetadata* metadata) {
  png_charp name = nullptr;
  int compression = 0;
  png_bytep profile = nullptr;
  png_uint_32 profile_length = 0;
  if (png_get_iCCP(png, info, &name, &compression, &profile, &profile_length)) {
    metadata->icc_profile.assign(profile, profile + profile_length);
  }
  png_bytep exif = nullptr;
  png_uint_32 exif_length = 0;
  if (png_get_eXIf_1(png, info, &exif_length, &exif) && exif_length > 0) {
    metadata->exif = ExifWithoutPrefix(exif, exif_length);
  }
  png_uint_32 x = 0;
  png_uint_32 y = 0;
  int unit = 0;
  if (png_get_pHYs(png, info, &x, &y, &unit) && x > 0 && y > 0) {
    metadata->has_density = true;
    metadata->density_per_metre = unit == PNG_RESOLUTION_METER;
    metadata->x_density = x;
    metadata->y_density = y;
  }
}

}  // namespace

LibpngReader::LibpngReader(ByteSource& source) : png_(std::make_unique<Png>()) {
  ScanChunks(source);
  png_->source = &source;
  png_->png = png_create_read_struct(PNG_LIBPNG_VER_STRING, png_.get(), OnError,
                                     OnWarning);
  if (png_->png) png_->info = png_create_info_struct(png_->png);
  if (!png_->png || !png_->info) {
    throw ConversionError(kExitTooLarge, "cannot be read: out of memory");
  }
  if (!Begin(png_.get())) Damaged(*png_);

  width_ = png_get_image_width(png_->png, png_->info);
  height_ = png_get_image_height(png_->png, png_->info);
  CheckDimensions();
  interlaced_ =
      png_get_interlace_type(png_->png, png_->info) != PNG_INTERLACE_NONE;
  const int colour = png_get_color_type(png_->png, png_->info);
  components_ = (colour & PNG_COLOR_MASK_COLOR) ? 3 : 1;
  ReadMetadata(png_->png, png_->info, &metadata_);

  int passes = 1;
  if (!SetUpTransforms(png_.get(), &passes)) Damaged(*png_);
  channels_ = png_get_channels(png_->png, png_->info);
  bit_depth_ = png_get_bit_depth(png_->png, png_->info);
  row_bytes_ = png_get_rowbytes(png_->png, png_->info);

  if (interlaced_) CheckInterlacedSize(row_bytes_);
  flattened_.resize(size_t{width_} * components_);
  if (interlaced_) {
    ReadInterlaced(passes);
  } else {
    decoded_.resize(row_bytes_);
  }
}

void LibpngReader::ReadInterlaced(int passes) {
  // Each row gets its memory when the first pass that holds it arrives, so a
  // damaged or truncated file costs only what its data really filled.
  rows_.resize(height_);
  for (int pass = 0; pass < passes; ++pass) {
    for (uint32_t y = 0; y < height_; ++y) {
      if (rows_[y].empty() && PNG_ROW_IN_INTERLACE_PASS(y, pass)) {
        rows_[y].resize(row_bytes_);
      }
      if (!ReadRow(png_.get(), rows_[y].empty() ? nullptr : rows_[y].data())) {
        Damaged(*png_);
      }
    }
  }
}

LibpngReader::~LibpngReader() = default;

const uint8_t* LibpngReader::NextRawRow() {
  const uint8_t* row;
  if (interlaced_) {
    row = rows_[next_row_].data();
  } else {
    if (!ReadRow(png_.get(), decoded_.data())) Damaged(*png_);
    row = decoded_.data();
  }
  ++next_row_;
  if (bit_depth_ == 8 && channels_ == components_) return row;
  FlattenRow(row, flattened_.data(), width_, channels_, bit_depth_);
  return flattened_.data();
}

std::unique_ptr<ImageReader> OpenWithLibpng(ByteSource& source) {
  return std::make_unique<LibpngReader>(source);
}

void LibpngReader::Finish() {
  if (!ReadEnd(png_.get())) Damaged(*png_);
}

}  // namespace lumeconv
