#include "app/control_options.h"

#include <QLineEdit>
#include <QRadioButton>
#include <QSlider>

int ControlOptions::Quality() const { return slider1_->value(); }

bool ControlOptions::SaveInChosenFolder() const {
  return option1_->isChecked();
}

QString ControlOptions::ChosenFolder() const { return text2_->text(); }

bool ControlOptions::SaveBesideOriginal() const {
  return option2_->isChecked();
}
