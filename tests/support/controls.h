#pragma once

#include <QGroupBox>
#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QRadioButton>
#include <QSlider>
#include <QTreeWidget>
#include <QWidget>

// The main window's controls, found by the names users and the code know
// them by: the window keeps them to itself.
struct Controls {
  explicit Controls(QWidget& form)
      : ListView1(Find<QTreeWidget>(form, "ListView1")),
        PushButton1(Find<QPushButton>(form, "PushButton1")),
        PushButton2(Find<QPushButton>(form, "PushButton2")),
        PushButton3(Find<QPushButton>(form, "PushButton3")),
        PushButton4(Find<QPushButton>(form, "PushButton4")),
        PushButton5(Find<QPushButton>(form, "PushButton5")),
        PushButton6(Find<QPushButton>(form, "PushButton6")),
        Frame1(Find<QGroupBox>(form, "Frame1")),
        Slider1(Find<QSlider>(form, "Slider1")),
        Frame5(Find<QGroupBox>(form, "Frame5")),
        Option1(Find<QRadioButton>(form, "Option1")),
        Option2(Find<QRadioButton>(form, "Option2")),
        Frame2(Find<QGroupBox>(form, "Frame2")),
        Text2(Find<QLineEdit>(form, "Text2")),
        ProgressBar1(Find<QProgressBar>(form, "ProgressBar1")) {}

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

 private:
  template <typename Control>
  static Control* Find(QWidget& form, const char* name) {
    auto* control = form.findChild<Control*>(name);
    if (!control) qFatal("the window has no control %s", name);
    return control;
  }
};
