#pragma once

#include <QElapsedTimer>
#include <QObject>
#include <QTimer>
#include <functional>

#include "convert/run_view.h"

class QProgressBar;

// ProgressBar1 as a run shows its progress on it. The bar repaints at most
// about thirty times a second (painting it after every small file would
// cost more than converting it), and always shows its latest state within
// one frame.
class ProgressBarSink : public QObject, public ProgressSink {
 public:
  explicit ProgressBarSink(QProgressBar* bar);

  int Value() const override;
  // Rounded half to even and held within the bar's range, so that a creep
  // past 100 never fails.
  void SetValue(double percent) override;
  QString Caption() const override;
  void SetCaption(const QString& caption) override;

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  void Paced(const std::function<void()>& change);

  QProgressBar* bar_;
  QElapsedTimer painted_;
  QTimer trailing_paint_;
};
