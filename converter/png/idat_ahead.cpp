#include "idat_ahead.h"

#include <algorithm>

#include "byte_source.h"
#include "png_chunks.h"

namespace lumeconv {

namespace {

constexpr uint32_t kIdat = ChunkType("IDAT");

}  // namespace

IdatAhead::IdatAhead(std::unique_ptr<ByteSource> cursor)
    : cursor_(std::move(cursor)) {
  cursor_->Rewind();
}

IdatAhead::~IdatAhead() = default;

bool IdatAhead::ReadFile(uint64_t at, uint8_t* out, size_t n) {
  try {
    if (at < position_) {
      cursor_->Rewind();
      position_ = 0;
    }
    if (!cursor_->Skip(at - position_)) return false;
    const size_t got = cursor_->Read(out, n);
    position_ = at + got;
    return got == n;
  } catch (...) {
    // The reading meets whatever went wrong here, in its order.
    return false;
  }
}

bool IdatAhead::NextSpan() {
  while (!ended_) {
    uint8_t header[8];
    if (!ReadFile(walked_, header, sizeof header)) break;
    const uint32_t size = BigEndian32(header);
    const uint32_t type = BigEndian32(header + 4);
    if (size > 0x7fffffffu) break;
    if (type != kIdat) {
      // Other chunks come before the image data; any after it ends it.
      if (!spans_.empty()) break;
      walked_ += uint64_t{size} + 12;
      continue;
    }
    spans_.push_back({walked_ + 8, stream_size_, size});
    stream_size_ += size;
    walked_ += uint64_t{size} + 12;
    return true;
  }
  ended_ = true;
  return false;
}

size_t IdatAhead::ReadAt(uint64_t offset, uint8_t* out, size_t n) {
  while (stream_size_ < offset + n && NextSpan()) {
  }
  auto span = std::upper_bound(
      spans_.begin(), spans_.end(), offset,
      [](uint64_t at, const Span& s) { return at < s.stream; });
  if (span == spans_.begin()) return 0;
  --span;
  size_t done = 0;
  for (; span != spans_.end() && done < n; ++span) {
    const uint64_t at = offset + done;
    if (at >= span->stream + span->size) continue;
    const size_t count = static_cast<size_t>(
        std::min<uint64_t>(n - done, span->stream + span->size - at));
    if (!ReadFile(span->file + (at - span->stream), out + done, count)) break;
    done += count;
  }
  return done;
}

}  // namespace lumeconv
