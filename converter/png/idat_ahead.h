#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

#include "ahead_input.h"

namespace lumeconv {

class ByteSource;

// The zlib stream of a PNG's IDAT chunks, for the thread that inflates
// ahead: read through a cursor of its own, walking the chunks without
// checking them. The reading checks every chunk in order as it always
// does; what this gives is only ever followed where the reading agrees.
class IdatAhead : public AheadInput {
 public:
  explicit IdatAhead(std::unique_ptr<ByteSource> cursor);
  ~IdatAhead() override;

  size_t ReadAt(uint64_t offset, uint8_t* out, size_t n) override;

 private:
  struct Span {
    uint64_t file;    // where the chunk's data starts
    uint64_t stream;  // its offset in the zlib stream
    uint32_t size;
  };
  // Finds the next IDAT chunk; false where the image data ends.
  bool NextSpan();
  bool ReadFile(uint64_t at, uint8_t* out, size_t n);

  std::unique_ptr<ByteSource> cursor_;
  uint64_t position_ = 0;  // the cursor's
  std::vector<Span> spans_;
  uint64_t walked_ = 8;  // the file offset of the next chunk to walk
  uint64_t stream_size_ = 0;
  bool ended_ = false;
};

}  // namespace lumeconv
