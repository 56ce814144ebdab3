#include "app/progress_bar_sink.h"

#include <QProgressBar>
#include <algorithm>
#include <cmath>

namespace {

constexpr int kFrameMilliseconds = 33;

}  // namespace

ProgressBarSink::ProgressBarSink(QProgressBar* bar) : bar_(bar) {
  trailing_paint_.setSingleShot(true);
  QObject::connect(&trailing_paint_, &QTimer::timeout, [this] { PaintNow(); });
}

int ProgressBarSink::Value() const { return bar_->value(); }

void ProgressBarSink::SetValue(double percent) {
  Pace();
  const int rounded = static_cast<int>(std::nearbyint(percent));
  bar_->setValue(std::clamp(rounded, bar_->minimum(), bar_->maximum()));
}

QString ProgressBarSink::Caption() const { return bar_->format(); }

void ProgressBarSink::SetCaption(const QString& caption) {
  Pace();
  bar_->setFormat(caption);
}

void ProgressBarSink::Pace() {
  const qint64 since =
      painted_.isValid() ? painted_.elapsed() : kFrameMilliseconds;
  if (since >= kFrameMilliseconds) {
    trailing_paint_.stop();
    PaintNow();
    return;
  }
  bar_->setUpdatesEnabled(false);
  if (!trailing_paint_.isActive()) {
    trailing_paint_.start(int(kFrameMilliseconds - since));
  }
}

void ProgressBarSink::PaintNow() {
  bar_->setUpdatesEnabled(true);
  painted_.start();
}
