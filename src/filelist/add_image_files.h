#pragma once

#include <QString>

class Dialogs;
class FileList;

// The most the open dialog's name buffer holds: folder plus names.
inline constexpr int kOpenDialogCapacity = 30000;

// "Add Image File(s)": appends the files chosen in the open dialog.
void AddImageFiles(Dialogs& dialogs, FileList& list,
                   const QString& application_title);
