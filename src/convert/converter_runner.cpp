#include "convert/converter_runner.h"

#include <QProcess>
#include <QProgressBar>
#include <cmath>

#include "app/pump_events.h"
#include "app/shutdown.h"

namespace {

constexpr int kPollMilliseconds = 100;
constexpr int kCaptionAfter = 50;
constexpr int kCreepEvery = 150;
// The failure number of a program that cannot be found or run.
constexpr int kFileNotFound = 53;

int RoundHalfEven(double value) { return static_cast<int>(std::nearbyint(value)); }

void ShowPass(QProgressBar* bar, const QString& base_caption, int counter,
              int start_value, int file_count) {
  if (counter < kCaptionAfter) return;
  const int waited = counter - kCaptionAfter;
  bar->setUpdatesEnabled(true);  // a long wait always shows its progress
  bar->setFormat(base_caption + (base_caption.isEmpty() ? "" : ", ") +
                 "Please wait.. " + QString::number(waited));
  if (waited % kCreepEvery != 0 || file_count <= 0) return;
  const double share = 100.0 / file_count;
  const int step = RoundHalfEven(share / 10);
  const int ceiling = RoundHalfEven(share + start_value - step);
  const double v = double(waited) / kCreepEvery * step + start_value;
  SetBarValue(bar, v >= ceiling ? ceiling : v);
}

}  // namespace

void SetBarValue(QProgressBar* bar, double value) {
  bar->setValue(std::clamp(RoundHalfEven(value), bar->minimum(), bar->maximum()));
}

int ConverterRunner(const QString& command_line, std::optional<int> window_style,
                    QProgressBar* bar, const QString& base_caption,
                    int start_value, int file_count, RunnerOutcome* outcome) {
  // Kept for callers; on this platform a started program shows no window.
  if (!window_style || *window_style < 0 || *window_style > 6) window_style = 6;
  static_cast<void>(window_style);
  QProcess process;
  process.setProcessChannelMode(QProcess::SeparateChannels);
  process.setStandardInputFile(QProcess::nullDevice());
  process.setStandardOutputFile(QProcess::nullDevice());
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
    ended = process.state() == QProcess::NotRunning ||
            process.waitForFinished(kPollMilliseconds);
    if (bar) {
      ++counter;
      ShowPass(bar, base_caption, counter, start_value, file_count);
      PumpEvents();
    }
  }
  RemoveExitCleanup(cleanup);
  if (bar) bar->setFormat(base_caption.isEmpty() ? "Progress Bar" : base_caption);
  if (outcome) {
    outcome->first_error_line =
        QString::fromLocal8Bit(process.readAllStandardError())
            .section('\n', 0, 0)
            .trimmed();
  }
  if (process.exitStatus() == QProcess::CrashExit) return -1;
  return process.exitCode();
}
