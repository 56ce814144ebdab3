#pragma once

#include <QElapsedTimer>
#include <QTimer>

#include "convert/run_view.h"

class QProgressBar;

// ProgressBar1 as a run shows its progress on it. The bar repaints at most
// about thirty times a second (painting it after every small file would
// cost more than converting it), and always shows its latest state within
// one frame.
class ProgressBarSink : public ProgressSink {
 public:
  explicit ProgressBarSink(QProgressBar* bar);

  int Value() const override;
  // Rounded half to even and held within the bar's range, so that a creep
  // past 100 never fails.
  void SetValue(double percent) override;
  QString Caption() const override;
  void SetCaption(const QString& caption) override;

 private:
  void Pace();
  void PaintNow();

  QProgressBar* bar_;
  QElapsedTimer painted_;
  QTimer trailing_paint_;
};
