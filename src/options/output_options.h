#pragma once

#include <QString>

class Dialogs;
class QGroupBox;
class QLineEdit;
class QRadioButton;
class QSlider;
class SettingsStore;

// The quality slider, the two destination choices and the output folder box:
// every change is shown and stored at once.
class OutputOptions {
 public:
  struct Controls {
    QGroupBox* frame1;
    QSlider* slider1;
    QRadioButton* option1;
    QRadioButton* option2;
    QGroupBox* frame2;
    QLineEdit* text2;
  };

  OutputOptions(const Controls& controls, const SettingsStore& store,
                Dialogs& dialogs);

  static QString QualityCaption(int quality);

  // The quality on a first start, and the slider's design value.
  static constexpr int kDefaultQuality = 85;

  void Slider1_Change();
  void Option1_Click();
  void Option2_Click();
  void Text2_Change();
  // "...": chooses the output folder, starting where "..." chose last.
  void PushButton6_Click();

  // Sets an option button the way code does: choosing it raises its click
  // handler, clearing it clears only that button.
  void SetOption(QRadioButton* button, bool chosen);

 private:
  void StoreDestination(const char* handler);

  Controls controls_;
  const SettingsStore& store_;
  Dialogs& dialogs_;
  QString last_browse_folder_;
};
