#include "symbol_counts.h"

#include <array>
#include <bit>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <optional>

#include "stand_in.h"
// clang-format off
#include <jerror.h>
// clang-format on

#if defined(__x86_64__)
#include <immintrin.h>
#endif

#include "optimal_code.h"
#include "symbol_tokens.h"

// libjpeg's own build of an optimal table; exported, but declared only in
// one of its private headers. Here it only refuses counts whose code would
// be too long.
extern "C" void jpeg_gen_optimal_table(j_compress_ptr cinfo, JHUFF_TBL* htbl,
                                       long freq[]);

namespace lumeconv {

namespace {

// Natural (row by row) position of each coefficient in zigzag order.
constexpr std::array<uint8_t, 64> kNatural = {
    0,  1,  8,  16, 9,  2,  3,  10, 17, 24, 32, 25, 18, 11, 4,  5,
    12, 19, 26, 33, 40, 48, 41, 34, 27, 20, 13, 6,  7,  14, 21, 28,
    35, 42, 49, 56, 57, 50, 43, 36, 29, 22, 15, 23, 30, 37, 44, 51,
    58, 59, 52, 45, 38, 31, 39, 46, 53, 60, 61, 54, 47, 55, 62, 63};

// kZigzagBits[row][bits]: for the non-zero coefficients of one row of the
// block, given as a byte, their bits in zigzag order.
constexpr auto kZigzagBits = [] {
  std::array<int, 64> zigzag{};
  for (int k = 0; k < 64; ++k) zigzag[kNatural[k]] = k;
  std::array<std::array<uint64_t, 256>, 8> table{};
  for (int row = 0; row < 8; ++row) {
    for (int bits = 0; bits < 256; ++bits) {
      for (int column = 0; column < 8; ++column) {
        if (bits >> column & 1) {
          table[row][bits] |= uint64_t{1} << zigzag[row * 8 + column];
        }
      }
    }
  }
  return table;
}();

// Bit n set when coefficient n, in natural order, is not zero.
uint64_t NonzeroNatural(const int16_t* block) {
#if defined(__x86_64__)
  const __m128i zero = _mm_setzero_si128();
  uint64_t zeros = 0;
  for (int i = 0; i < 4; ++i) {
    const auto* at = reinterpret_cast<const __m128i*>(block + 16 * i);
    const __m128i low = _mm_cmpeq_epi16(_mm_loadu_si128(at), zero);
    const __m128i high = _mm_cmpeq_epi16(_mm_loadu_si128(at + 1), zero);
    const uint32_t bits =
        static_cast<uint32_t>(_mm_movemask_epi8(_mm_packs_epi16(low, high)));
    zeros |= uint64_t{bits} << (16 * i);
  }
  return ~zeros;
#else
  uint64_t nonzero = 0;
  for (int n = 0; n < 64; ++n) nonzero |= uint64_t{block[n] != 0} << n;
  return nonzero;
#endif
}

uint64_t NonzeroZigzag(const int16_t* block) {
  const uint64_t natural = NonzeroNatural(block);
  uint64_t zigzag = 0;
  for (int row = 0; row < 8; ++row) {
    zigzag |= kZigzagBits[row][(natural >> (8 * row)) & 0xff];
  }
  return zigzag;
}

int MagnitudeBits(int value) {
  return std::bit_width(static_cast<unsigned>(std::abs(value)));
}

// The extra bits after a symbol: the value itself, or one less when it is
// negative, in `bits` bits.
uint32_t ExtraBits(int value, int bits) {
  return static_cast<uint32_t>(value < 0 ? value - 1 : value) &
         ((1u << bits) - 1);
}

// Walks the symbols that code one block of 64 coefficients (natural
// order), as libjpeg codes them: `emit(ac, symbol, value, bits)` for each,
// the DC difference from `last_dc` first, runs of zeros in zigzag order
// sixteen at a time, then the end of the block. False for a coefficient
// beyond `max_bits`, which libjpeg refuses.
template <typename Emit>
bool WalkBlock(const int16_t* block, int last_dc, int max_bits, Emit emit) {
  const int difference = block[0] - last_dc;
  const int dc_bits = MagnitudeBits(difference);
  if (dc_bits > max_bits + 1) return false;
  emit(false, static_cast<uint32_t>(dc_bits), difference, dc_bits);
  uint64_t nonzero = NonzeroZigzag(block) & ~uint64_t{1};
  int last = 0;
  while (nonzero != 0) {
    const int k = std::countr_zero(nonzero);
    nonzero &= nonzero - 1;
    int run = k - last - 1;
    for (; run > 15; run -= 16) emit(true, 0xf0, 0, 0);
    const int value = block[kNatural[k]];
    const int bits = MagnitudeBits(value);
    if (bits > max_bits) return false;
    emit(true, static_cast<uint32_t>(run << 4 | bits), value, bits);
    last = k;
  }
  if (last < 63) emit(true, 0, 0, 0);
  return true;
}

// Walks each block of the MCU with `walk(block, last_dc, max_bits,
// component)`, which counts its symbols and more.
template <typename Walk>
void WalkMcuBlocks(j_compress_ptr cinfo, JBLOCKROW* mcu, int* last_dc,
                   Walk walk) {
  for (int b = 0; b < cinfo->blocks_in_MCU; ++b) {
    const int ci = cinfo->MCU_membership[b];
    const JCOEF* block = mcu[b][0];
    if (!walk(block, last_dc[ci], cinfo->data_precision + 2,
              *cinfo->cur_comp_info[ci])) {
      ERREXIT(cinfo, JERR_BAD_DCT_COEF);
    }
    last_dc[ci] = block[0];
  }
}

// Adds each block of the MCU to the counts of its tables: `dc(table)` and
// `ac(table)` give them.
template <typename Dc, typename Ac>
void CountMcuBlocks(j_compress_ptr cinfo, JBLOCKROW* mcu, int* last_dc, Dc dc,
                    Ac ac) {
  WalkMcuBlocks(cinfo, mcu, last_dc,
                [&](const JCOEF* block, int last, int max_bits,
                    const jpeg_component_info& component) {
                  return CountBlock(block, last, max_bits,
                                    dc(component.dc_tbl_no),
                                    ac(component.ac_tbl_no));
                });
}

// Counts in libjpeg's place, for the tables it builds at the pass's end.
struct Counter {
  StandIn head;
  long dc[NUM_HUFF_TBLS][257];
  long ac[NUM_HUFF_TBLS][257];
  HalfCounts* halves;
  long mcus;
};

static_assert(NUM_HUFF_TBLS == kHuffTables && MAX_COMPS_IN_SCAN == kHuffTables);

// Counts the MCU's blocks and writes their tokens; false once they would
// not fit.
bool TokenizeMcu(j_compress_ptr cinfo, JBLOCKROW* mcu, Counter& counter,
                 HalfCounts& halves) {
  if (halves.token_count + kMostTokensInBlock * cinfo->blocks_in_MCU >
      halves.token_room) {
    return false;
  }
  uint32_t* out = halves.tokens + halves.token_count;
  WalkMcuBlocks(
      cinfo, mcu, counter.head.last_dc,
      [&](const JCOEF* block, int last, int max_bits,
          const jpeg_component_info& component) {
        long* const dc = counter.dc[component.dc_tbl_no];
        long* const ac = counter.ac[component.ac_tbl_no];
        const auto dc_table = static_cast<uint32_t>(component.dc_tbl_no);
        const auto ac_table =
            kAcTable + static_cast<uint32_t>(component.ac_tbl_no);
        return WalkBlock(block, last, max_bits,
                         [&](bool is_ac, uint32_t symbol, int value, int bits) {
                           ++(is_ac ? ac : dc)[symbol];
                           *out++ = SymbolToken(is_ac ? ac_table : dc_table,
                                                symbol, ExtraBits(value, bits));
                         });
      });
  halves.token_count = static_cast<size_t>(out - halves.tokens);
  return true;
}

boolean CountMcu(j_compress_ptr cinfo, JBLOCKROW* mcu) {
  auto* counter = reinterpret_cast<Counter*>(cinfo->entropy);
  if (HalfCounts* halves = counter->halves) {
    if (counter->mcus++ == halves->first_lower) {
      std::memcpy(halves->upper_dc, counter->dc, sizeof counter->dc);
      std::memcpy(halves->upper_ac, counter->ac, sizeof counter->ac);
      std::memcpy(halves->last_dc, counter->head.last_dc,
                  sizeof counter->head.last_dc);
      halves->first_lower_token = halves->token_count;
    }
    if (halves->tokens) {
      if (TokenizeMcu(cinfo, mcu, *counter, *halves)) return TRUE;
      halves->tokens = nullptr;
    }
  }
  CountMcuBlocks(
      cinfo, mcu, counter->head.last_dc, [&](int t) { return counter->dc[t]; },
      [&](int t) { return counter->ac[t]; });
  return TRUE;
}

// Fills the table as libjpeg would from the counts.
void BuildTable(j_compress_ptr cinfo, JHUFF_TBL** slot, long* counts) {
  if (*slot == nullptr) *slot = jpeg_alloc_huff_table(j_common_ptr(cinfo));
  const std::optional<HuffmanCode> code = OptimalCode(counts);
  if (!code) {
    jpeg_gen_optimal_table(cinfo, *slot, counts);
    return;
  }
  std::memcpy((*slot)->bits, code->bits.data(), sizeof((*slot)->bits));
  std::memcpy((*slot)->huffval, code->values.data(), code->count);
  (*slot)->sent_table = FALSE;
}

// Builds each table once, though components may share it, and gives the
// encoder back to libjpeg for the pass that writes the data.
void BuildTables(j_compress_ptr cinfo) {
  auto* counter = reinterpret_cast<Counter*>(cinfo->entropy);
  if (counter->halves) {
    std::memcpy(counter->halves->dc, counter->dc, sizeof counter->dc);
    std::memcpy(counter->halves->ac, counter->ac, sizeof counter->ac);
  }
  bool did_dc[NUM_HUFF_TBLS] = {};
  bool did_ac[NUM_HUFF_TBLS] = {};
  for (int ci = 0; ci < cinfo->comps_in_scan; ++ci) {
    const int dc = cinfo->cur_comp_info[ci]->dc_tbl_no;
    const int ac = cinfo->cur_comp_info[ci]->ac_tbl_no;
    if (!did_dc[dc]) {
      BuildTable(cinfo, &cinfo->dc_huff_tbl_ptrs[dc], counter->dc[dc]);
      did_dc[dc] = true;
    }
    if (!did_ac[ac]) {
      BuildTable(cinfo, &cinfo->ac_huff_tbl_ptrs[ac], counter->ac[ac]);
      did_ac[ac] = true;
    }
  }
  cinfo->entropy = counter->head.libjpeg;
  if (HalfCounts* halves = counter->halves) {
    (*halves->tables_built)(cinfo, halves->context);
  }
}

// Counts beside libjpeg's own encoder, which writes each MCU first; it
// finds its state through cinfo->entropy, so it gets that back meanwhile.
struct Teller {
  StandIn head;
  SymbolCounts* counts;
};

boolean WriteAndCountMcu(j_compress_ptr cinfo, JBLOCKROW* mcu) {
  auto* teller = reinterpret_cast<Teller*>(cinfo->entropy);
  cinfo->entropy = teller->head.libjpeg;
  const boolean written = (*teller->head.libjpeg->encode_mcu)(cinfo, mcu);
  cinfo->entropy = &teller->head.pub;
  if (!written) return FALSE;  // suspended: the same MCU comes again
  SymbolCounts& counts = *teller->counts;
  CountMcuBlocks(
      cinfo, mcu, teller->head.last_dc, [&](int t) { return counts[t].data(); },
      [&](int t) { return counts[2 + t].data(); });
  return TRUE;
}

void FinishWritingPass(j_compress_ptr cinfo) {
  cinfo->entropy = StandInOf(cinfo).libjpeg;
  (*cinfo->entropy->finish_pass)(cinfo);
}

}  // namespace

bool CountBlock(const int16_t* block, int last_dc, int max_bits, long* dc,
                long* ac) {
  return WalkBlock(block, last_dc, max_bits,
                   [&](bool is_ac, uint32_t symbol, int, int) {
                     ++(is_ac ? ac : dc)[symbol];
                   });
}

void CountSymbolsFaster(jpeg_compress_struct* cinfo, HalfCounts* halves) {
  if (cinfo->optimize_coding && OneHuffmanScan(cinfo)) {
    PutStandIn<Counter>(cinfo, CountMcu, BuildTables)->halves = halves;
  }
}

void CountSymbolsWhileWriting(jpeg_compress_struct* cinfo,
                              SymbolCounts* counts) {
  if (!cinfo->optimize_coding && OneHuffmanScan(cinfo)) {
    PutStandIn<Teller>(cinfo, WriteAndCountMcu, FinishWritingPass)->counts =
        counts;
  }
}

}  // namespace lumeconv
