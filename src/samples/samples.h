#pragma once

#include <QString>

class Dialogs;
class FileList;
class SettingsStore;

// The sample files installed in the "Samples" folder beside the program:
// recorded once, loaded on request.

// The start-up hook: takes the record while the store holds none.
void RecordSampleFilesOnce(const QString& program_folder,
                           const SettingsStore& store);
// Records the full paths of the files now in the Samples folder, scrambled,
// as "Snapshot".
void RecordSampleFiles(const QString& program_folder,
                       const SettingsStore& store);

// "Load Sample/Example Files": appends every recorded file that still
// exists and is not listed yet, then offers to open the Samples folder.
void LoadSampleFiles(FileList& list, const QString& program_folder,
                     const SettingsStore& store, Dialogs& dialogs,
                     const QString& application_title);
