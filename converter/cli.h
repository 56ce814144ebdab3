#pragma once

#include <string>
#include <vector>

namespace lumeconv {

struct Options {
  int quality = 85;
  std::string input;
  bool help = false;
  bool version = false;
};

// Parses the command line (without the program name); throws
// ConversionError(kExitUsage) on a wrong option or value.
Options ParseArguments(const std::vector<std::string>& arguments);

std::string UsageLine();
std::string HelpText();

}  // namespace lumeconv
