#pragma once

#include "convert/run_view.h"

class QLineEdit;
class QRadioButton;
class QSlider;

// The output options as the window's controls hold them, for a batch run.
class ControlOptions : public RunOptions {
 public:
  ControlOptions(const QSlider* slider1, const QRadioButton* option1,
                 const QRadioButton* option2, const QLineEdit* text2)
      : slider1_(slider1),
        option1_(option1),
        option2_(option2),
        text2_(text2) {}

  int Quality() const override;
  bool SaveInChosenFolder() const override;
  QString ChosenFolder() const override;
  bool SaveBesideOriginal() const override;

 private:
  const QSlider* slider1_;
  const QRadioButton* option1_;
  const QRadioButton* option2_;
  const QLineEdit* text2_;
};
