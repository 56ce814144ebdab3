#pragma once

#include <cstddef>
#include <cstdint>

#include "huffman_rewrite.h"

struct jpeg_compress_struct;

namespace lumeconv {

inline constexpr int kHuffTables = 4;

// What the counting pass keeps for an output pass in two halves: the
// counts of the MCUs before `first_lower` and the DC predictors there, and
// all counts, which outlive the counter freed with libjpeg's image pool;
// then it calls `tables_built`.
struct HalfCounts {
  long first_lower = 0;
  long upper_dc[kHuffTables][257] = {};
  long upper_ac[kHuffTables][257] = {};
  int last_dc[kHuffTables] = {};
  long dc[kHuffTables][257] = {};
  long ac[kHuffTables][257] = {};
  // Where there is room for them, the tokens of every block in order
  // (SymbolToken), those of the lower half from `first_lower_token` on;
  // null once they would not fit.
  uint32_t* tokens = nullptr;
  size_t token_room = 0;
  size_t token_count = 0;
  size_t first_lower_token = 0;
  void (*tables_built)(jpeg_compress_struct* cinfo, void* context) = nullptr;
  void* context = nullptr;
};

// Takes over libjpeg's pass that counts the Huffman symbols of every block
// before it builds optimal tables. libjpeg's own pass tests the 63 AC
// coefficients one by one and was the largest single cost of a conversion;
// this one finds the non-zero coefficients with a few vector compares. The
// counts, and so the tables and every byte of the file, are the same.
// Call right after jpeg_start_compress; does nothing unless the tables are
// to be optimised in a single baseline scan without restart markers. With
// `halves`, also keeps what an output pass in two halves needs.
void CountSymbolsFaster(jpeg_compress_struct* cinfo,
                        HalfCounts* halves = nullptr);

// Counts the symbols of every block as libjpeg writes them with standard
// tables, for the Huffman rewrite, which then needs no pass of its own to
// count them. Call right after jpeg_start_compress; `counts` must outlive
// the compression and start at zero.
void CountSymbolsWhileWriting(jpeg_compress_struct* cinfo,
                              SymbolCounts* counts);

// Adds the symbols that code one block of 64 coefficients (natural order)
// to the DC and AC counts, as libjpeg counts them: the DC difference from
// `last_dc`, runs of zeros in zigzag order, sixteen at a time, and the end
// of the block. False for a coefficient beyond `max_bits`, which libjpeg
// refuses.
bool CountBlock(const int16_t* block, int last_dc, int max_bits, long* dc,
                long* ac);

}  // namespace lumeconv
