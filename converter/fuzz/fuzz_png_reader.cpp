// libFuzzer entry: any bytes through the whole conversion, into /dev/null.
#include <cstdio>

#include "byte_source.h"
#include "conversion_error.h"
#include "convert.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static FILE* sink = std::fopen("/dev/null", "wb");
  lumeconv::MemorySource source(data, size);
  try {
    lumeconv::ConvertStream(source, sink, 75, P_tmpdir);
  } catch (const lumeconv::ConversionError&) {
  }
  return 0;
}
