#include "convert/converter_runner.h"

#include <fcntl.h>
#include <sys/prctl.h>
#include <unistd.h>

#include <QEventLoop>
#include <QProcess>
#include <QTimer>
#include <cmath>
#include <csignal>

#include "base/failure_numbers.h"
#include "base/pump_events.h"
#include "base/shutdown.h"
#include "convert/run_view.h"

namespace {

int RoundHalfEven(double value) {
  return static_cast<int>(std::nearbyint(value));
}

void ShowPass(ProgressSink* bar, const QString& base_caption, int counter,
              int start_value, int file_count, const RunnerSetup& setup) {
  if (counter < setup.caption_after) return;
  const int waited = counter - setup.caption_after;
  bar->SetCaption(base_caption + (base_caption.isEmpty() ? "" : ", ") +
                  "Please wait.. " + QString::number(waited));
  if (waited % setup.creep_every != 0 || file_count <= 0) return;
  const double share = 100.0 / file_count;
  const int step = RoundHalfEven(share / 10);
  const int ceiling = RoundHalfEven(share + start_value - step);
  const double v = double(waited) / setup.creep_every * step + start_value;
  bar->SetValue(v >= ceiling ? ceiling : v);
}

// One pause of the poll, with the window's events handled throughout (so a
// paint waits for no pass), cut short when the program ends.
bool WaitOnePass(QProcess& process, int milliseconds) {
  if (process.state() == QProcess::NotRunning) return true;
  QEventLoop loop;
  QTimer::singleShot(milliseconds, &loop, &QEventLoop::quit);
  QObject::connect(&process, &QProcess::finished, &loop, &QEventLoop::quit);
  loop.exec();
  return process.state() == QProcess::NotRunning;
}

}  // namespace

int ConverterRunner(const QString& command_line,
                    std::optional<int> window_style, ProgressSink* bar,
                    const QString& base_caption, int start_value,
                    int file_count, RunnerOutcome* outcome,
                    const RunnerSetup& setup) {
  // Kept for callers; on this platform a started program shows no window.
  if (!window_style || *window_style < 0 || *window_style > 6) window_style = 6;
  static_cast<void>(window_style);
  QProcess process;
  process.setProcessChannelMode(QProcess::SeparateChannels);
  process.setStandardInputFile(QProcess::nullDevice());
  process.setStandardOutputFile(QProcess::nullDevice());
  const pid_t parent = ::getpid();
  const int inherited = setup.inherited_descriptor;
  process.setChildProcessModifier([parent, inherited] {
    // Killed with us, however we end; also if we ended before this line.
    ::prctl(PR_SET_PDEATHSIG, SIGKILL);
    if (::getppid() != parent) ::_exit(127);
    if (inherited >= 0) ::fcntl(inherited, F_SETFD, 0);
  });
  process.startCommand(command_line);
  if (!process.waitForStarted()) return kStartFailureBase + kFileNotFound;
  // Closing the window mid-wait must not leave the converter running.
  const int cleanup = AddExitCleanup([&process] {
    process.kill();
    process.waitForFinished(1000);
  });
  int counter = 0;
  bool ended = false;
  while (!ended) {
    PumpEvents();
    ended = WaitOnePass(process, setup.poll_milliseconds);
    if (bar) {
      ++counter;
      ShowPass(bar, base_caption, counter, start_value, file_count, setup);
      PumpEvents();
    }
  }
  RemoveExitCleanup(cleanup);
  if (bar) {
    bar->SetCaption(base_caption.isEmpty() ? "Progress Bar" : base_caption);
  }
  const bool crashed = process.exitStatus() == QProcess::CrashExit;
  if (outcome) {
    outcome->first_error_line =
        QString::fromLocal8Bit(process.readAllStandardError())
            .section('\n', 0, 0)
            .trimmed();
    outcome->signal = crashed ? process.exitCode() : 0;
  }
  return crashed ? -1 : process.exitCode();
}
