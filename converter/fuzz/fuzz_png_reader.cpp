// libFuzzer entry: any bytes through both PNG readers, which must agree,
// then through the whole conversion into /dev/null.
#include <cstdio>
#include <cstdlib>

#include "byte_source.h"
#include "conversion_error.h"
#include "convert.h"
#include "reader_agreement.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  bool accepted = false;
  const std::string disagreement =
      lumeconv::ReaderDisagreement(data, size, &accepted);
  if (!disagreement.empty()) {
    std::fprintf(stderr, "readers disagree: %s\n", disagreement.c_str());
    std::abort();
  }
  if (!accepted) return 0;
  static FILE* sink = std::fopen("/dev/null", "wb");
  lumeconv::MemorySource source(data, size);
  try {
    lumeconv::ConvertStream(source, sink, 75, P_tmpdir);
  } catch (const lumeconv::ConversionError&) {
  }
  return 0;
}
