#pragma once

#include <QElapsedTimer>
#include <QString>
#include <QStringList>

class Dialogs;
class FileList;
class QLineEdit;
class QProgressBar;
class QRadioButton;
class QSlider;
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

  void PushButton2_Click();
  bool Running() const { return running_; }

  // The message that ends a run; failures are "path: reason" lines.
  static QString DoneMessage(int files, const QStringList& failures);

 private:
  // Lets the bar repaint at most about thirty times a second: painting it
  // after every small file would cost more than converting it.
  void PaceBarPainting();

  Controls controls_;
  FileList& files_;
  WindowPointer& pointer_;
  Dialogs& dialogs_;
  const QString& application_title_;
  bool running_ = false;
  QElapsedTimer bar_painted_;
};
