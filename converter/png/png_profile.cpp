#include "png_profile.h"

#include <algorithm>

#include "chunk_scan.h"
#include "inflater.h"
#include "png_chunks.h"

namespace lumeconv {

namespace {

constexpr uint32_t kHeaderSize = 132;
constexpr uint32_t kLargestProfile = kMaxAncillaryChunk + 1024;

// Inflates until `out` holds `want` bytes; false when the stream ends, fails
// or runs out of input first.
bool InflateExactly(Inflater& inflater, const uint8_t** in, size_t* in_size,
                    uint8_t* out, size_t want) {
  size_t got = 0;
  while (got < want) {
    const Inflater::Step step =
        inflater.Inflate(*in, *in_size, out + got, want - got);
    *in += step.consumed;
    *in_size -= step.consumed;
    got += step.produced;
    if (got == want) return true;
    if (step.status != Inflater::Status::kOk) return false;
    if (step.consumed == 0 && step.produced == 0) return false;
  }
  return true;
}

bool HeaderIsUsable(const uint8_t* header, uint32_t length, int colour_type) {
  if (header[8] > 3 && (length & 3) != 0) return false;
  const uint32_t tags = BigEndian32(header + 128);
  if (tags > 357913930 || length < kHeaderSize + 12 * tags) return false;
  if (BigEndian32(header + 64) >= 0xffff) return false;  // rendering intent
  if (BigEndian32(header + 36) != ChunkType("acsp")) return false;
  const bool colour = (colour_type & 2) != 0;
  const uint32_t space = BigEndian32(header + 16);
  if (space == ChunkType("RGB ")) {
    if (!colour) return false;
  } else if (space == ChunkType("GRAY")) {
    if (colour) return false;
  } else {
    return false;
  }
  const uint32_t device = BigEndian32(header + 12);
  if (device == ChunkType("abst") || device == ChunkType("link")) return false;
  const uint32_t connection = BigEndian32(header + 20);
  return connection == ChunkType("XYZ ") || connection == ChunkType("Lab ");
}

bool TagsLieInside(const uint8_t* table, uint32_t tags, uint32_t length) {
  for (uint32_t i = 0; i < tags; ++i, table += 12) {
    const uint32_t start = BigEndian32(table + 4);
    const uint32_t size = BigEndian32(table + 8);
    if (start > length || size > length - start) return false;
  }
  return true;
}

}  // namespace

ProfileVerdict ReadIccProfile(const std::vector<uint8_t>& chunk,
                              int colour_type, std::vector<uint8_t>* profile) {
  // The keyword, its terminator and the method byte are looked for in the
  // first 81 bytes; at least 11 more must follow.
  const size_t head = std::min<size_t>(81, chunk.size());
  if (chunk.size() - head < 11) return ProfileVerdict::kIgnored;
  size_t keyword = 0;
  while (keyword < 80 && keyword < head && chunk[keyword] != 0) ++keyword;
  if (keyword < 1 || keyword > 79) return ProfileVerdict::kInvalid;
  if (keyword + 1 >= head || chunk[keyword + 1] != 0) {
    return ProfileVerdict::kInvalid;
  }

  const uint8_t* in = chunk.data() + keyword + 2;
  size_t in_size = chunk.size() - keyword - 2;
  // zlib, as the reference has it: it stops where the profile is complete,
  // while the strict engine decodes ahead and may meet damage after the
  // profile's end.
  Inflater inflater(/*zlib_only=*/true);
  uint8_t header[kHeaderSize];
  if (!InflateExactly(inflater, &in, &in_size, header, kHeaderSize)) {
    return ProfileVerdict::kInvalid;
  }
  const uint32_t length = BigEndian32(header);
  if (length < kHeaderSize || length > kLargestProfile ||
      !HeaderIsUsable(header, length, colour_type)) {
    return ProfileVerdict::kInvalid;
  }
  std::vector<uint8_t> whole(length);
  std::copy(header, header + kHeaderSize, whole.begin());
  const uint32_t tags = BigEndian32(header + 128);
  uint8_t* table = whole.data() + kHeaderSize;
  if (!InflateExactly(inflater, &in, &in_size, table, 12 * tags) ||
      !TagsLieInside(table, tags, length) ||
      !InflateExactly(inflater, &in, &in_size, table + 12 * tags,
                      length - kHeaderSize - 12 * tags)) {
    return ProfileVerdict::kInvalid;
  }
  *profile = std::move(whole);
  return ProfileVerdict::kKept;
}

}  // namespace lumeconv
