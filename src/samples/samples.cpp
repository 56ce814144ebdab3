#include "samples/samples.h"

#include <QDir>
#include <QStringList>
#include <QTreeWidget>

#include "base/dialogs.h"
#include "base/settings_store.h"
#include "filelist/add_folder.h"
#include "filelist/file_list.h"
#include "samples/scramble.h"
#include "util/path_exists.h"

namespace {

QString SamplesFolder(const QString& program_folder) {
  return program_folder + QDir::separator() + "Samples";
}

}  // namespace

void RecordSampleFilesOnce(const QString& program_folder,
                           const SettingsStore& store) {
  if (store.Read("Snapshot", "").isEmpty()) {
    RecordSampleFiles(program_folder, store);
  }
}

void RecordSampleFiles(const QString& program_folder,
                       const SettingsStore& store) {
  const QString folder = SamplesFolder(program_folder);
  QStringList paths;
  for (const QString& name : ListFilesInFolder(folder, "*.*")) {
    paths << folder + QDir::separator() + name;
  }
  store.Write("Snapshot", ScrambleText(paths.join('|'), kSampleKey));
}

void LoadSampleFiles(FileList& list, const QString& program_folder,
                     const SettingsStore& store, Dialogs& dialogs,
                     const QString& application_title) {
  const QString plain =
      UnscrambleText(store.Read("Snapshot", BooleanText(false)), kSampleKey);
  const QStringList pieces = plain.isEmpty() ? QStringList() : plain.split('|');
  for (const QString& piece : pieces) {
    if (PathExists(piece) && !FileListContains(list.View(), piece)) {
      list.Append(piece);
    }
  }
  if (dialogs.AskYesNo(application_title,
                       "Would you like this software to open the folder "
                       "where these sample files are stored (so that you can "
                       "view them before working with them)?")) {
    dialogs.OpenFolder(SamplesFolder(program_folder));
  }
}
