#pragma once

#include <cstdio>
#include <string>
#include <vector>

#include "image_reader.h"
#include "open_png.h"

namespace lumeconv {

class ByteSource;

// DIR/NAME.ext -> DIR/NAME.jpg; a name whose only dot leads it has no
// extension to drop (".png" -> ".png.jpg").
std::string OutputPathFor(const std::string& input);

// Decodes the PNG from `source` and writes the JPEG to `out`. A large image
// needs a scratch file as big as its JPEG, made in `scratch_folder` (the
// output's, which has room for the result). What of the PNG's metadata a
// JPEG cannot carry is left out and told in `left_out`. Throws
// ConversionError.
void ConvertStream(ByteSource& source, FILE* out, int quality,
                   const std::string& scratch_folder,
                   ImageOpener open = OpenPng,
                   std::vector<std::string>* left_out = nullptr);

// Converts `input` to OutputPathFor(input), replacing that file only when
// the new one is complete. Returns the output path; throws ConversionError.
std::string ConvertFile(const std::string& input, int quality,
                        ImageOpener open = OpenPng,
                        std::vector<std::string>* left_out = nullptr);

}  // namespace lumeconv
