#include "cli.h"

#include "conversion_error.h"

namespace lumeconv {

namespace {

[[noreturn]] void Wrong(const std::string& what) {
  throw ConversionError(kExitUsage, what);
}

int ParseQuality(const std::string& text) {
  if (text.empty() || text.size() > 3 ||
      text.find_first_not_of("0123456789") != std::string::npos) {
    Wrong("-q takes a whole number from 1 to 100, not \"" + text + "\"");
  }
  const int quality = std::stoi(text);
  if (quality < 1 || quality > 100) {
    Wrong("-q takes a whole number from 1 to 100, not \"" + text + "\"");
  }
  return quality;
}

}  // namespace

Options ParseArguments(const std::vector<std::string>& arguments) {
  Options options;
  bool options_ended = false;
  for (size_t i = 0; i < arguments.size(); ++i) {
    const std::string& argument = arguments[i];
    const bool has_value = i + 1 < arguments.size();
    if (argument.empty() &&
        (options_ended || i == 0 ||
         (arguments[i - 1] != "-q" && arguments[i - 1] != "-out"))) {
      Wrong("the input file name is empty");
    }
    if (options_ended) {
      if (!options.input.empty()) Wrong("only one input file may be given");
      options.input = argument;
    } else if (argument == "--") {
      options_ended = true;  // a name that begins with "-" may follow
    } else if (argument == "--help" || argument == "-h") {
      options.help = true;
    } else if (argument == "--version") {
      options.version = true;
    } else if (argument == "-q") {
      if (!has_value) Wrong("-q needs a value");
      options.quality = ParseQuality(arguments[++i]);
    } else if (argument == "-out") {
      if (!has_value) Wrong("-out needs a value");
      const std::string& format = arguments[++i];
      if (format != "jpeg" && format != "jpg") {
        Wrong("-out takes \"jpeg\" or \"jpg\", not \"" + format + "\"");
      }
    } else if (argument.size() > 1 && argument[0] == '-') {
      Wrong("unknown option " + argument);
    } else if (!options.input.empty()) {
      Wrong("only one input file may be given");
    } else {
      options.input = argument;
    }
  }
  if (options.input.empty() && !options.help && !options.version) {
    Wrong("no input file given");
  }
  return options;
}

std::string UsageLine() {
  return "usage: lumeconv [-q QUALITY] [-out jpeg] [--] INPUT.png";
}

std::string HelpText() {
  return UsageLine() +
         "\n\n"
         "Converts INPUT.png to a JPEG file beside it, named after it with\n"
         "the extension .jpg, replacing a file of that name only when the\n"
         "new one is complete.\n\n"
         "Options:\n"
         "  -q QUALITY   JPEG quality, a whole number from 1 to 100"
         " (default " +
         std::to_string(kDefaultQuality) +
         ")\n"
         "  -out FORMAT  output format: jpeg or jpg (default jpeg)\n"
         "  --help       show this text\n"
         "  --version    show the version\n"
         "  --           ends the options: INPUT may begin with \"-\"\n\n"
         "Exit codes:\n"
         "  0  the JPEG was written\n"
         "  1  this text or the version cannot be written out\n"
         "  2  wrong option or value\n"
         "  3  the input is missing, a folder, or cannot be opened\n"
         "  4  the input is empty or not a PNG file\n"
         "  5  the PNG is damaged: truncated, bad checksum, bad compressed\n"
         "     data or an invalid header\n"
         "  6  the image is too large: over 65500 pixels wide or high, an\n"
         "     interlaced image needing over 1 GiB, or a side chunk over\n"
         "     16 MiB\n"
         "  7  the JPEG cannot be written in the input's folder\n";
}

}  // namespace lumeconv
