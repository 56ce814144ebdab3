#pragma once

#include <QString>

// What a batch run reads of the output options. Each is read afresh where
// the run needs it, so that a change during a run applies from the next
// file on.
class RunOptions {
 public:
  virtual ~RunOptions() = default;
  virtual int Quality() const = 0;
  // "Save results to this folder:" and the folder typed beside it.
  virtual bool SaveInChosenFolder() const = 0;
  virtual QString ChosenFolder() const = 0;
  // "Save results in folder of original file".
  virtual bool SaveBesideOriginal() const = 0;
};

// Where a run shows how far it is: a value on a scale of 0 to 100 and a
// caption. A value beyond the scale is shown at its end.
class ProgressSink {
 public:
  virtual ~ProgressSink() = default;
  virtual int Value() const = 0;
  virtual void SetValue(double percent) = 0;
  virtual QString Caption() const = 0;
  virtual void SetCaption(const QString& caption) = 0;
};
