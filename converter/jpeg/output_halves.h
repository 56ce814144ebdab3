#pragma once

#include <cstdint>
#include <cstdio>
#include <memory>

struct jpeg_compress_struct;

namespace lumeconv {

struct HalfCounts;
class SpareThread;

// The pass that writes an optimised image's data, in two halves on two
// threads. That pass ran alone after the last row, an eighth of a photo's
// conversion. Where the counting pass kept every symbol with its extra
// bits, each half is written from those. Otherwise a helper encodes the
// upper half with a compressor of its own and the same tables, while
// libjpeg encodes the lower half with its DC predictors carried over. The
// two are then joined bit for bit, so the file is the one a single pass
// writes.
class OutputHalves {
 public:
  // Whether an image of this many MCUs is written in two halves: it must be
  // large enough to pay for the helper's compressor, with a spare thread.
  static bool Pays(uint64_t mcus, const SpareThread* spare);

  // For a compressor of `mcus` MCUs of `blocks` blocks in all, whose
  // tables are to be optimised and whose file is `out`. The upper half goes
  // to `spare` when it takes it, else it is encoded here, after the lower
  // half.
  OutputHalves(FILE* out, uint64_t mcus, uint64_t blocks, SpareThread* spare);
  ~OutputHalves();  // stops the spare thread's half and waits for it
  OutputHalves(const OutputHalves&) = delete;
  OutputHalves& operator=(const OutputHalves&) = delete;

  // After jpeg_create_compress: takes the place of its destination.
  void Attach(jpeg_compress_struct* cinfo);
  // For CountSymbolsFaster.
  HalfCounts* Counts();
  // After jpeg_finish_compress: writes the joined data and the end of the
  // file. Throws ConversionError.
  void Finish();

  struct State;

 private:
  std::unique_ptr<State> state_;
};

// For the tests: every optimised image of two MCUs or more is written in
// two halves.
void ForceOutputHalves(bool on);

}  // namespace lumeconv
