#pragma once

#include <QHash>
#include <QString>
#include <QWidget>
#include <functional>
#include <memory>

#include "base/window_pointer.h"

class BatchRun;
class Dialogs;
class ControlOptions;
class FileList;
class ProgressBarSink;
class ShellDrops;
class OutputOptions;
class QGroupBox;
class QLineEdit;
class QProgressBar;
class QPushButton;
class QRadioButton;
class QSlider;
class QTreeWidget;
class SettingsStore;

// What the main window needs from outside; tests pass their own.
struct Form1Environment {
  Dialogs& dialogs;
  const SettingsStore& store;
  QString program_folder;
  std::function<double()> chance;  // a number in [0, 1)
};

// The main window: every control, the start-up steps and the handlers that
// hand each event to the subsystem that owns it.
class Form1 : public QWidget {
  Q_OBJECT

 public:
  explicit Form1(Form1Environment environment);
  ~Form1() override;

  // The start-up steps; the caller shows the window afterwards.
  void Form_Load();
  // Shows the window centred on the screen with the list focused.
  void ShowCentred();

  const QString& ApplicationTitle() const { return application_title_; }
  WindowPointer& Pointer() { return pointer_; }
  FileList& Files() { return *file_list_; }
  ShellDrops& Drops() { return *shell_drops_; }

  void PushButton1_Click();
  void PushButton2_Click();
  void PushButton3_Click();
  void PushButton4_Click();
  void PushButton5_Click();

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override;
  void mouseMoveEvent(QMouseEvent* event) override;
  void closeEvent(QCloseEvent* event) override;

 private:
  // The controls, named as users and the settings know them; others find
  // them by these object names.
  QTreeWidget* ListView1;
  QPushButton* PushButton1;
  QPushButton* PushButton2;
  QPushButton* PushButton3;
  QPushButton* PushButton4;
  QPushButton* PushButton5;
  QPushButton* PushButton6;
  QGroupBox* Frame1;
  QSlider* Slider1;
  QGroupBox* Frame5;
  QRadioButton* Option1;
  QRadioButton* Option2;
  QGroupBox* Frame2;
  QLineEdit* Text2;
  QProgressBar* ProgressBar1;

  void CreateControls();
  void SetTabOrder();
  void WireHandlers();
  void Hovers(QWidget* surface, WindowPointer::State state);

  Form1Environment env_;
  WindowPointer pointer_;
  QString application_title_;
  std::unique_ptr<OutputOptions> output_options_;
  std::unique_ptr<FileList> file_list_;
  std::unique_ptr<ShellDrops> shell_drops_;
  std::unique_ptr<ControlOptions> run_options_;
  std::unique_ptr<ProgressBarSink> progress_;
  std::unique_ptr<BatchRun> batch_run_;
  QHash<QObject*, WindowPointer::State> hover_states_;
};
