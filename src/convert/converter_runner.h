#pragma once

#include <QString>
#include <optional>

class ProgressSink;

// What a converter run left behind, beyond its exit code.
struct RunnerOutcome {
  QString first_error_line;  // the first line the program wrote to stderr
  int signal = 0;            // the signal that stopped it; 0 when it exited
};

// How the runner waits; tests shorten the pause.
struct RunnerSetup {
  int poll_milliseconds = 100;
  int caption_after = 50;  // passes before "Please wait.. " shows
  int creep_every = 150;   // passes between two steps of the bar's value
  // A descriptor the started program inherits (the working folder's).
  int inherited_descriptor = -1;
};

// Added to a start failure's number, as the result of a program that could
// not be started.
inline constexpr int kStartFailureBase = -2147221504;

// Starts the command line (split as a shell would, quotes kept together) and
// waits for the process to end, handling window events all the while; a
// pass lasts one poll pause. With a bar, the caption gains "Please wait.. "
// from the 50th pass and the value creeps every 150 passes within its
// file's share. Returns the exit code, -1 when a signal stopped the program,
// or kStartFailureBase plus a failure number when it cannot be started. The
// window style (0 hidden .. 6) is accepted for callers; no window is ever
// shown here. The started program ends with this process.
int ConverterRunner(const QString& command_line,
                    std::optional<int> window_style, ProgressSink* bar,
                    const QString& base_caption, int start_value,
                    int file_count, RunnerOutcome* outcome = nullptr,
                    const RunnerSetup& setup = {});
