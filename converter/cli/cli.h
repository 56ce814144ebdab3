#pragma once

#include <string>
#include <vector>

namespace lumeconv {

inline constexpr int kDefaultQuality = 85;

struct Options {
  int quality = kDefaultQuality;
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
