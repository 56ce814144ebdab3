#include "convert/batch_run.h"

#include <QDir>
#include <QLineEdit>
#include <QProgressBar>
#include <QRadioButton>
#include <QSlider>
#include <memory>

#include "app/dialogs.h"
#include "app/failure.h"
#include "app/pump_events.h"
#include "app/shutdown.h"
#include "app/trap.h"
#include "app/window_pointer.h"
#include "convert/converter_image.h"
#include "convert/converter_runner.h"
#include "convert/working_folder.h"
#include "filelist/file_list.h"
#include "filelist/is_existing_file.h"
#include "util/path_helpers.h"

namespace {

constexpr int kListedFailures = 10;
constexpr int kBarFrameMilliseconds = 33;

// An ordinary file, not a folder and not hidden.
bool IsPresent(const QString& path) {
  return IsExistingFile(path) && !FileNamePart(path).startsWith('.');
}

QString Quoted(const QString& text) { return "\"" + text + "\""; }

}  // namespace

BatchRun::BatchRun(const Controls& controls, FileList& files,
                   WindowPointer& pointer, Dialogs& dialogs,
                   const QString& application_title)
    : controls_(controls),
      files_(files),
      pointer_(pointer),
      dialogs_(dialogs),
      application_title_(application_title) {}

QString BatchRun::DoneMessage(int files, const QStringList& failures) {
  if (failures.isEmpty()) return "Done.";
  QString text = QString("Done.\n\n%1 of %2 files could not be converted:")
                     .arg(failures.size())
                     .arg(files);
  for (const QString& line : failures.mid(0, kListedFailures)) {
    text += "\n" + line;
  }
  if (failures.size() > kListedFailures) {
    text += QString("\nand %1 more.").arg(failures.size() - kListedFailures);
  }
  return text;
}

void BatchRun::PaceBarPainting() {
  QProgressBar* bar = controls_.progress_bar1;
  if (!bar_painted_.isValid() ||
      bar_painted_.elapsed() >= kBarFrameMilliseconds) {
    bar->setUpdatesEnabled(true);
    bar_painted_.start();
  } else {
    bar->setUpdatesEnabled(false);
  }
}

