#pragma once

#include <cstddef>
#include <cstdint>

namespace lumeconv {

class ByteSource;

constexpr uint32_t ChunkType(const char (&name)[5]) {
  return (uint32_t{static_cast<uint8_t>(name[0])} << 24) |
         (uint32_t{static_cast<uint8_t>(name[1])} << 16) |
         (uint32_t{static_cast<uint8_t>(name[2])} << 8) |
         uint32_t{static_cast<uint8_t>(name[3])};
}

// A critical chunk has an upper-case first letter; a reader that does not
// know one must give up, and one whose CRC fails is damage.
constexpr bool IsCritical(uint32_t type) { return (type & 0x20000000u) == 0; }

inline uint32_t BigEndian32(const uint8_t* p) {
  return (uint32_t{p[0]} << 24) | (uint32_t{p[1]} << 16) |
         (uint32_t{p[2]} << 8) | p[3];
}

inline uint16_t BigEndian16(const uint8_t* p) {
  return static_cast<uint16_t>((p[0] << 8) | p[1]);
}

// Reads a PNG chunk by chunk, checking each chunk's CRC over its type and
// data. The layout was already checked from the signature to IEND, so a
// short read means the file changed under us and is reported as damage.
class ChunkReader {
 public:
  // Reads past the signature.
  explicit ChunkReader(ByteSource& source);

  struct Header {
    uint32_t length;
    uint32_t type;
  };
  // Moves to the next chunk; the current one must have been ended.
  Header Next();
  uint32_t Remaining() const { return remaining_; }
  // Reads n bytes of the current chunk's data, n <= Remaining().
  void Read(uint8_t* data, size_t n);
  // Reads what is left of the data, then the CRC; true when it matches.
  bool End();

  // Where the reading stands, to come back to after reading on.
  struct Place {
    uint64_t offset;
    uint32_t remaining;
    uint32_t crc;
  };
  Place Here() const { return {offset_, remaining_, crc_}; }
  void GoBack(const Place& place);

 private:
  ByteSource& source_;
  uint64_t offset_ = 0;  // in the file
  uint32_t remaining_ = 0;
  uint32_t crc_ = 0;
};

}  // namespace lumeconv
