#include "convert/batch_run.h"

#include <unistd.h>

#include <QDir>
#include <QFile>
#include <map>
#include <memory>
#include <set>

#include "base/dialogs.h"
#include "base/failure.h"
#include "base/failure_numbers.h"
#include "base/pump_events.h"
#include "base/shutdown.h"
#include "base/trap.h"
#include "base/window_pointer.h"
#include "convert/converter_image.h"
#include "convert/run_messages.h"
#include "convert/run_view.h"
#include "convert/working_folder.h"
#include "filelist/file_list.h"
#include "util/file_queries.h"
#include "util/file_writers.h"
#include "util/path_strings.h"

namespace {

constexpr int kConverterNotStarted = kStartFailureBase + kFileNotFound;

// An ordinary file, not a folder and not hidden.
bool IsPresent(const QString& path) {
  return IsExistingFile(path) && !FileNamePart(path).startsWith('.');
}

QString Quoted(const QString& text) { return "\"" + text + "\""; }

QString Native(const QString& path) { return QDir::toNativeSeparators(path); }

// The reason alone, without the path a failure was told of.
QString ReasonBeyond(const Failure& failure, const QString& path) {
  const QString prefix = Native(path) + ": ";
  const QString text = failure.Description();
  return text.startsWith(prefix) ? text.mid(prefix.size()) : text;
}

bool IsRunnable(const QString& program) {
  return !program.isEmpty() &&
         ::access(QFile::encodeName(program).constData(), X_OK) == 0 &&
         IsExistingFile(program);
}

}  // namespace

// What one run keeps from file to file.
struct BatchRun::Run {
  std::unique_ptr<WorkingFolder> work;
  QString folder;     // empty when no working folder could be made
  QString converter;  // empty unless this run wrote it
  int rows = 0;
  QStringList failures;
  QStringList replaced;
  // Every queued file, which no result may overwrite, by identity.
  std::set<FileId> queued;
  int queued_rows_seen = 0;
  // The destination folders already cleared of copies that killed runs
  // left unfinished.
  std::set<FileId> swept;
  // The results this run wrote, as it wrote them, and whose they are.
  struct Written {
    QString source;
    std::optional<FileId> source_id;
    FileStamp stamp;
  };
  std::map<FileId, Written> written;
};

BatchRun::BatchRun(const RunOptions& options, ProgressSink& progress,
                   FileList& files, WindowPointer& pointer, Dialogs& dialogs,
                   const QString& application_title,
                   const QString& program_folder)
    : options_(options),
      progress_(progress),
      files_(files),
      pointer_(pointer),
      dialogs_(dialogs),
      application_title_(application_title),
      program_folder_(program_folder) {}

BatchRun::~BatchRun() = default;

void BatchRun::PushButton2_Click() {
  Trap trap(dialogs_, ProcedureId("PushButton2_Click"));
  const auto say = [&](const QString& text) {
    dialogs_.ShowMessage(application_title_, text, Dialogs::Icon::kNone);
  };
  const auto end_run = [&] { trap.Line(196, [&] { running_ = false; }); };

  bool refused = false;
  trap.Set(100, refused, [&] { return running_; });
  if (refused) return;
  trap.Line(102, [&] { running_ = true; });
  if (trap.Test(104, [&] { return files_.Count() == 0; })) {
    trap.Line(194, [&] { say("No files added."); });
    return end_run();
  }
  if (trap.Test(106, [&] {
        return !IsFolder(options_.ChosenFolder()) &&
               !options_.SaveBesideOriginal();
      })) {
    trap.Line(192, [&] {
      say("Folder does not exist. Please select another folder.");
    });
    return end_run();
  }

  trap.Line(110, [&] { pointer_.Set(WindowPointer::State::kBusy); });
  QByteArray image;
  trap.Set(112, image, [] { return ConverterImage(); });
  Run run;
  // Closing the window mid-run removes the working folder too.
  const int cleanup = AddExitCleanup([&run] {
    if (run.work) run.work->Remove();
  });
  trap.Line(114, [&] { PrepareWorkingFolder(image, run); });
  image.clear();

  trap.Set(116, run.rows, [&] { return files_.Count(); });
  for (int i = 1; i <= run.rows; ++i) ConvertRow(trap, i, run);

  trap.Line(178, [&] {
    if (run.work) run.work->Remove();
  });
  RemoveExitCleanup(cleanup);
  trap.Line(180, [&] { pointer_.Set(WindowPointer::State::kDefault); });
  trap.Line(182, [&] { progress_.SetValue(0); });
  trap.Line(184, [&] { progress_.SetCaption("Progress Bar"); });
  trap.Line(190, [&] {
    const QString text = DoneMessage(run.rows, run.failures, run.replaced);
    const QString details = DoneDetails(run.failures, run.replaced);
    if (details.isEmpty()) return say(text);
    dialogs_.ShowMessageWithDetails(application_title_, text, details);
  });
  end_run();
}