void BatchRun::PushButton2_Click() {
  Trap trap(dialogs_, "in Quorlent2021/08/31.Form1.PushButton2_Click ");
  const auto say = [&](const QString& text) {
    dialogs_.ShowMessage(application_title_, text, Dialogs::Icon::kNone);
  };
  bool refused = false;
  trap.Line(100, [&] { refused = running_; });
  if (refused) return;
  trap.Line(102, [&] { running_ = true; });

  if (trap.Test(104, [&] { return files_.Count() == 0; })) {
    trap.Line(194, [&] { say("No files added."); });
    trap.Line(196, [&] { running_ = false; });
    return;
  }
  if (trap.Test(106, [&] {
        return !IsFolder(controls_.text2->text()) &&
               !controls_.option2->isChecked();
      })) {
    trap.Line(192, [&] {
      say("Folder does not exist. Please select another folder.");
    });
    trap.Line(196, [&] { running_ = false; });
    return;
  }

  trap.Line(110, [&] { pointer_.Set(WindowPointer::State::kBusy); });
  QByteArray image;
  trap.Line(112, [&] { image = ConverterImage(); });
  std::unique_ptr<WorkingFolder> work;
  // Closing the window mid-run removes the working folder too.
  const int cleanup = AddExitCleanup([&work] {
    if (work) work->Remove();
  });
  QString folder;
  QString converter;
  trap.Line(114, [&] {
    work = std::make_unique<WorkingFolder>();
    folder = work->Path();
    converter = folder + "/lumeconv";
    WriteBytesIfAbsent(image, converter);
    QFile::setPermissions(converter, QFile::ReadOwner | QFile::WriteOwner |
                                         QFile::ExeOwner);
  });
  image.clear();

  QStringList failures;
  int n0 = 0;
  trap.Line(116, [&] { n0 = files_.Count(); });
  for (int i = 1; i <= n0; ++i) {
    QString s;
    trap.Line(118, [&] { s = files_.Text(i); });
    PaceBarPainting();
    trap.Line(120, [&] {
      const int n = files_.Count();
      if (n > 0) SetBarValue(controls_.progress_bar1, 100.0 * i / n);
    });
    trap.Line(122, [&] {
      controls_.progress_bar1->setFormat("Processing: " + FileNamePart(s));
    });
    trap.Line(124, [&] { PumpEvents(); });
    trap.Line(126, [&] { pointer_.Set(WindowPointer::State::kBusy); });
    QString b, t, j, d;
    trap.Line(128, [&] { b = StripExtension(FileNamePart(s)); });
    trap.Line(130, [&] { t = folder + "/temp.png"; });
    trap.Line(132, [&] { j = folder + "/temp.jpg"; });
    if (trap.Test(134, [&] { return controls_.option1->isChecked(); })) {
      trap.Line(136, [&] {
        d = controls_.text2->text() + QDir::separator() + b + ".jpg";
      });
    } else if (trap.Test(138, [&] { return controls_.option2->isChecked(); })) {
      trap.Line(140, [&] {
        d = FolderPart(s) + QDir::separator() + b + ".jpg";
      });
    }
    trap.Line(142, [&] { d = CollapseBackslashes(d); });
    // A failed conversion must never pick up the previous file's result.
    trap.Line(143, [&] { DeleteFileQuiet(j); });
    trap.Line(144, [&] { CopyFileChecked(s, t); });
    QString failure;
    if (!IsExistingFile(s)) failure = "the file is missing";
    if (trap.Test(162, [&] { return IsPresent(t); })) {
      QString command;
      trap.Line(164, [&] {
        command = Quoted(converter) + " -q " +
                  QString::number(controls_.slider1->value()) +
                  " -out jpeg " + Quoted(t);
      });
      RunnerOutcome outcome;
      int result = 0;
      trap.Line(166, [&] {
        QProgressBar* bar = controls_.progress_bar1;
        result = ConverterRunner(command, 0, bar, bar->format(),
                                 bar->value(), files_.Count(), &outcome);
      });
      if (trap.Test(168, [&] { return IsPresent(j); })) {
        trap.Line(170, [&] {
          if (!IsFolder(FolderPart(d))) {
            failure = "the destination folder does not exist";
          } else if (!CopyFileQuiet(j, d)) {
            failure = "the JPEG could not be written as " +
                      QDir::toNativeSeparators(d);
          }
        });
        trap.Line(172, [&] { DeleteFileQuiet(j); });
      } else if (result < 0) {
        failure = "the converter could not be started";
      } else {
        failure = QString("the converter failed (exit code %1)").arg(result) +
                  (outcome.first_error_line.isEmpty()
                       ? QString()
                       : ": " + outcome.first_error_line);
      }
      trap.Line(174, [&] { DeleteFileQuiet(t); });
    } else if (failure.isEmpty()) {
      failure = "the file could not be read";
    }
    if (!failure.isEmpty()) {
      failures << QDir::toNativeSeparators(s) + ": " + failure;
    }
  }
  trap.Line(178, [&] {
    if (work) work->Remove();
  });
  RemoveExitCleanup(cleanup);
  controls_.progress_bar1->setUpdatesEnabled(true);
  bar_painted_.invalidate();
  trap.Line(180, [&] { pointer_.Set(WindowPointer::State::kDefault); });
  trap.Line(182, [&] { controls_.progress_bar1->setValue(0); });
  trap.Line(184, [&] { controls_.progress_bar1->setFormat("Progress Bar"); });
  trap.Line(190, [&] { say(DoneMessage(n0, failures)); });
  trap.Line(196, [&] { running_ = false; });
}
