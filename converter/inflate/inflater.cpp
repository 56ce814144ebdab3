#include "inflater.h"

#include <sched.h>
#include <zlib.h>

#include <atomic>
#include <climits>
#include <string_view>

#include "deflate_stream.h"
#include "split_stream.h"

namespace lumeconv {

namespace {

// zlib judges the streams the strict engine refuses.
class ZlibStream {
 public:
  ~ZlibStream() {
    if (open_) inflateEnd(&z_);
  }

  bool Reset() {
    open_ =
        open_ ? inflateReset2(&z_, 0) == Z_OK : inflateInit2(&z_, 0) == Z_OK;
    return open_;
  }

  Inflater::Step Inflate(const uint8_t* in, size_t in_size, uint8_t* out,
                         size_t out_size) {
    z_.next_in = const_cast<Bytef*>(in);
    z_.avail_in = static_cast<uInt>(in_size > UINT_MAX ? UINT_MAX : in_size);
    z_.next_out = out;
    z_.avail_out = static_cast<uInt>(out_size > UINT_MAX ? UINT_MAX : out_size);
    const uInt given = z_.avail_in;
    const uInt room = z_.avail_out;
    const int result = inflate(&z_, Z_NO_FLUSH);
    Inflater::Step step{Inflater::Status::kOk, given - z_.avail_in,
                        room - z_.avail_out};
    if (result == Z_STREAM_END) {
      step.status = Inflater::Status::kEnded;
    } else if (result == Z_DATA_ERROR && z_.msg &&
               std::string_view(z_.msg) == "incorrect data check") {
      step.status = Inflater::Status::kBadCheck;
    } else if (result != Z_OK && result != Z_BUF_ERROR) {
      step.status = Inflater::Status::kBadData;
    }
    return step;
  }

 private:
  z_stream z_{};
  bool open_ = false;
};

}  // namespace

// The strict engine inflates the deflate data and checks the trailing
// Adler-32; the two-byte zlib header is checked here with zlib's own rules.
// It holds a stream to the window its header claims, and every code set to
// zlib's rules, so a stream it refuses is one zlib may still take (zlib
// lets a match reach into what the same call wrote): the caller then lets
// zlib judge.
struct Inflater::State {
  ZlibStream zlib;
  std::unique_ptr<DeflateStream> strict;
  std::unique_ptr<AheadInput> ahead;
  std::unique_ptr<SplitStream> split;
  uint8_t header[2];
  int header_bytes = 0;
  bool zlib_only = false;
  bool failed = false;
};

namespace {

std::atomic<bool> forced_split{false};

// Parts of about this much deflate data each, at most this many bytes
// decoded; on 1080p photos, about five for each thread. Larger parts cost
// less in looking and in blocks decoded twice, but leave one thread alone
// longer at the end.
constexpr uint64_t kPartBits = uint64_t{384} << 13;
constexpr size_t kPartBytes = size_t{1} << 20;
constexpr uint64_t kForcedPartBits = 4096;
constexpr size_t kForcedPartBytes = size_t{256} << 10;
// Below this, the second thread's start-up and the parts' first blocks,
// decoded twice, cost more than the thread wins.
constexpr uint64_t kSplitFrom = uint64_t{2} << 20;
// A conversion already keeps two threads busy, reading and encoding. On two
// cores a third one took their time rather than idle time: the inflate
// alone ran 1.3 to 1.7 times as fast split, whole conversions no faster,
// for 10 to 25 % more CPU.
constexpr int kSplitCores = 3;

// zlib's checks: the header checksum, method 8, a window of at most 32 KiB
// and no preset dictionary (PNG has none to give).
bool HeaderIsValid(const uint8_t* header, int* window_bits) {
  if (((header[0] << 8) | header[1]) % 31 != 0) return false;
  if ((header[0] & 0x0f) != 8) return false;
  *window_bits = (header[0] >> 4) + 8;
  return *window_bits <= 15 && (header[1] & 0x20) == 0;
}

}  // namespace

void Inflater::Reset() {
  State& s = *state_;
  s.header_bytes = 0;
  s.strict.reset();
  s.split.reset();
  s.failed = s.zlib_only && !s.zlib.Reset();
}

Inflater::Step Inflater::Inflate(const uint8_t* in, size_t in_size,
                                 uint8_t* out, size_t out_size) {
  State& s = *state_;
  if (s.failed) return {Status::kBadData, 0, 0};
  if (s.zlib_only) {
    const Step step = s.zlib.Inflate(in, in_size, out, out_size);
    s.failed =
        step.status == Status::kBadData || step.status == Status::kBadCheck;
    return step;
  }
  size_t header_taken = 0;
  while (s.header_bytes < 2 && header_taken < in_size) {
    s.header[s.header_bytes++] = in[header_taken++];
    if (s.header_bytes < 2) continue;
    int window_bits = 15;
    if (!HeaderIsValid(s.header, &window_bits)) {
      s.failed = true;
      return {Status::kBadData, header_taken, 0};
    }
    const uint32_t window = uint32_t{1} << window_bits;
    if (s.ahead) {
      const bool forced = forced_split.load();
      s.split = std::make_unique<SplitStream>(
          window, std::move(s.ahead), forced ? kForcedPartBits : kPartBits,
          forced ? kForcedPartBytes : kPartBytes);
    } else {
      s.strict = std::make_unique<DeflateStream>(window);
    }
  }
  if (s.header_bytes < 2) return {Status::kOk, header_taken, 0};
  Step step = s.split ? s.split->Decode(in + header_taken,
                                        in_size - header_taken, out, out_size)
                      : s.strict->Decode(in + header_taken,
                                         in_size - header_taken, out, out_size);
  step.consumed += header_taken;
  s.failed =
      step.status == Status::kBadData || step.status == Status::kBadCheck;
  return step;
}

uint64_t Inflater::BytesAhead() const {
  return state_->split ? state_->split->BytesAhead() : 0;
}

bool Inflater::HoldsToWindow() const {
  return !state_->zlib_only && state_->header_bytes == 2;
}

Inflater::Inflater(bool zlib_only, std::unique_ptr<AheadInput> ahead)
    : state_(std::make_unique<State>()) {
  state_->zlib_only = zlib_only;
  state_->ahead = std::move(ahead);
  Reset();
}

bool SplitsInflate(uint64_t bytes) {
  if (forced_split.load()) return true;
  if (bytes < kSplitFrom) return false;
  cpu_set_t cores;
  return sched_getaffinity(0, sizeof cores, &cores) == 0 &&
         CPU_COUNT(&cores) >= kSplitCores;
}

void ForceSplitInflate(bool on) { forced_split.store(on); }

Inflater::~Inflater() = default;

}  // namespace lumeconv
