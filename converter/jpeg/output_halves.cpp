#include "output_halves.h"

#include <atomic>
#include <condition_variable>
#include <csetjmp>
#include <cstdint>
#include <cstring>
#include <memory>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

#include "conversion_error.h"
#include "spare_thread.h"
#include "stand_in.h"
#include "symbol_counts.h"
#include "symbol_tokens.h"
// clang-format off
#include <jerror.h>
// clang-format on

namespace lumeconv {

namespace {

std::atomic<bool> forced{false};

// Below this many MCUs (about a megapixel at 4:2:0) the helper's start and
// its compressor cost more than half the pass saves.
constexpr uint64_t kHalvesFrom = 4096;
constexpr size_t kBlock = 64 * 1024;
// Room for the tokens of photos (a 1080p photo at quality 85 has about 13
// a block), at most half the memory of the coefficients; for noisier
// images libjpeg codes the blocks again.
constexpr uint64_t kTokensPerBlock = 16;

// Where a compressor's bytes go: a FILE until Capture(), memory from then
// on. The lower half's data is held, to be joined to the upper half's.
struct Destination {
  // What libjpeg sees, and the way back from it.
  struct Manager {
    jpeg_destination_mgr pub;  // first, so that cinfo->dest leads here
    Destination* owner;
  } manager{};
  FILE* out = nullptr;
  bool capturing = false;
  std::vector<uint8_t> buffer;
  std::vector<uint8_t> captured;

  void Spill(j_compress_ptr cinfo) {
    jpeg_destination_mgr& pub = manager.pub;
    const size_t n = kBlock - pub.free_in_buffer;
    if (capturing) {
      captured.insert(captured.end(), buffer.data(), buffer.data() + n);
    } else if (std::fwrite(buffer.data(), 1, n, out) != n) {
      ERREXIT(cinfo, JERR_FILE_WRITE);
    }
    pub.next_output_byte = buffer.data();
    pub.free_in_buffer = kBlock;
  }
  void Capture(j_compress_ptr cinfo) {
    Spill(cinfo);
    capturing = true;
  }
  // Bytes held so far.
  size_t Held() const {
    return captured.size() + kBlock - manager.pub.free_in_buffer;
  }

  static Destination& Of(j_compress_ptr cinfo) {
    return *reinterpret_cast<Manager*>(cinfo->dest)->owner;
  }
  void Install(j_compress_ptr cinfo) {
    buffer.resize(kBlock);
    manager.owner = this;
    manager.pub.init_destination = [](j_compress_ptr c) {
      Destination& d = Of(c);
      d.manager.pub.next_output_byte = d.buffer.data();
      d.manager.pub.free_in_buffer = kBlock;
    };
    manager.pub.empty_output_buffer = [](j_compress_ptr c) -> boolean {
      Destination& d = Of(c);
      d.manager.pub.free_in_buffer = 0;
      d.Spill(c);
      return TRUE;
    };
    manager.pub.term_destination = [](j_compress_ptr c) { Of(c).Spill(c); };
    cinfo->dest = &manager.pub;
  }
};

struct Tables {
  JHUFF_TBL dc[kHuffTables];
  JHUFF_TBL ac[kHuffTables];
  bool has_dc[kHuffTables];
  bool has_ac[kHuffTables];
};

// The helper's compressor, which only encodes the MCUs it is given.
struct Helper {
  jpeg_compress_struct cinfo{};
  jpeg_error_mgr error{};
  std::jmp_buf jump{};
  char message[JMSG_LENGTH_MAX] = "";
  bool created = false;
  Destination dest;
  size_t header_bytes = 0;

  ~Helper() {
    if (created) jpeg_destroy_compress(&cinfo);
  }
};

void OnError(j_common_ptr cinfo) {
  auto* helper = static_cast<Helper*>(cinfo->client_data);
  (*cinfo->err->format_message)(cinfo, helper->message);
  std::longjmp(helper->jump, 1);
}

void OnMessage(j_common_ptr, int) {}

}  // namespace

struct OutputHalves::State {
  j_compress_ptr cinfo = nullptr;
  Destination dest;
  HalfCounts counts;
  Tables tables{};
  uint64_t mcu = 0;
  std::vector<JBLOCKROW> upper;  // the blocks of each upper MCU, in order
  SpareThread* spare = nullptr;
  bool posted = false;  // the upper half is the spare thread's
  std::mutex mutex;
  std::condition_variable changed;
  bool upper_ready = false;
  bool stop = false;
  bool finished = false;
  bool helper_done = false;
  std::string helper_error;
  std::vector<uint8_t> upper_bytes;  // written by libjpeg, or unstuffed
  // Where every block's symbols were kept, the halves are written from
  // them, each without the zeros after 0xFF.
  std::unique_ptr<uint32_t[]> tokens;
  std::unique_ptr<TokenCodes> codes;
  uint64_t upper_bits = 0;
  uint64_t lower_bits = 0;
  std::vector<uint8_t> lower_bytes;

