#pragma once

#include <stdexcept>
#include <string>

namespace lumeconv {

// Exit codes, one per class of failure; --help lists them.
enum ExitCode {
  kExitOk = 0,
  kExitUsage = 2,
  kExitUnreadable = 3,  // missing, a folder, no permission
  kExitNotPng = 4,      // empty, or not a PNG signature
  kExitDamaged = 5,     // truncated, bad CRC, bad zlib data, bad header
  kExitTooLarge = 6,    // beyond what JPEG or memory limits allow
  kExitOutput = 7,      // the JPEG cannot be written
};

// A conversion that cannot be done; what() says why in a few words.
class ConversionError : public std::runtime_error {
 public:
  ConversionError(ExitCode code, const std::string& what)
      : std::runtime_error(what), code_(code) {}
  ExitCode Code() const { return code_; }

 private:
  ExitCode code_;
};

}  // namespace lumeconv
