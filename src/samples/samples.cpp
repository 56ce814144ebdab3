#include "samples/samples.h"

#include <QDir>
#include <QSet>
#include <QStringList>
#include <QTreeWidget>

#include "base/dialogs.h"
#include "base/settings_store.h"
#include "filelist/add_folder.h"
#include "filelist/file_list.h"
#include "samples/scramble.h"
#include "util/file_queries.h"

namespace {

// The record holds a sample set, not whatever a folder may hold: a Samples
// folder of a million entries (a link an administrator made) took half a
// minute at start-up and wrote 80 MB.
constexpr int kMostSamples = 1000;
constexpr qsizetype kLongestRecord = 64 * 1024;

QString SamplesFolder(const QString& program_folder) {
  return program_folder + QDir::separator() + "Samples";
}

}  // namespace

void RecordSampleFilesOnce(const QString& program_folder,
                           const SettingsStore& store) {
  if (store.Read(settings_key::kSnapshot, "").isEmpty()) {
    RecordSampleFiles(program_folder, store);
  }
}

void RecordSampleFiles(const QString& program_folder,
                       const SettingsStore& store) {
  const QString folder = SamplesFolder(program_folder);
  QString record;
  for (const QString& name : ListFilesInFolder(folder, "*.*", kMostSamples)) {
    const QString path = folder + QDir::separator() + name;
    if (record.size() + path.size() + 1 > kLongestRecord) break;
    record += (record.isEmpty() ? "" : "|") + path;
  }
  store.Write(settings_key::kSnapshot, ScrambleText(record, kSampleKey));
}

void LoadSampleFiles(FileList& list, const QString& program_folder,
                     const SettingsStore& store, Dialogs& dialogs,
                     const QString& application_title) {
  const QString plain = UnscrambleText(
      store.Read(settings_key::kSnapshot, BooleanText(false)), kSampleKey);
  const QStringList pieces = plain.isEmpty() ? QStringList() : plain.split('|');
  // Looked up, not searched row by row for every piece.
  QSet<QString> listed;
  for (int row = 1; row <= list.Count(); ++row) listed.insert(list.Text(row));
  for (const QString& piece : pieces) {
    if (PathExists(piece) && !listed.contains(piece)) {
      list.Append(piece);
      listed.insert(piece);
    }
  }
  if (dialogs.AskYesNo(application_title,
                       "Would you like this software to open the folder "
                       "where these sample files are stored (so that you can "
                       "view them before working with them)?")) {
    dialogs.OpenFolder(SamplesFolder(program_folder));
  }
}
