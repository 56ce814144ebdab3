// libFuzzer entry: any bytes through both PNG readers, which must agree,
// then through the whole conversion into /dev/null, with the inflate split
// over two threads even for the smallest stream. Each input is also
// tried with every chunk CRC made right, or mutations would hardly ever get
// past the CRC checks to the decoding.
#include <zlib.h>

#include <cstdio>
#include <cstdlib>
#include <vector>

#include "byte_source.h"
#include "conversion_error.h"
#include "convert.h"
#include "inflater.h"
#include "reader_agreement.h"

namespace {

void Compare(const uint8_t* data, size_t size) {
  bool accepted = false;
  const std::string disagreement =
      lumeconv::ReaderDisagreement(data, size, &accepted);
  if (!disagreement.empty()) {
    std::fprintf(stderr, "readers disagree: %s\n", disagreement.c_str());
    std::abort();
  }
  if (!accepted) return;
  static FILE* sink = std::fopen("/dev/null", "wb");
  lumeconv::MemorySource source(data, size);
  try {
    lumeconv::ConvertStream(source, sink, 75, P_tmpdir);
  } catch (const lumeconv::ConversionError&) {
  }
}

// Rewrites the CRC of every whole chunk after the signature.
std::vector<uint8_t> WithRightCrcs(const uint8_t* data, size_t size) {
  std::vector<uint8_t> copy(data, data + size);
  size_t at = 8;
  while (at + 12 <= size) {
    const uint32_t length = (uint32_t{copy[at]} << 24) |
                            (uint32_t{copy[at + 1]} << 16) |
                            (uint32_t{copy[at + 2]} << 8) | copy[at + 3];
    if (length > size - at - 12) break;
    const uint32_t crc =
        static_cast<uint32_t>(crc32(0, &copy[at + 4], length + 4));
    for (int i = 0; i < 4; ++i) {
      copy[at + 8 + length + i] = static_cast<uint8_t>(crc >> (24 - 8 * i));
    }
    at += size_t{length} + 12;
  }
  return copy;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  lumeconv::ForceSplitInflate(true);
  Compare(data, size);
  const std::vector<uint8_t> repaired = WithRightCrcs(data, size);
  if (repaired != std::vector<uint8_t>(data, data + size)) {
    Compare(repaired.data(), repaired.size());
  }
  return 0;
}
