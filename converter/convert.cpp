#include "convert.h"

#include <sys/stat.h>

#include <cstdio>
#include <cstring>
#include <memory>
#include <thread>

#include "byte_source.h"
#include "conversion_error.h"
#include "huffman_rewrite.h"
#include "jpeg_writer.h"
#include "pending_file.h"
#include "png_reader.h"
#include "row_pipe.h"

namespace lumeconv {

std::string OutputPathFor(const std::string& input) {
  const size_t slash = input.rfind('/');
  const size_t name_start = slash == std::string::npos ? 0 : slash + 1;
  const size_t dot = input.rfind('.');
  const bool has_extension = dot != std::string::npos && dot > name_start;
  return (has_extension ? input.substr(0, dot) : input) + ".jpg";
}

namespace {

// Decoding and encoding take similar time; each gets a core.
void DecodeInto(PngReader& png, RowPipe& pipe) {
  try {
    const size_t row_bytes = size_t{png.Width()} * png.Components();
    for (uint32_t y = 0; y < png.Height(); ++y) {
      const uint8_t* row = png.NextRow();
      uint8_t* slot = pipe.WaitForFreeRow();
      if (!slot) return;
      std::memcpy(slot, row, row_bytes);
      pipe.Publish();
    }
    png.Finish();
  } catch (...) {
    pipe.Fail(std::current_exception());
  }
}

}  // namespace

void ConvertStream(ByteSource& source, FILE* out, int quality,
                   const std::string& scratch_folder) {
  PngReader png(source);
  // An image too large to optimise its tables in memory is first encoded
  // with the standard ones into a scratch file, then rewritten.
  const bool in_memory = JpegWriter::Optimises(png.Width(), png.Height(),
                                               png.Components(), quality);
  std::unique_ptr<FILE, int (*)(FILE*)> scratch(
      in_memory ? nullptr : OpenScratchFile(scratch_folder), std::fclose);
  JpegWriter jpeg(in_memory ? out : scratch.get(), png.Width(), png.Height(),
                  png.Components(), quality, png.Metadata());
  RowPipe pipe(size_t{png.Width()} * png.Components(), 32);
  std::thread decoder(DecodeInto, std::ref(png), std::ref(pipe));
  try {
    for (uint32_t y = 0; y < png.Height(); ++y) {
      const uint8_t* row = pipe.WaitForFullRow();
      if (!row) break;
      jpeg.WriteRow(row);
      pipe.Release();
    }
  } catch (...) {
    pipe.GiveUp();
    decoder.join();
    throw;
  }
  decoder.join();
  if (const std::exception_ptr error = pipe.Error()) {
    std::rethrow_exception(error);
  }
  jpeg.Finish();
  if (scratch) {
    if (std::fflush(scratch.get()) != 0) {
      throw ConversionError(kExitOutput, "scratch file cannot be written");
    }
    OptimiseHuffmanTables(scratch.get(), out);
  }
}

std::string ConvertFile(const std::string& input, int quality) {
  FileSource source(input);
  const std::string output = OutputPathFor(input);
  struct stat existing {};
  if (::stat(output.c_str(), &existing) == 0 &&
      existing.st_dev == source.Device() && existing.st_ino == source.Inode()) {
    throw ConversionError(kExitOutput,
                          "the JPEG would replace this file itself");
  }
  PendingFile result(output);
  ConvertStream(source, result.Stream(), quality, result.Folder());
  result.Commit();
  return output;
}

}  // namespace lumeconv
