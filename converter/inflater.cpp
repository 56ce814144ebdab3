#include "inflater.h"

#include <climits>
#include <string_view>

#ifdef LUMECONV_HAVE_ISAL
#include <isa-l/crc.h>
#include <isa-l/igzip_lib.h>
#else
#include <zlib.h>
#endif

namespace lumeconv {

#ifdef LUMECONV_HAVE_ISAL

// ISA-L inflates raw deflate data and checks the trailing Adler-32; the
// two-byte zlib header is checked here with zlib's own rules, so that both
// engines accept exactly the same streams.
struct Inflater::State {
  inflate_state isal;
  uint8_t header[2];
  int header_bytes = 0;
  bool failed = false;
};

Inflater::Inflater() : state_(std::make_unique<State>()) { Reset(); }

void Inflater::Reset() {
  isal_inflate_init(&state_->isal);
  state_->isal.crc_flag = ISAL_ZLIB_NO_HDR_VER;
  state_->header_bytes = 0;
  state_->failed = false;
}

namespace {

// zlib's checks: the header checksum, method 8, a window of at most 32 KiB
// and no preset dictionary (PNG has none to give).
bool HeaderIsValid(const uint8_t* header, int* window_bits) {
  if (((header[0] << 8) | header[1]) % 31 != 0) return false;
  if ((header[0] & 0x0f) != 8) return false;
  const int bits = (header[0] >> 4) + 8;
  if (bits > 15) return false;
  if (header[1] & 0x20) return false;
  *window_bits = bits;
  return true;
}

}  // namespace

Inflater::Step Inflater::Inflate(const uint8_t* in, size_t in_size,
                                 uint8_t* out, size_t out_size) {
  State& s = *state_;
  if (s.failed) return {Status::kBadData, 0, 0};
  size_t header_taken = 0;
  while (s.header_bytes < 2 && header_taken < in_size) {
    s.header[s.header_bytes++] = in[header_taken++];
    if (s.header_bytes == 2) {
      int window_bits = 15;
      if (!HeaderIsValid(s.header, &window_bits)) {
        s.failed = true;
        return {Status::kBadData, header_taken, 0};
      }
      s.isal.hist_bits = window_bits;
    }
  }
  if (s.header_bytes < 2) return {Status::kOk, header_taken, 0};

  // ISA-L counts in 32 bits; the callers never pass more than that.
  s.isal.next_in = const_cast<uint8_t*>(in + header_taken);
  s.isal.avail_in = static_cast<uint32_t>(in_size - header_taken);
  s.isal.next_out = out;
  s.isal.avail_out =
      static_cast<uint32_t>(out_size > UINT32_MAX ? UINT32_MAX : out_size);
  const uint32_t room = s.isal.avail_out;
  const int result = isal_inflate(&s.isal);
  Step step{Status::kOk, in_size - s.isal.avail_in, room - s.isal.avail_out};
  if (result == ISAL_INCORRECT_CHECKSUM) {
    step.status = Status::kBadCheck;
    s.failed = true;
  } else if (result < 0 || result == ISAL_NEED_DICT) {
    step.status = Status::kBadData;
    s.failed = true;
  } else if (s.isal.block_state == ISAL_BLOCK_FINISH) {
    step.status = Status::kEnded;
  }
  return step;
}

const char* Inflater::Engine() { return "ISA-L"; }

uint32_t Crc32(uint32_t crc, const uint8_t* data, size_t size) {
  while (size > 0) {
    const uint64_t piece = size > UINT32_MAX ? UINT32_MAX : size;
    crc = crc32_gzip_refl(crc, data, piece);
    data += piece;
    size -= piece;
  }
  return crc;
}

#else

struct Inflater::State {
  z_stream zlib{};
  bool open = false;
  bool failed = false;

  ~State() {
    if (open) inflateEnd(&zlib);
  }
};

Inflater::Inflater() : state_(std::make_unique<State>()) { Reset(); }

void Inflater::Reset() {
  State& s = *state_;
  if (s.open) {
    inflateReset2(&s.zlib, 0);
  } else {
    s.open = inflateInit2(&s.zlib, 0) == Z_OK;
  }
  s.failed = !s.open;
}

Inflater::Step Inflater::Inflate(const uint8_t* in, size_t in_size,
                                 uint8_t* out, size_t out_size) {
  State& s = *state_;
  if (s.failed) return {Status::kBadData, 0, 0};
  s.zlib.next_in = const_cast<Bytef*>(in);
  s.zlib.avail_in = static_cast<uInt>(in_size > UINT_MAX ? UINT_MAX : in_size);
  s.zlib.next_out = out;
  s.zlib.avail_out =
      static_cast<uInt>(out_size > UINT_MAX ? UINT_MAX : out_size);
  const uInt given = s.zlib.avail_in;
  const uInt room = s.zlib.avail_out;
  const int result = inflate(&s.zlib, Z_NO_FLUSH);
  Step step{Status::kOk, given - s.zlib.avail_in, room - s.zlib.avail_out};
  if (result == Z_STREAM_END) {
    step.status = Status::kEnded;
  } else if (result == Z_DATA_ERROR && s.zlib.msg &&
             std::string_view(s.zlib.msg) == "incorrect data check") {
    step.status = Status::kBadCheck;
    s.failed = true;
  } else if (result != Z_OK && result != Z_BUF_ERROR) {
    step.status = Status::kBadData;
    s.failed = true;
  }
  return step;
}

const char* Inflater::Engine() { return "zlib"; }

uint32_t Crc32(uint32_t crc, const uint8_t* data, size_t size) {
  while (size > 0) {
    const uInt piece = size > UINT_MAX ? UINT_MAX : static_cast<uInt>(size);
    crc = static_cast<uint32_t>(crc32(crc, data, piece));
    data += piece;
    size -= piece;
  }
  return crc;
}

#endif

Inflater::~Inflater() = default;

}  // namespace lumeconv
