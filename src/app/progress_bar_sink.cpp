#include "app/progress_bar_sink.h"

#include <QEvent>
#include <QProgressBar>
#include <algorithm>
#include <cmath>

namespace {

constexpr int kFrameMilliseconds = 33;

}  // namespace

ProgressBarSink::ProgressBarSink(QProgressBar* bar) : bar_(bar) {
  bar_->installEventFilter(this);
  trailing_paint_.setSingleShot(true);
  QObject::connect(&trailing_paint_, &QTimer::timeout,
                   [this] { bar_->setUpdatesEnabled(true); });
}

int ProgressBarSink::Value() const { return bar_->value(); }

void ProgressBarSink::SetValue(double percent) {
  const int rounded = static_cast<int>(std::nearbyint(percent));
  Paced([&] {
    bar_->setValue(std::clamp(rounded, bar_->minimum(), bar_->maximum()));
  });
}

QString ProgressBarSink::Caption() const { return bar_->format(); }

void ProgressBarSink::SetCaption(const QString& caption) {
  Paced([&] { bar_->setFormat(caption); });
}

bool ProgressBarSink::eventFilter(QObject* watched, QEvent* event) {
  if (watched == bar_ && event->type() == QEvent::Paint) painted_.start();
  return false;
}

// The bar repaints itself at once when its value changes; held back here,
// a change is painted with the next events when a frame has passed since
// the last paint, so that a file's value and caption share one paint as it
// starts, before its converter runs, and none falls beside the converter,
// whose cores the painting would share. A change sooner waits a frame.
void ProgressBarSink::Paced(const std::function<void()>& change) {
  bar_->setUpdatesEnabled(false);
  change();
  const qint64 since =
      painted_.isValid() ? painted_.elapsed() : kFrameMilliseconds;
  if (since >= kFrameMilliseconds) {
    trailing_paint_.stop();
    bar_->setUpdatesEnabled(true);
  } else if (!trailing_paint_.isActive()) {
    trailing_paint_.start(kFrameMilliseconds);
  }
}
