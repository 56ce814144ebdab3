#pragma once

// In this order: jpeglib.h needs FILE and size_t, and jpegint.h, the module
// interfaces as they stand in libjpeg's 6.2 ABI, needs jpeglib.h.
// clang-format off
#include <cstddef>
#include <cstdio>
#include <cstring>
#include <jpeglib.h>
#include <jpegint.h>
// clang-format on

namespace lumeconv {

// What every stand-in for libjpeg's entropy encoder begins with.
struct StandIn {
  jpeg_entropy_encoder pub;  // first, so that cinfo->entropy leads here
  jpeg_entropy_encoder* libjpeg;
  int last_dc[MAX_COMPS_IN_SCAN];
};

inline StandIn& StandInOf(j_compress_ptr cinfo) {
  return *reinterpret_cast<StandIn*>(cinfo->entropy);
}

// Not called within a pass; should a new pass begin, libjpeg runs it alone.
inline void StartPass(j_compress_ptr cinfo, boolean gather_statistics) {
  cinfo->entropy = StandInOf(cinfo).libjpeg;
  (*cinfo->entropy->start_pass)(cinfo, gather_statistics);
}

// The stand-ins need one baseline scan without restart markers.
inline bool OneHuffmanScan(j_compress_ptr cinfo) {
  return cinfo->scan_info == nullptr && !cinfo->arith_code &&
         cinfo->restart_interval == 0;
}

// Puts a stand-in in the place of libjpeg's encoder. It lives in the
// image's pool, so it goes with the compressor on any error.
template <typename T>
T* PutStandIn(j_compress_ptr cinfo,
              boolean (*encode_mcu)(j_compress_ptr, JBLOCKROW*),
              void (*finish_pass)(j_compress_ptr),
              void (*start_pass)(j_compress_ptr, boolean) = StartPass) {
  auto* stand_in = static_cast<T*>(
      (*cinfo->mem->alloc_small)(j_common_ptr(cinfo), JPOOL_IMAGE, sizeof(T)));
  std::memset(stand_in, 0, sizeof(T));
  stand_in->head.libjpeg = cinfo->entropy;
  stand_in->head.pub.start_pass = start_pass;
  stand_in->head.pub.encode_mcu = encode_mcu;
  stand_in->head.pub.finish_pass = finish_pass;
  cinfo->entropy = &stand_in->head.pub;
  return stand_in;
}

}  // namespace lumeconv