QString BatchRun::InstalledConverter() const {
  const QString installed = program_folder_ + "/lumeconv";
  return IsRunnable(installed) ? installed : QString();
}

void BatchRun::PrepareWorkingFolder(const QByteArray& image, Run& run) {
  const auto furnish = [&](const WorkingFolder& folder) {
    // Hardened systems mount the temporary folders noexec: the copy
    // written there could not run, the one installed with us can.
    if (!folder.AllowsPrograms()) {
      run.converter = InstalledConverter();
      if (run.converter.isEmpty()) {
        throw Failure(
            "programs may not run there, and no converter is "
            "installed beside the program in " +
            Native(program_folder_));
      }
      return;
    }
    const QString converter = folder.Path() + "/lumeconv";
    // The folder is new and ours alone: anything already at the path was
    // not written by us and is never run.
    try {
      if (!WriteBytesIfAbsent(image, converter)) {
        throw Failure("the converter there was not written by this run");
      }
    } catch (const Failure& failure) {
      throw Failure("the converter could not be written there (" +
                    ReasonBeyond(failure, converter) + ")");
    }
    QFile::setPermissions(converter, QFile::ReadOwner | QFile::ExeOwner);
    run.converter = converter;
  };
  run.work = std::make_unique<WorkingFolder>(furnish);
  run.folder = run.work->Path();
}

