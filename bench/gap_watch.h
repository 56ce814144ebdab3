#pragma once

#include <QElapsedTimer>
#include <QTimer>
#include <algorithm>

// The longest time the window went without handling its events, seen by a
// timer that beats every 5 ms while the watch lives. (A zero timer would
// keep a waiting event loop spinning and take a core from the converter.)
class GapWatch {
 public:
  GapWatch() {
    QObject::connect(&beat_, &QTimer::timeout, [this] {
      longest_ = std::max(longest_, clock_.restart());
    });
    beat_.start(5);
    clock_.start();
  }
  // The longest gap so far, the one still open included.
  qint64 Longest() const { return std::max(longest_, clock_.elapsed()); }

 private:
  QTimer beat_;
  QElapsedTimer clock_;
  qint64 longest_ = 0;
};
