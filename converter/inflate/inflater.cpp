#include "inflater.h"

#include <zlib.h>

#include <climits>
#include <string_view>

#include "deflate_stream.h"

#ifdef LUMECONV_HAVE_ISAL
#include <isa-l/igzip_lib.h>
#endif

namespace lumeconv {

namespace {

// zlib inflates streams ISA-L cannot be trusted with, and everything in a
// build without ISA-L.
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

#ifdef LUMECONV_HAVE_ISAL

// ISA-L inflates raw deflate data and checks the trailing Adler-32; the
// two-byte zlib header is checked here with zlib's own rules. ISA-L does
// not hold a stream to a window smaller than 32 KiB (optimisers write one
// for Huffman-only and run-length streams, libpng for small images), so
// such a stream goes to DeflateStream, which refuses a match reaching past
// the window. Either is stricter than zlib, which lets such a match reach
// into what the same call wrote; the caller then lets zlib judge.
struct Inflater::State {
  inflate_state isal;
  ZlibStream zlib;
  std::unique_ptr<DeflateStream> small_window;
  uint8_t header[2];
  int header_bytes = 0;
  bool zlib_only = false;
  bool failed = false;
};

namespace {

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
  if (state_->zlib_only) {
    state_->failed = !state_->zlib.Reset();
    return;
  }
  isal_inflate_init(&state_->isal);
  state_->isal.crc_flag = ISAL_ZLIB_NO_HDR_VER;
  state_->header_bytes = 0;
  state_->small_window.reset();
  state_->failed = false;
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
    if (window_bits < 15) {
      s.small_window =
          std::make_unique<DeflateStream>(uint32_t{1} << window_bits);
    }
  }
  if (s.header_bytes < 2) return {Status::kOk, header_taken, 0};
  if (s.small_window) {
    Step step = s.small_window->Decode(in + header_taken,
                                       in_size - header_taken, out, out_size);
    step.consumed += header_taken;
    s.failed =
        step.status == Status::kBadData || step.status == Status::kBadCheck;
    return step;
  }

  // ISA-L counts in 32 bits; the callers never pass more than that.
  s.isal.next_in = const_cast<uint8_t*>(in + header_taken);
  s.isal.avail_in = static_cast<uint32_t>(in_size - header_taken);
  s.isal.next_out = out;
  s.isal.avail_out =
      static_cast<uint32_t>(out_size > UINT32_MAX ? UINT32_MAX : out_size);
  const uint32_t given = s.isal.avail_in;
  const uint32_t room = s.isal.avail_out;
  const int result = isal_inflate(&s.isal);
  Step step{Status::kOk, given - s.isal.avail_in, room - s.isal.avail_out};
  if (result == ISAL_INCORRECT_CHECKSUM) {
    step.status = Status::kBadCheck;
  } else if (result < 0 || result == ISAL_NEED_DICT) {
    step.status = Status::kBadData;
  } else if (s.isal.block_state == ISAL_BLOCK_FINISH) {
    step.status = Status::kEnded;
  }
  step.consumed += header_taken;
  if (step.status == Status::kBadData || step.status == Status::kBadCheck) {
    s.failed = true;
  }
  return step;
}

bool Inflater::HoldsToWindow() const {
  return !state_->zlib_only && state_->header_bytes == 2;
}

const char* Inflater::Engine() { return "ISA-L"; }

#else

struct Inflater::State {
  ZlibStream zlib;
  bool failed = false;
};

void Inflater::Reset() { state_->failed = !state_->zlib.Reset(); }

Inflater::Step Inflater::Inflate(const uint8_t* in, size_t in_size,
                                 uint8_t* out, size_t out_size) {
  State& s = *state_;
  if (s.failed) return {Status::kBadData, 0, 0};
  const Step step = s.zlib.Inflate(in, in_size, out, out_size);
  s.failed =
      step.status == Status::kBadData || step.status == Status::kBadCheck;
  return step;
}

bool Inflater::HoldsToWindow() const { return false; }

const char* Inflater::Engine() { return "zlib"; }

#endif

Inflater::Inflater(bool zlib_only) : state_(std::make_unique<State>()) {
#ifdef LUMECONV_HAVE_ISAL
  state_->zlib_only = zlib_only;
#else
  static_cast<void>(zlib_only);
#endif
  Reset();
}

Inflater::~Inflater() = default;

}  // namespace lumeconv
