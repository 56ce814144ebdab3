#pragma once

#include <QString>
#include <QStringList>

#include "convert/converter_runner.h"

class Dialogs;
class FileList;
class ProgressSink;
class RunOptions;
class Trap;
class WindowPointer;

// "Start Converting To JPG": converts every queued file through lumeconv.
class BatchRun {
 public:
  BatchRun(const RunOptions& options, ProgressSink& progress, FileList& files,
           WindowPointer& pointer, Dialogs& dialogs,
           const QString& application_title, const QString& program_folder);
  ~BatchRun();

  void PushButton2_Click();
  bool Running() const { return running_; }

  // How the converter wait polls; tests shorten it.
  void SetRunnerSetup(const RunnerSetup& setup) { runner_setup_ = setup; }

 private:
  struct Run;

  // Makes the run's working folder and writes the converter into it, or
  // picks the converter installed beside the program where the folder's
  // file system may not run programs.
  void PrepareWorkingFolder(const QByteArray& image, Run& run);
  // The converter installed beside the program; empty when there is none.
  QString InstalledConverter() const;
  // One row of the queue, from reading it to removing its working files.
  void ConvertRow(Trap& trap, int i, Run& run);
  // Copies the result to its destination unless that would overwrite a
  // queued file; notes a result of this run that it replaces.
  QString Deliver(const QString& jpeg, const QString& source,
                  const QString& destination, Run& run);
  const RunOptions& options_;
  ProgressSink& progress_;
  FileList& files_;
  WindowPointer& pointer_;
  Dialogs& dialogs_;
  const QString& application_title_;
  const QString program_folder_;
  bool running_ = false;
  RunnerSetup runner_setup_;
};
