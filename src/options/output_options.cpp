#include "options/output_options.h"

#include <QDir>
#include <QGroupBox>
#include <QLineEdit>
#include <QRadioButton>
#include <QSlider>

#include "base/dialogs.h"
#include "base/settings_store.h"
#include "base/trap.h"

namespace {

// These handlers have no numbered statements of their own; a failure (a store
// that cannot be written) is still reported, naming the handler.
constexpr int kHandlerLine = 100;

}  // namespace

OutputOptions::OutputOptions(const Controls& controls,
                             const SettingsStore& store, Dialogs& dialogs)
    : controls_(controls), store_(store), dialogs_(dialogs) {}

QString OutputOptions::QualityCaption(int quality) {
  return "Output JPG image quality: " + QString::number(quality) + "%";
}

void OutputOptions::Slider1_Change() {
  const int quality = controls_.slider1->value();
  controls_.frame1->setTitle(QualityCaption(quality));
  Trap(dialogs_, ProcedureId("Slider1_Change")).Line(kHandlerLine, [&] {
    store_.Write(settings_key::kSlider1, QString::number(quality));
  });
}

void OutputOptions::Option1_Click() { StoreDestination("Option1_Click"); }

void OutputOptions::Option2_Click() { StoreDestination("Option2_Click"); }

void OutputOptions::StoreDestination(const char* handler) {
  Trap trap(dialogs_, ProcedureId(handler));
  trap.Line(kHandlerLine, [&] {
    store_.Write(settings_key::kOption1,
                 BooleanText(controls_.option1->isChecked()));
  });
  trap.Line(kHandlerLine, [&] {
    store_.Write(settings_key::kOption2,
                 BooleanText(controls_.option2->isChecked()));
  });
  controls_.frame2->setEnabled(controls_.option1->isChecked());
}

void OutputOptions::Text2_Change() {
  Trap(dialogs_, ProcedureId("Text2_Change")).Line(kHandlerLine, [&] {
    store_.Write(settings_key::kText2, controls_.text2->text());
  });
}

void OutputOptions::PushButton6_Click() {
  Trap trap(dialogs_, ProcedureId("PushButton6_Click"));
  QString chosen;
  trap.Set(100, last_browse_folder_,
           [&] { return store_.Read(settings_key::kLastFolderDot, ""); });
  trap.Set(100, chosen, [&] {
    return dialogs_.BrowseForFolder("Please select folder:",
                                    last_browse_folder_);
  });
  if (trap.Test(102, [&] { return chosen.isEmpty(); })) return;
  trap.Line(104, [&] {
    last_browse_folder_ = chosen;
    store_.Write(settings_key::kLastFolderDot, chosen);
  });
  if (trap.Test(104, [&] { return !chosen.endsWith(QDir::separator()); })) {
    trap.Line(106,
              [&] { controls_.text2->setText(chosen + QDir::separator()); });
  } else {
    trap.Line(108, [&] { controls_.text2->setText(chosen); });
  }
}

void OutputOptions::SetOption(QRadioButton* button, bool chosen) {
  if (chosen) {
    button->setChecked(true);
    if (button == controls_.option1) Option1_Click();
    if (button == controls_.option2) Option2_Click();
    return;
  }
  // Exclusive buttons refuse to clear themselves; clearing one must not
  // choose the other.
  button->setAutoExclusive(false);
  button->setChecked(false);
  button->setAutoExclusive(true);
}