void BatchRun::ConvertRow(Trap& trap, int i, Run& run) {
  QString source;
  trap.Set(118, source, [&] { return files_.Text(i); });
  trap.Line(120, [&] {
    const int n = files_.Count();
    if (n > 0) progress_.SetValue(100.0 * i / n);
  });
  trap.Line(122, [&] {
    progress_.SetCaption("Processing: " + FileNamePart(source));
  });
  trap.Line(124, [&] { PumpEvents(); });
  trap.Line(126, [&] { pointer_.Set(WindowPointer::State::kBusy); });
  QString base_name, temp_png, temp_jpg, destination;
  trap.Set(128, base_name,
           [&] { return StripExtension(FileNamePart(source)); });
  trap.Set(130, temp_png, [&] { return run.folder + "/temp.png"; });
  trap.Set(132, temp_jpg, [&] { return run.folder + "/temp.jpg"; });
  if (trap.Test(134, [&] { return options_.SaveInChosenFolder(); })) {
    // An empty folder box names no folder, not the root of the disk.
    trap.Set(136, destination, [&] {
      const QString folder = options_.ChosenFolder();
      return folder.trimmed().isEmpty()
                 ? QString()
                 : folder + QDir::separator() + base_name + ".jpg";
    });
  } else if (trap.Test(138, [&] { return options_.SaveBesideOriginal(); })) {
    trap.Set(140, destination, [&] {
      return FolderPart(source) + QDir::separator() + base_name + ".jpg";
    });
  }
  trap.Set(142, destination, [&] { return CollapseBackslashes(destination); });

  const auto fail = [&](const QString& reason) {
    run.failures << Native(source) + ": " + reason;
  };
  // Without a working folder nothing is touched: the working paths would
  // lie at the root of the file system.
  if (run.converter.isEmpty()) return fail("no working folder could be made");
  if (destination.isEmpty()) {
    return fail("the destination folder does not exist");
  }
  // Refused before any copy: a FIFO or a device would block the run.
  if (const QString problem = FileProblem(source); !problem.isEmpty()) {
    return fail(problem);
  }
  // A failed conversion must never pick up the previous file's result.
  trap.Line(143, [&] { DeleteFileQuiet(temp_jpg); });
  CopyFailure copy_failure{CopyFailure::Side::kSource, {}};
  trap.Line(144, [&] { CopyFileChecked(source, temp_png, &copy_failure); });
  if (!trap.Test(162, [&] { return IsPresent(temp_png); })) {
    const QString reason = copy_failure.reason.isEmpty()
                               ? QString()
                               : " (" + copy_failure.reason + ")";
    if (copy_failure.side == CopyFailure::Side::kDestination) {
      return fail("its working copy could not be written in " +
                  Native(run.work->Location()) + reason);
    }
    return fail("the file could not be read" + reason);
  }
  QString arguments;
  // The converter to run may change within the row; what it is told not.
  trap.Set(164, arguments, [&] {
    return " -q " + QString::number(options_.Quality()) + " -out jpeg " +
           Quoted(temp_png);
  });
  RunnerOutcome outcome;
  int result = 0;
  trap.Set(166, result, [&] {
    RunnerSetup setup = runner_setup_;
    setup.inherited_descriptor = run.work->Descriptor();
    const auto run_converter = [&] {
      return ConverterRunner(Quoted(run.converter) + arguments, 0, &progress_,
                             progress_.Caption(), progress_.Value(),
                             files_.Count(), &outcome, setup);
    };
    const int code = run_converter();
    if (code != kConverterNotStarted) return code;
    // A policy that forbids running the written copy (noexec found late,
    // a security module) leaves the installed converter to run instead.
    const QString installed = InstalledConverter();
    if (installed.isEmpty() || run.converter == installed) return code;
    run.converter = installed;
    return run_converter();
  });
  QString failure;
  if (trap.Test(168, [&] { return IsPresent(temp_jpg); })) {
    trap.Set(170, failure,
             [&] { return Deliver(temp_jpg, source, destination, run); });
    trap.Line(172, [&] { DeleteFileQuiet(temp_jpg); });
  } else {
    failure = ConverterFailure(result, outcome, temp_png, run.folder,
                               run.work->Location());
  }
  trap.Line(174, [&] { DeleteFileQuiet(temp_png); });
  if (!failure.isEmpty()) fail(failure);
}

QString BatchRun::Deliver(const QString& jpeg, const QString& source,
                          const QString& destination, Run& run) {
  if (!IsFolder(FolderPart(destination))) {
    return "the destination folder does not exist";
  }
  // Rows are only ever appended during a run; learn the new ones.
  for (; run.queued_rows_seen < files_.Count(); ++run.queued_rows_seen) {
    if (const auto id = IdentityOf(files_.Text(run.queued_rows_seen + 1))) {
      run.queued.insert(*id);
    }
  }
  if (const auto folder = FolderIdentityOf(FolderPart(destination));
      folder && run.swept.insert(*folder).second) {
    RemoveAbandonedResults(FolderPart(destination));
  }
  const std::optional<FileStamp> before = StampOf(destination);
  if (before && run.queued.count(before->id)) {
    return "its JPEG would overwrite the queued file " + Native(destination);
  }
  CopyFailure failure;
  if (!CopyFileQuiet(jpeg, destination, &failure)) {
    return "the JPEG could not be written as " + Native(destination) + " (" +
           failure.reason + ")";
  }
  const std::optional<FileId> source_id = IdentityOf(source);
  if (before) {
    const auto earlier = run.written.find(before->id);
    // Replaced only when the file there still is the one this run wrote
    // (another program may have reused its identity), and was written for
    // another source: the same file queued twice replaces nothing.
    if (earlier != run.written.end() && earlier->second.stamp == *before &&
        earlier->second.source_id != source_id) {
      run.replaced << earlier->second.source + ": its JPEG " +
                          Native(destination) + " was replaced by that of " +
                          Native(source);
    }
    if (earlier != run.written.end()) run.written.erase(earlier);
  }
  if (const auto after = StampOf(destination)) {
    run.written[after->id] = {Native(source), source_id, *after};
  }
  return QString();
}
