#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>

namespace lumeconv {

// Streaming inflate of one zlib stream (header, deflate data, Adler-32),
// through ISA-L where the build has it (DeflateStream for windows under
// 32 KiB) and zlib otherwise. Each call works
// like one zlib inflate call: it stops when the input is used up, the output
// is full, the stream has ended or the data is bad.
class Inflater {
 public:
  enum class Status {
    kOk,        // more input or more output room wanted
    kEnded,     // the stream is complete and its checksum matched
    kBadData,   // the header or the deflate data is invalid
    kBadCheck,  // everything decoded, but the Adler-32 does not match
  };
  struct Step {
    Status status;
    size_t consumed;  // input bytes taken
    size_t produced;  // output bytes written
  };

  // `zlib_only` keeps to zlib even in a build with ISA-L.
  explicit Inflater(bool zlib_only = false);
  ~Inflater();
  Inflater(const Inflater&) = delete;
  Inflater& operator=(const Inflater&) = delete;

  Step Inflate(const uint8_t* in, size_t in_size, uint8_t* out,
               size_t out_size);

  // True once the stream's header is read and an engine inflates it that
  // refuses every match reaching past the window. zlib lets such a match
  // reach into what the same call wrote, so with zlib the size of each
  // call can decide a verdict.
  bool HoldsToWindow() const;

  // What this build inflates with, for the benchmark's report.
  static const char* Engine();

 private:
  struct State;
  void Reset();

  std::unique_ptr<State> state_;
};

// The CRC-32 of PNG chunks (the same polynomial as zlib and gzip).
uint32_t Crc32(uint32_t crc, const uint8_t* data, size_t size);
// The Adler-32 of zlib streams; start with 1.
uint32_t Adler32(uint32_t adler, const uint8_t* data, size_t size);

}  // namespace lumeconv
