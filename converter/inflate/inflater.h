#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>

#include "ahead_input.h"
#include "inflate_step.h"

namespace lumeconv {

// Streaming inflate of one zlib stream (header, deflate data, Adler-32)
// with the strict engine, which refuses whatever zlib might judge
// otherwise, or with zlib. Each call works like one zlib inflate call: it
// stops when the input is used up, the output is full, the stream has
// ended or the data is bad.
class Inflater {
 public:
  using Status = InflateStatus;
  using Step = InflateStep;

  // `zlib_only` inflates with zlib rather than the strict engine. With
  // `ahead`, a second thread decodes parts of the stream ahead, read from
  // there (see SplitsInflate).
  explicit Inflater(bool zlib_only = false,
                    std::unique_ptr<AheadInput> ahead = nullptr);
  ~Inflater();
  Inflater(const Inflater&) = delete;
  Inflater& operator=(const Inflater&) = delete;

  Step Inflate(const uint8_t* in, size_t in_size, uint8_t* out,
               size_t out_size);

  // True once the stream's header is read and the strict engine inflates
  // it, which refuses every match reaching past the window. zlib lets such
  // a match reach into what the same call wrote, so with zlib the size of
  // each call can decide a verdict.
  bool HoldsToWindow() const;

  // How many of the bytes given were decoded by the second thread.
  uint64_t BytesAhead() const;

 private:
  struct State;
  void Reset();

  std::unique_ptr<State> state_;
};

// Whether a stream that inflates to about `bytes` is worth a second thread:
// only where the process may use a core more than a conversion keeps busy,
// and the stream is long enough to pay for it.
bool SplitsInflate(uint64_t bytes);
// For the tests and the fuzz target: every stream split, in small parts.
void ForceSplitInflate(bool on);

}  // namespace lumeconv
