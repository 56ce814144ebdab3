#include "png_chunks.h"

#include "byte_source.h"
#include "checksums.h"
#include "chunk_scan.h"
#include "image_reader.h"

namespace lumeconv {

namespace {

void ReadExactly(ByteSource& source, uint8_t* data, size_t n) {
  if (source.Read(data, n) != n) ThrowDamaged("truncated");
}

}  // namespace

ChunkReader::ChunkReader(ByteSource& source) : source_(source) {
  source_.Rewind();
  uint8_t signature[8];
  ReadExactly(source_, signature, sizeof signature);
  offset_ = sizeof signature;
}

ChunkReader::Header ChunkReader::Next() {
  uint8_t header[8];
  ReadExactly(source_, header, sizeof header);
  offset_ += sizeof header;
  // The layout check may still be walking the file: what it would refuse is
  // refused here too, before anything is read into memory for it.
  CheckChunkHeader(header);
  remaining_ = BigEndian32(header);
  crc_ = Crc32(0, header + 4, 4);
  return {remaining_, BigEndian32(header + 4)};
}

void ChunkReader::Read(uint8_t* data, size_t n) {
  ReadExactly(source_, data, n);
  offset_ += n;
  crc_ = Crc32(crc_, data, n);
  remaining_ -= static_cast<uint32_t>(n);
}

bool ChunkReader::End() {
  uint8_t buffer[4096];
  while (remaining_ > 0) {
    const size_t n = remaining_ < sizeof buffer ? remaining_ : sizeof buffer;
    Read(buffer, n);
  }
  uint8_t stored[4];
  ReadExactly(source_, stored, sizeof stored);
  offset_ += sizeof stored;
  return BigEndian32(stored) == crc_;
}

void ChunkReader::GoBack(const Place& place) {
  source_.Rewind();
  if (!source_.Skip(place.offset)) ThrowDamaged("truncated");
  offset_ = place.offset;
  remaining_ = place.remaining;
  crc_ = place.crc;
}

}  // namespace lumeconv