  void Help();
  // The upper half encoded, by the helper or here: its blocks go with the
  // pass that writes the data.
  void FinishUpper() {
    if (!posted) {
      Help();
      return;
    }
    std::unique_lock lock(mutex);
    changed.wait(lock, [&] { return finished; });
  }
  bool WaitForUpper() {
    std::unique_lock lock(mutex);
    changed.wait(lock, [&] { return upper_ready || stop; });
    return !stop;
  }
};

namespace {

// A compressor like the main one, with its tables, whose encoder is ready.
// Holds no C++ objects, as libjpeg's failures come by longjmp.
bool Prepare(Helper* h, j_compress_ptr main, const Tables* tables) {
  if (setjmp(h->jump)) return false;
  h->cinfo.err = jpeg_std_error(&h->error);
  h->error.error_exit = OnError;
  h->error.emit_message = OnMessage;
  h->cinfo.client_data = h;
  jpeg_create_compress(&h->cinfo);
  h->created = true;
  h->dest.capturing = true;
  h->dest.Install(&h->cinfo);
  h->cinfo.image_width = main->image_width;
  h->cinfo.image_height = main->image_height;
  h->cinfo.input_components = main->input_components;
  h->cinfo.in_color_space = main->in_color_space;
  jpeg_set_defaults(&h->cinfo);
  for (int c = 0; c < main->num_components; ++c) {
    h->cinfo.comp_info[c].h_samp_factor = main->comp_info[c].h_samp_factor;
    h->cinfo.comp_info[c].v_samp_factor = main->comp_info[c].v_samp_factor;
    h->cinfo.comp_info[c].dc_tbl_no = main->comp_info[c].dc_tbl_no;
    h->cinfo.comp_info[c].ac_tbl_no = main->comp_info[c].ac_tbl_no;
  }
  for (int t = 0; t < kHuffTables; ++t) {
    if (tables->has_dc[t]) {
      if (!h->cinfo.dc_huff_tbl_ptrs[t]) {
        h->cinfo.dc_huff_tbl_ptrs[t] =
            jpeg_alloc_huff_table(j_common_ptr(&h->cinfo));
      }
      *h->cinfo.dc_huff_tbl_ptrs[t] = tables->dc[t];
    }
    if (tables->has_ac[t]) {
      if (!h->cinfo.ac_huff_tbl_ptrs[t]) {
        h->cinfo.ac_huff_tbl_ptrs[t] =
            jpeg_alloc_huff_table(j_common_ptr(&h->cinfo));
      }
      *h->cinfo.ac_huff_tbl_ptrs[t] = tables->ac[t];
    }
  }
  h->cinfo.optimize_coding = FALSE;
  jpeg_start_compress(&h->cinfo, FALSE);
  h->header_bytes = h->dest.Held();
  return true;
}

bool Encode(Helper* h, JBLOCKROW* blocks, size_t mcus) {
  if (setjmp(h->jump)) return false;
  const size_t per_mcu = static_cast<size_t>(h->cinfo.blocks_in_MCU);
  for (size_t m = 0; m < mcus; ++m) {
    (*h->cinfo.entropy->encode_mcu)(&h->cinfo, blocks + m * per_mcu);
  }
  (*h->cinfo.entropy->finish_pass)(&h->cinfo);
  h->dest.Spill(&h->cinfo);
  return true;
}

}  // namespace

void OutputHalves::State::Help() {
  Helper h;
  bool done = false;
  if (codes) {
    upper_bytes =
        codes->Write(counts.tokens, counts.first_lower_token, upper_bits);
    done = true;
  } else {
    done = Prepare(&h, cinfo, &tables) &&
           h.cinfo.blocks_in_MCU == cinfo->blocks_in_MCU && WaitForUpper() &&
           Encode(&h, upper.data(), counts.first_lower);
    if (done) {
      upper_bytes.assign(h.dest.captured.begin() + h.header_bytes,
                         h.dest.captured.end());
    }
  }
  // Told under the lock: once it is released, the waiting thread may end
  // the state this thread would otherwise still touch.
  std::lock_guard lock(mutex);
  helper_done = done;
  if (!done) helper_error = h.message[0] ? h.message : "stopped";
  finished = true;
  changed.notify_all();
}

namespace {

struct Splitter {
  StandIn head;
  OutputHalves::State* state;
};

OutputHalves::State& StateOf(j_compress_ptr cinfo) {
  return *reinterpret_cast<Splitter*>(cinfo->entropy)->state;
}

// libjpeg's encoder finds its own state through cinfo->entropy: each call
// gets it back for the while.
template <typename Call>
auto AsLibjpeg(j_compress_ptr cinfo, Call call) {
  StandIn& stand_in = StandInOf(cinfo);
  cinfo->entropy = stand_in.libjpeg;
  const auto result = call(cinfo->entropy);
  cinfo->entropy = &stand_in.pub;
  return result;
}

void StartSplitPass(j_compress_ptr cinfo, boolean gather_statistics) {
  AsLibjpeg(cinfo, [&](jpeg_entropy_encoder* e) {
    (*e->start_pass)(cinfo, gather_statistics);
    return 0;
  });
  OutputHalves::State& s = StateOf(cinfo);
  s.upper.reserve(s.counts.first_lower * cinfo->blocks_in_MCU);
  s.posted = s.spare && s.spare->Post([&s] { s.Help(); });
}

boolean SplitMcu(j_compress_ptr cinfo, JBLOCKROW* mcu) {
  OutputHalves::State& s = StateOf(cinfo);
  if (s.mcu < static_cast<uint64_t>(s.counts.first_lower)) {
    s.upper.insert(s.upper.end(), mcu, mcu + cinfo->blocks_in_MCU);
    if (++s.mcu == static_cast<uint64_t>(s.counts.first_lower)) {
      {
        std::lock_guard lock(s.mutex);
        s.upper_ready = true;
      }
      s.changed.notify_all();
    }
    return TRUE;
  }
  if (!s.dest.capturing) s.dest.Capture(cinfo);
  // Each DC is coded as its difference from the one before: shifted by the
  // upper half's last, the lower half's differences come out as in one
  // pass, its first one too.
  for (int b = 0; b < cinfo->blocks_in_MCU; ++b) {
    mcu[b][0][0] = static_cast<JCOEF>(
        mcu[b][0][0] - s.counts.last_dc[cinfo->MCU_membership[b]]);
  }
  ++s.mcu;
  return AsLibjpeg(cinfo, [&](jpeg_entropy_encoder* e) {
    return (*e->encode_mcu)(cinfo, mcu);
  });
}

void FinishSplitPass(j_compress_ptr cinfo) {
  OutputHalves::State& s = StateOf(cinfo);
  cinfo->entropy = StandInOf(cinfo).libjpeg;
  (*cinfo->entropy->finish_pass)(cinfo);
  s.FinishUpper();
}

// The code length of each symbol of a table.
void CodeLengths(const JHUFF_TBL& table, int (&length)[257]) {
  std::fill(length, length + 257, 0);
  int k = 0;
  for (int bits = 1; bits <= 16; ++bits) {
    for (int i = 0; i < table.bits[bits]; ++i)
      length[table.huffval[k++]] = bits;
  }
}

// The bits the symbols take, with their extra bits: for DC the symbol is
// the number of extra bits, for AC its low four bits are.
uint64_t DataBits(const Tables& tables, const long (&dc)[kHuffTables][257],
                  const long (&ac)[kHuffTables][257]) {
  uint64_t bits = 0;
  int length[257];
  for (int t = 0; t < kHuffTables; ++t) {
    if (tables.has_dc[t]) {
      CodeLengths(tables.dc[t], length);
      for (int s = 0; s < 256; ++s)
        bits += uint64_t(dc[t][s]) * (length[s] + s);
    }
    if (tables.has_ac[t]) {
      CodeLengths(tables.ac[t], length);
      for (int s = 0; s < 256; ++s) {
        bits += uint64_t(ac[t][s]) * (length[s] + (s & 15));
      }
    }
  }
  return bits;
}

// The pass that writes the data, from the tokens: the upper half on the
// spare thread, the lower half here at the pass's end.
void StartTokenPass(j_compress_ptr cinfo, boolean) {
  OutputHalves::State& s = StateOf(cinfo);
  s.posted = s.spare && s.spare->Post([&s] { s.Help(); });
}

boolean SkipMcu(j_compress_ptr cinfo, JBLOCKROW*) {
  OutputHalves::State& s = StateOf(cinfo);
  if (!s.dest.capturing) s.dest.Capture(cinfo);
  return TRUE;
}

void FinishTokenPass(j_compress_ptr cinfo) {
  OutputHalves::State& s = StateOf(cinfo);
  const HalfCounts& counts = s.counts;
  s.lower_bytes = s.codes->Write(counts.tokens + counts.first_lower_token,
                                 counts.token_count - counts.first_lower_token,
                                 s.lower_bits);
  s.FinishUpper();
}

void TablesBuilt(j_compress_ptr cinfo, void* context) {
  auto* s = static_cast<OutputHalves::State*>(context);
  for (int t = 0; t < kHuffTables; ++t) {
    if ((s->tables.has_dc[t] = cinfo->dc_huff_tbl_ptrs[t] != nullptr)) {
      s->tables.dc[t] = *cinfo->dc_huff_tbl_ptrs[t];
    }
    if ((s->tables.has_ac[t] = cinfo->ac_huff_tbl_ptrs[t] != nullptr)) {
      s->tables.ac[t] = *cinfo->ac_huff_tbl_ptrs[t];
    }
  }
  if (s->counts.tokens) {
    const JHUFF_TBL* dc[kHuffTables] = {};
    const JHUFF_TBL* ac[kHuffTables] = {};
    for (int t = 0; t < kHuffTables; ++t) {
      if (s->tables.has_dc[t]) dc[t] = &s->tables.dc[t];
      if (s->tables.has_ac[t]) ac[t] = &s->tables.ac[t];
    }
    s->codes = std::make_unique<TokenCodes>(dc, ac);
    s->upper_bits = DataBits(s->tables, s->counts.upper_dc, s->counts.upper_ac);
    s->lower_bits =
        DataBits(s->tables, s->counts.dc, s->counts.ac) - s->upper_bits;
    PutStandIn<Splitter>(cinfo, SkipMcu, FinishTokenPass, StartTokenPass)
        ->state = s;
    return;
  }
  PutStandIn<Splitter>(cinfo, SplitMcu, FinishSplitPass, StartSplitPass)
      ->state = s;
}

// The data bytes of entropy-coded data, without the zero after each 0xFF.
std::vector<uint8_t> Unstuffed(const uint8_t* data, size_t size) {
  std::vector<uint8_t> plain(size);
  size_t n = 0;
  for (const uint8_t* p = data; p < data + size;) {
    const auto* ff =
        static_cast<const uint8_t*>(std::memchr(p, 0xff, data + size - p));
    const uint8_t* const run_end = ff ? ff + 1 : data + size;
    std::memcpy(plain.data() + n, p, run_end - p);
    n += run_end - p;
    p = ff ? run_end + 1 : run_end;
  }
  plain.resize(n);
  return plain;
}

// Entropy-coded data: the data bytes with a zero after each 0xFF.
std::vector<uint8_t> Stuffed(const uint8_t* data, size_t size) {
  std::vector<uint8_t> coded(size + size / 64 + 16);
  size_t n = 0;
  for (const uint8_t* p = data; p < data + size;) {
    const auto* ff =
        static_cast<const uint8_t*>(std::memchr(p, 0xff, data + size - p));
    const uint8_t* const run_end = ff ? ff + 1 : data + size;
    const size_t run = static_cast<size_t>(run_end - p);
    if (n + run + 1 > coded.size()) coded.resize(2 * (n + run + 1));
    std::memcpy(coded.data() + n, p, run);
    n += run;
    if (ff) coded[n++] = 0;
    p = run_end;
  }
  coded.resize(n);
  return coded;
}

// The bits of `from` shifted `shift` (1 to 7) bits on, behind the low
// `shift` bits of `before`, then ones: size + 1 bytes. Eight bytes at a
// time; a byte at a time took a photo's conversion 0.2 ms.
void ShiftIn(uint32_t before, int shift, const uint8_t* from, size_t size,
             uint8_t* to) {
  uint64_t carry = before;
  size_t i = 0;
  for (; i + 8 <= size; i += 8) {
    uint64_t word;
    std::memcpy(&word, from + i, 8);
    word = __builtin_bswap64(word);
    const uint64_t out = word >> shift | carry << (64 - shift);
    const uint64_t stored = __builtin_bswap64(out);
    std::memcpy(to + i, &stored, 8);
    carry = word & 0xff;
  }
  for (; i < size; ++i) {
    to[i] = static_cast<uint8_t>(carry << (8 - shift) | from[i] >> shift);
    carry = from[i];
  }
  to[size] = static_cast<uint8_t>(carry << (8 - shift) | 0xffu >> shift);
}

[[noreturn]] void NotJoined() {
  throw ConversionError(kExitOutput,
                        "JPEG cannot be written (its halves do not join)");
}

}  // namespace

bool OutputHalves::Pays(uint64_t mcus, const SpareThread* spare) {
  if (forced.load()) return mcus >= 2;
  return spare && mcus >= kHalvesFrom;
}

OutputHalves::OutputHalves(FILE* out, uint64_t mcus, uint64_t blocks,
                           SpareThread* spare)
    : state_(std::make_unique<State>()) {
  const size_t room = static_cast<size_t>(blocks * kTokensPerBlock);
  state_->tokens = std::make_unique_for_overwrite<uint32_t[]>(room);
  state_->counts.tokens = state_->tokens.get();
  state_->counts.token_room = room;
  state_->dest.out = out;
  state_->spare = spare;
  state_->counts.first_lower = static_cast<long>(mcus / 2);
  state_->counts.tables_built = TablesBuilt;
  state_->counts.context = state_.get();
}

OutputHalves::~OutputHalves() {
  State& s = *state_;
  if (!s.posted) return;
  std::unique_lock lock(s.mutex);
  s.stop = true;
  s.changed.notify_all();
  s.changed.wait(lock, [&] { return s.finished; });
}

void OutputHalves::Attach(jpeg_compress_struct* cinfo) {
  state_->cinfo = cinfo;
  state_->dest.Install(cinfo);
}

HalfCounts* OutputHalves::Counts() { return &state_->counts; }

void OutputHalves::Finish() {
  State& s = *state_;
  if (!s.helper_done) {
    throw ConversionError(kExitOutput,
                          "JPEG cannot be written (" + s.helper_error + ")");
  }
  const uint64_t upper_bits =
      DataBits(s.tables, s.counts.upper_dc, s.counts.upper_ac);
  const uint64_t lower_bits =
      DataBits(s.tables, s.counts.dc, s.counts.ac) - upper_bits;
  // The lower half's data, unless it was written from the tokens, then the
  // end of the file.
  const std::vector<uint8_t>& tail = s.dest.captured;
  if (tail.size() < 2 || tail[tail.size() - 2] != 0xff ||
      tail.back() != JPEG_EOI || (s.codes && tail.size() != 2)) {
    NotJoined();
  }
  const std::vector<uint8_t> upper =
      s.codes ? std::move(s.upper_bytes)
              : Unstuffed(s.upper_bytes.data(), s.upper_bytes.size());
  const std::vector<uint8_t> lower =
      s.codes ? std::move(s.lower_bytes)
              : Unstuffed(tail.data(), tail.size() - 2);
  if (upper.size() != (upper_bits + 7) / 8 ||
      lower.size() != (lower_bits + 7) / 8) {
    NotJoined();
  }
  // The upper half's whole bytes, then its last bits and the lower half's
  // shifted in after them; the bits past the end are ones, the lower half's
  // own padding or added here.
  const size_t whole = upper_bits / 8;
  const int carried = static_cast<int>(upper_bits % 8);
  const size_t joined_bytes = (upper_bits + lower_bits + 7) / 8;
  std::vector<uint8_t> joined(upper.begin(), upper.begin() + whole);
  if (carried == 0) {
    joined.insert(joined.end(), lower.begin(), lower.end());
  } else {
    joined.resize(whole + lower.size() + 1);
    ShiftIn(upper[whole] >> (8 - carried), carried, lower.data(), lower.size(),
            joined.data() + whole);
    joined.resize(joined_bytes);
  }
  std::vector<uint8_t> coded = Stuffed(joined.data(), joined.size());
  coded.push_back(0xff);
  coded.push_back(JPEG_EOI);
  if (std::fwrite(coded.data(), 1, coded.size(), s.dest.out) != coded.size() ||
      std::fflush(s.dest.out) != 0) {
    throw ConversionError(kExitOutput, "JPEG cannot be written");
  }
}

void ForceOutputHalves(bool on) { forced.store(on); }

}  // namespace lumeconv
