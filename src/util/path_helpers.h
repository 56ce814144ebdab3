#pragma once

#include <QByteArray>
#include <QString>

// Path and file helpers shared by the adding and converting code. Paths use
// the platform's separator; nothing here resolves or normalises beyond what
// each helper says.

// The path up to and including its last separator; empty when it has none.
QString FolderPart(const QString& path);
// The part after the last separator; the whole path when it has none.
QString FileNamePart(const QString& path);
// The name without its last "." and what follows, unless that dot leads.
QString StripExtension(const QString& name);
// Doubled separators made single in one left-to-right pass. A leading run of
// two or more (a network prefix) comes back as exactly two; a single leading
// separator stays single.
QString CollapseBackslashes(const QString& path);

// True when the path is a folder; never fails.
bool IsFolder(const QString& path);

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
// its mode where the file system holds modes. Works between any two file
// systems; opens regular files only, never a FIFO or a device. True when
// copied; otherwise `failure` says why.
bool CopyFileQuiet(const QString& source, const QString& destination,
                   CopyFailure* failure = nullptr);
// Why the path cannot be read as a regular file ("the file is missing", "it
// is not a regular file", ...); empty when it can. Never waits.
QString FileProblem(const QString& path);
