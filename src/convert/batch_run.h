#pragma once

#include <QElapsedTimer>
#include <QString>
#include <QStringList>
#include <QTimer>

#include "convert/converter_runner.h"

class Dialogs;
class FileList;
class QLineEdit;
class QProgressBar;
class QRadioButton;
class QSlider;
class Trap;
class WindowPointer;

// "Start Converting To JPG": converts every queued file through lumeconv.
class BatchRun {
 public:
  struct Controls {
    QSlider* slider1;
    QRadioButton* option1;
    QRadioButton* option2;
    QLineEdit* text2;
    QProgressBar* progress_bar1;
  };

  BatchRun(const Controls& controls, FileList& files, WindowPointer& pointer,
           Dialogs& dialogs, const QString& application_title);
  ~BatchRun();

  void PushButton2_Click();
  bool Running() const { return running_; }

  // The message that ends a run. Failures are "path: reason" lines; replaced
  // lines name results that a later file of the run wrote over.
  static QString DoneMessage(int files, const QStringList& failures,
                             const QStringList& replaced = {});

  // How the converter wait polls; tests shorten it.
  void SetRunnerSetup(const RunnerSetup& setup) { runner_setup_ = setup; }

 private:
  struct Run;

  // Makes the run's working folder and writes the converter into it.
  void PrepareWorkingFolder(const QByteArray& image, Run& run);
  // One row of the queue, from reading it to removing its working files.
  void ConvertRow(Trap& trap, int i, Run& run);
  // Copies the result to its destination unless that would overwrite a
  // queued file; notes a result of this run that it replaces.
  QString Deliver(const QString& jpeg, const QString& source,
                  const QString& destination, Run& run);
  // Lets the bar repaint at most about thirty times a second (painting it
  // after every small file would cost more than converting it), and always
  // shows its latest state within one frame.
  void PaceBarPainting();
  void PaintBarNow();

  Controls controls_;
  FileList& files_;
  WindowPointer& pointer_;
  Dialogs& dialogs_;
  const QString& application_title_;
  bool running_ = false;
  QElapsedTimer bar_painted_;
  QTimer trailing_paint_;
  RunnerSetup runner_setup_;
};
