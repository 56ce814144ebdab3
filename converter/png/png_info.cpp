#include "png_info.h"

#include <algorithm>
#include <vector>

#include "inflater.h"
#include "png_chunks.h"
#include "png_profile.h"

namespace lumeconv {

namespace {

constexpr uint32_t kIhdr = ChunkType("IHDR");
constexpr uint32_t kPlte = ChunkType("PLTE");
constexpr uint32_t kIdat = ChunkType("IDAT");
constexpr uint32_t kIend = ChunkType("IEND");
constexpr uint32_t kTrns = ChunkType("tRNS");
constexpr uint32_t kIccp = ChunkType("iCCP");
constexpr uint32_t kPhys = ChunkType("pHYs");
constexpr uint32_t kExif = ChunkType("eXIf");

constexpr int kGrey = 0;
constexpr int kRgb = 2;
constexpr int kPalette = 3;
constexpr int kGreyAlpha = 4;
constexpr int kRgba = 6;

void EndCritical(ChunkReader& chunks) {
  if (!chunks.End()) ThrowDamaged("CRC error");
}

void ReadHeader(ChunkReader& chunks, uint32_t length, PngInfo* info) {
  if (length != 13) ThrowDamaged("IHDR: invalid");
  uint8_t data[13];
  chunks.Read(data, sizeof data);
  EndCritical(chunks);
  info->width = BigEndian32(data);
  info->height = BigEndian32(data + 4);
  info->bit_depth = data[8];
  info->colour_type = data[9];
  if (info->width == 0 || info->width > 0x7fffffffu) {
    ThrowDamaged("Invalid image width in IHDR");
  }
  if (info->height == 0 || info->height > 0x7fffffffu) {
    ThrowDamaged("Invalid image height in IHDR");
  }
  const int depth = info->bit_depth;
  if (depth != 1 && depth != 2 && depth != 4 && depth != 8 && depth != 16) {
    ThrowDamaged("Invalid bit depth in IHDR");
  }
  switch (info->colour_type) {
    case kGrey:
      info->channels = 1;
      break;
    case kPalette:
      info->channels = 1;
      if (depth > 8) ThrowDamaged("Invalid color type/bit depth combination");
      break;
    case kRgb:
    case kGreyAlpha:
    case kRgba:
      info->channels = info->colour_type == kRgb         ? 3
                       : info->colour_type == kGreyAlpha ? 2
                                                         : 4;
      if (depth < 8) ThrowDamaged("Invalid color type/bit depth combination");
      break;
    default:
      ThrowDamaged("Invalid color type in IHDR");
  }
  if (data[12] > 1) ThrowDamaged("Unknown interlace method in IHDR");
  if (data[10] != 0) ThrowDamaged("Unknown compression method in IHDR");
  if (data[11] != 0) ThrowDamaged("Unknown filter method in IHDR");
  info->interlaced = data[12] == 1;
}

// The reader's state between chunks, as the reference decoder keeps it.
struct Seen {
  bool header = false;
  bool palette = false;  // a PLTE chunk, even one that was ignored
  bool transparency = false;
  bool density = false;
  bool exif = false;
  bool colour_space_invalid = false;
};

void ReadPalette(ChunkReader& chunks, uint32_t length, PngInfo* info,
                 Seen* seen) {
  if (seen->palette) ThrowDamaged("PLTE: duplicate");
  seen->palette = true;
  if ((info->colour_type & 2) == 0) {  // a suggestion only, for grey
    EndCritical(chunks);
    return;
  }
  const bool indexed = info->colour_type == kPalette;
  if (length > 3 * 256 || length % 3 != 0) {
    EndCritical(chunks);
    if (indexed) ThrowDamaged("PLTE: invalid");
    return;
  }
  const uint32_t limit = indexed ? 1u << info->bit_depth : 256;
  const uint32_t entries = length / 3 < limit ? length / 3 : limit;
  std::array<uint8_t, 256 * 3> colours{};
  chunks.Read(colours.data(), entries * 3);
  EndCritical(chunks);
  if (entries == 0) ThrowDamaged("Invalid palette");
  if (indexed) info->palette = colours;
  // A transparency chunk must follow the palette; one before it is void.
  if (seen->transparency) {
    info->has_key = false;
    info->alpha_count = 0;
  }
}

void ReadTransparency(ChunkReader& chunks, uint32_t length, PngInfo* info,
                      Seen* seen, int palette_entries) {
  if (seen->transparency) {
    chunks.End();
    return;
  }
  uint8_t data[256];
  int count = 0;
  if (info->colour_type == kGrey && length == 2) {
    count = 1;
  } else if (info->colour_type == kRgb && length == 6) {
    count = 1;
  } else if (info->colour_type == kPalette && seen->palette && length > 0 &&
             length <= static_cast<uint32_t>(palette_entries)) {
    count = static_cast<int>(length);
  } else {
    chunks.End();
    return;
  }
  chunks.Read(data, length);
  if (!chunks.End()) return;
  seen->transparency = true;
  if (info->colour_type == kPalette) {
    std::copy(data, data + count, info->palette_alpha.begin());
    info->alpha_count = count;
  } else {
    info->has_key = true;
    for (uint32_t i = 0; i < length / 2; ++i) {
      info->key[i] = BigEndian16(data + 2 * i);
    }
  }
}

void ReadDensity(ChunkReader& chunks, uint32_t length, PngInfo* info,
                 Seen* seen) {
  if (seen->density || length != 9) {
    chunks.End();
    return;
  }
  uint8_t data[9];
  chunks.Read(data, sizeof data);
  if (!chunks.End()) return;
  seen->density = true;
  const uint32_t x = BigEndian32(data);
  const uint32_t y = BigEndian32(data + 4);
  if (x == 0 || y == 0) return;  // no use to a JPEG
  PngMetadata& m = info->metadata;
  m.has_density = true;
  m.density_per_metre = data[8] == 1;
  m.x_density = x;
  m.y_density = y;
}

void ReadExif(ChunkReader& chunks, uint32_t length, PngInfo* info, Seen* seen) {
  if (length < 2 || seen->exif) {
    chunks.End();
    return;
  }
  std::vector<uint8_t> data(length);
  chunks.Read(data.data(), length);
  const bool byte_order =
      (data[1] == 'M' || data[1] == 'I') && data[0] == data[1];
  if (!chunks.End() || !byte_order) return;
  seen->exif = true;
  info->metadata.exif = ExifWithoutPrefix(data.data(), data.size());
}

void ReadProfileChunk(ChunkReader& chunks, uint32_t length, PngInfo* info,
                      Seen* seen) {
  if (seen->palette || seen->colour_space_invalid || length < 14) {
    chunks.End();
    return;
  }
  std::vector<uint8_t> data(length);
  chunks.Read(data.data(), length);
  chunks.End();  // the profile is used even when the CRC fails
  switch (
      ReadIccProfile(data, info->colour_type, &info->metadata.icc_profile)) {
    case ProfileVerdict::kKept:
      break;
    case ProfileVerdict::kIgnored:
      break;
    case ProfileVerdict::kInvalid:
      // A bad profile voids the colour space, an earlier good one too.
      seen->colour_space_invalid = true;
      info->metadata.icc_profile.clear();
      break;
  }
}

int PaletteEntries(const PngInfo& info, uint32_t plte_length) {
  const int limit = info.colour_type == kPalette ? 1 << info.bit_depth : 256;
  const int entries = static_cast<int>(plte_length / 3);
  return entries < limit ? entries : limit;
}

}  // namespace

PngInfo ReadInfo(ChunkReader& chunks) {
  PngInfo result;
  PngInfo* info = &result;
  Seen seen;
  int palette_entries = 0;
  for (;;) {
    const ChunkReader::Header chunk = chunks.Next();
    if (chunk.type == kIdat) {
      if (!seen.header) ThrowDamaged("Missing IHDR before IDAT");
      if (info->colour_type == kPalette && !seen.palette) {
        ThrowDamaged("Missing PLTE before IDAT");
      }
      return result;
    }
    if (chunk.type == kIhdr) {
      if (seen.header) ThrowDamaged("IHDR: out of place");
      seen.header = true;
      ReadHeader(chunks, chunk.length, info);
      continue;
    }
    const bool known = chunk.type == kIend || chunk.type == kPlte ||
                       chunk.type == kTrns || chunk.type == kIccp ||
                       chunk.type == kPhys || chunk.type == kExif;
    if (!known) {
      if (IsCritical(chunk.type)) ThrowDamaged("unhandled critical chunk");
      chunks.End();
      continue;
    }
    if (!seen.header) ThrowDamaged("missing IHDR");
    switch (chunk.type) {
      case kIend:
        ThrowDamaged("IEND: out of place");
      case kPlte:
        ReadPalette(chunks, chunk.length, info, &seen);
        palette_entries = PaletteEntries(*info, chunk.length);
        break;
      case kTrns:
        ReadTransparency(chunks, chunk.length, info, &seen, palette_entries);
        break;
      case kIccp:
        ReadProfileChunk(chunks, chunk.length, info, &seen);
        break;
      case kPhys:
        ReadDensity(chunks, chunk.length, info, &seen);
        break;
      case kExif:
        ReadExif(chunks, chunk.length, info, &seen);
        break;
    }
  }
}

void ReadTrailingChunks(ChunkReader& chunks) {
  // Past the image data only a second header is fatal, and a critical
  // chunk whose CRC fails; the rest is passed over unread.
  for (;;) {
    const ChunkReader::Header chunk = chunks.Next();
    if (chunk.type == kIhdr) ThrowDamaged("IHDR: out of place");
    if (!chunks.End() && IsCritical(chunk.type)) ThrowDamaged("CRC error");
    if (chunk.type == kIend) return;
  }
}

}  // namespace lumeconv
