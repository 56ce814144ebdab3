#pragma once

#include <QString>

// A folder for one batch run's converter and working files, made fresh for
// the run, readable and writable by the user alone and removed with
// everything in it when dropped. It stays ours for its whole life: it is
// made only in a folder where no other user can rename or replace entries,
// and it is reached through an open descriptor, never again by name.
class WorkingFolder {
 public:
  // Made inside TemporaryFolder() when that folder is safe and lets
  // programs run there, otherwise in the user's private cache folder.
  // Removes this user's folders of earlier runs that are gone. Throws
  // Failure.
  WorkingFolder();
  ~WorkingFolder();
  WorkingFolder(const WorkingFolder&) = delete;
  WorkingFolder& operator=(const WorkingFolder&) = delete;

  // A path that reaches this folder through its descriptor, in this process
  // and in a child that inherits Descriptor().
  const QString& Path() const { return path_; }
  int Descriptor() const { return fd_; }
  // Where the folder lies, for people to read.
  const QString& Location() const { return location_; }
  // Removes the folder now; safe to call more than once.
  void Remove();

  // TEMP when set and not empty, otherwise the system's temporary folder.
  static QString TemporaryFolder();
  // The user's own folder, used when TemporaryFolder() is not safe.
  static QString PrivateFolder();

 private:
  int parent_fd_ = -1;
  int fd_ = -1;
  QByteArray name_;
  QString path_;
  QString location_;
};
