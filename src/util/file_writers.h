#pragma once

#include <QByteArray>
#include <QString>

// What changes files: removing, creating and copying single files.

// Removes one file where its folder allows it; says nothing on failure.
void DeleteFileQuiet(const QString& path);
// Creates the file, readable and writable by the user alone, with exactly
// these bytes, unless something is already at the path. True when this call
// created it; throws Failure when the file cannot be written.
bool WriteBytesIfAbsent(const QByteArray& bytes, const QString& path);

// Why a copy failed: the side that failed and the system's reason.
struct CopyFailure {
  enum class Side { kSource, kDestination };
  Side side = Side::kDestination;
  QString reason;
};

// Copies an existing file into an existing folder, replacing the
// destination; does nothing, silently, otherwise. A copy that was tried and
// failed says why in `failure`.
void CopyFileChecked(const QString& source, const QString& destination,
                     CopyFailure* failure = nullptr);
// Replaces the destination with a copy of the source as a whole: a copy
// that fails leaves the earlier file as it was, and a replaced file keeps
// its mode, group, access list and user attributes where the file system
// holds them. The copy is unnamed until complete where the file system
// allows it, otherwise named ".brisklume-" and six letters and locked. Works
// between any two file systems; opens regular files only, never a FIFO or a
// device. True when copied; otherwise `failure` says why.
bool CopyFileQuiet(const QString& source, const QString& destination,
                   CopyFailure* failure = nullptr);

// Removes the unfinished copies that runs which are gone left in the folder:
// named as CopyFileQuiet names them, this user's, not locked, and a JPEG as
// far as they go. Nothing else is touched.
void RemoveAbandonedResults(const QString& folder);
