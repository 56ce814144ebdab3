#pragma once

#include <cstddef>

namespace lumeconv {

// What one call of an inflate engine did, as one zlib inflate call tells it.
enum class InflateStatus {
  kOk,        // more input or more output room wanted
  kEnded,     // the stream is complete and its checksum matched
  kBadData,   // the header or the deflate data is invalid
  kBadCheck,  // everything decoded, but the Adler-32 does not match
};

struct InflateStep {
  InflateStatus status;
  size_t consumed;  // input bytes taken
  size_t produced;  // output bytes written
};

}  // namespace lumeconv
