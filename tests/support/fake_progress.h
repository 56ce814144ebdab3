#pragma once

#include <QList>
#include <QString>
#include <QStringList>
#include <cmath>

#include "convert/run_view.h"

// A progress sink that keeps everything it is told, unrounded.
class FakeProgress : public ProgressSink {
 public:
  int Value() const override { return static_cast<int>(std::nearbyint(value)); }
  void SetValue(double percent) override {
    value = percent;
    values << percent;
  }
  QString Caption() const override { return caption; }
  void SetCaption(const QString& text) override {
    caption = text;
    captions << text;
  }

  double value = 0;
  QString caption;
  QList<double> values;
  QStringList captions;
};
