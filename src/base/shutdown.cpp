#include "base/shutdown.h"

#include <fcntl.h>
#include <unistd.h>

#include <QSocketNotifier>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <map>

namespace {

std::map<int, std::function<void()>>& Cleanups() {
  static std::map<int, std::function<void()>> cleanups;
  return cleanups;
}

// The write end of the pipe a signal is told through; the handler may do
// nothing else safely.
int signal_pipe = -1;

extern "C" void TellSignal(int signal) {
  const unsigned char number = static_cast<unsigned char>(signal);
  // A full pipe already carries a signal to the event loop.
  [[maybe_unused]] const ssize_t written = ::write(signal_pipe, &number, 1);
}

void RunCleanups() {
  auto& cleanups = Cleanups();
  for (auto it = cleanups.rbegin(); it != cleanups.rend(); ++it) it->second();
  std::fflush(nullptr);
}

}  // namespace

void EndProcess() {
  RunCleanups();
  std::_Exit(0);
}

void EndProcessOnSignals() {
  int ends[2];
  if (::pipe2(ends, O_CLOEXEC | O_NONBLOCK) != 0) return;
  signal_pipe = ends[1];
  // Heard between two events, never inside a copy: what a run has begun
  // is finished or removed by its cleanups first.
  auto* notifier = new QSocketNotifier(ends[0], QSocketNotifier::Read);
  QObject::connect(notifier, &QSocketNotifier::activated, [read_end = ends[0]] {
    unsigned char number = 0;
    if (::read(read_end, &number, 1) != 1) return;
    RunCleanups();
    // Ended by the signal, as its sender expects.
    std::signal(number, SIG_DFL);
    ::raise(number);
    std::_Exit(128 + number);
  });
  struct sigaction action {};
  action.sa_handler = TellSignal;
  action.sa_flags = SA_RESTART;
  ::sigemptyset(&action.sa_mask);
  for (const int signal : {SIGTERM, SIGHUP, SIGINT}) {
    ::sigaction(signal, &action, nullptr);
  }
}

int AddExitCleanup(std::function<void()> cleanup) {
  static int next = 0;
  Cleanups().emplace(++next, std::move(cleanup));
  return next;
}

void RemoveExitCleanup(int token) { Cleanups().erase(token); }
