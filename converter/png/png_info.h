#pragma once

#include <array>
#include <cstdint>

#include "image_reader.h"

namespace lumeconv {

class ChunkReader;

// What the chunks before the image data say about it.
struct PngInfo {
  uint32_t width = 0;
  uint32_t height = 0;
  int bit_depth = 0;
  int colour_type = 0;
  bool interlaced = false;
  int channels = 0;  // samples per pixel as stored

  std::array<uint8_t, 256 * 3> palette{};  // unused entries stay black
  std::array<uint8_t, 256> palette_alpha{};
  int alpha_count = 0;  // palette entries with their own alpha

  bool has_key = false;  // a grey or RGB value that is transparent
  uint16_t key[3] = {0, 0, 0};

  PngMetadata metadata;
};

// Reads from the signature up to the first IDAT chunk's header, with the
// rules of the reference decoder: what would make it give up throws, and a
// side chunk it would ignore is ignored. Leaves `chunks` at the start of
// the first IDAT chunk's data.
PngInfo ReadInfo(ChunkReader& chunks);

// Reads the chunks after the image data up to IEND.
void ReadTrailingChunks(ChunkReader& chunks);

}  // namespace lumeconv
