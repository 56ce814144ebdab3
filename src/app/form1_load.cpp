#include <QGroupBox>
#include <QIcon>
#include <QLineEdit>
#include <QRadioButton>
#include <QSlider>
#include <QTreeWidget>

#include "app/form1.h"
#include "app/startup.h"
#include "app/twips.h"
#include "base/failure.h"
#include "base/failure_numbers.h"
#include "base/settings_store.h"
#include "base/trap.h"
#include "options/output_options.h"
#include "samples/samples.h"
#include "util/file_queries.h"

void Form1::Form_Load() {
  Trap trap(env_.dialogs, ProcedureId("Form_Load"));
  const SettingsStore& store = env_.store;

  trap.Line(100, [&] { ApplySkin(*this, env_.program_folder); });
  trap.Line(102, [&] { setWindowTitle(kProductName); });
  trap.Line(102, [&] { setWindowIcon(QIcon(":/brisklume.png")); });
  trap.Set(102, application_title_, [] { return SetApplicationTitle(); });

  const QString hand_path = env_.program_folder + "/HAND-M.CUR";
  if (trap.Test(104, [&] { return PathExists(hand_path); })) {
    trap.Line(106, [&] { pointer_.SetHandCursor(LoadCursorFile(hand_path)); });
  }

  trap.Line(108, [&] { VisitHomePageRarely(env_.dialogs, env_.chance); });
  trap.Line(108, [&] { RecordSampleFilesOnce(env_.program_folder, store); });

  trap.Line(128, [&] {
    ListView1->setColumnCount(1);
    ListView1->setHeaderLabels({"PNG File(s)"});
  });
  trap.Line(130, [&] { ListView1->setColumnWidth(0, TwipsToPixels(7000)); });

  trap.Line(132, [&] {
    Text2->setText(
        store.Read(settings_key::kText2, DesktopFolder(env_.dialogs)));
  });
  trap.Line(134, [&] {
    const int quality = TextToInteger(
        store.Read(settings_key::kSlider1,
                   QString::number(OutputOptions::kDefaultQuality)));
    if (quality < Slider1->minimum() || quality > Slider1->maximum()) {
      throw Failure("Invalid property value", kInvalidPropertyValue);
    }
    Slider1->setValue(quality);
  });
  trap.Line(136, [&] {
    Frame1->setTitle(OutputOptions::QualityCaption(Slider1->value()));
  });
  trap.Line(138, [&] {
    output_options_->SetOption(
        Option1, TextToBoolean(store.Read(settings_key::kOption1, "1")));
  });
  trap.Line(140, [&] {
    output_options_->SetOption(
        Option2, TextToBoolean(store.Read(settings_key::kOption2, "0")));
  });
  if (trap.Test(142, [&] { return Option1->isChecked(); })) {
    trap.Line(144, [&] { Frame2->setEnabled(true); });
  } else {
    trap.Line(146, [&] { Frame2->setEnabled(false); });
  }
}
