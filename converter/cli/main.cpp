#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <exception>
#include <new>
#include <string>
#include <vector>

#include "cli.h"
#include "conversion_error.h"
#include "convert.h"
#include "huge_pages.h"
#ifdef LUMECONV_REFERENCE_DECODER
#include "libpng_reader.h"
#endif
#include "pending_file.h"

namespace {

// The benchmark builds this program a second time with libpng reading.
#ifdef LUMECONV_REFERENCE_DECODER
constexpr lumeconv::ImageOpener kOpen = lumeconv::OpenWithLibpng;
#else
constexpr lumeconv::ImageOpener kOpen = lumeconv::OpenPng;
#endif

extern "C" void OnSignal(int signal) {
  lumeconv::PendingFile::RemoveOnSignal();
  ::_exit(128 + signal);
}

}  // namespace

int main(int argc, char** argv) {
  for (int signal : {SIGINT, SIGTERM, SIGHUP}) std::signal(signal, OnSignal);
  // Past a file-size limit the write fails and says so, instead of the
  // process vanishing without a word.
  std::signal(SIGXFSZ, SIG_IGN);
  lumeconv::PreferHugePages();
  const std::vector<std::string> arguments(argv + 1, argv + argc);
  lumeconv::Options options;
  try {
    options = lumeconv::ParseArguments(arguments);
  } catch (const lumeconv::ConversionError& error) {
    std::fprintf(stderr, "lumeconv: %s\n%s\n", error.what(),
                 lumeconv::UsageLine().c_str());
    return error.Code();
  }
  if (options.help || options.version) {
    std::fputs(options.help ? lumeconv::HelpText().c_str()
                            : "lumeconv " LUMECONV_VERSION "\n",
               stdout);
    // A text that did not reach its reader is a failure, not a success.
    if (std::fflush(stdout) != 0 || std::ferror(stdout)) {
      std::fprintf(stderr, "lumeconv: standard output: %s\n",
                   std::strerror(errno));
      return 1;
    }
    return lumeconv::kExitOk;
  }
  try {
    std::vector<std::string> left_out;
    lumeconv::ConvertFile(options.input, options.quality, kOpen, &left_out);
    for (const std::string& warning : left_out) {
      std::fprintf(stderr, "lumeconv: %s: warning: %s\n", options.input.c_str(),
                   warning.c_str());
    }
    return lumeconv::kExitOk;
  } catch (const lumeconv::ConversionError& error) {
    std::fprintf(stderr, "lumeconv: %s: %s\n", options.input.c_str(),
                 error.what());
    return error.Code();
  } catch (const std::bad_alloc&) {
    std::fprintf(stderr, "lumeconv: %s: out of memory\n",
                 options.input.c_str());
    return lumeconv::kExitTooLarge;
  }
}
