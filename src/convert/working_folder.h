#pragma once

#include <QString>
#include <functional>

// A folder for one batch run's converter and working files, made fresh for
// the run, readable and writable by the user alone and removed when
// dropped. It stays ours for its whole life: it is made only in a folder
// where no other user can rename or replace entries, and it is reached
// through an open descriptor, never again by name. A mark inside tells a
// later run that the folder is ours; only ours, and only the files we put
// in them, are ever removed.
class WorkingFolder {
 public:
  // What must be put into a new folder before it is of use; throws Failure
  // when that cannot be done there.
  using Furnish = std::function<void(const WorkingFolder&)>;

  // Made inside TemporaryFolder() when that folder is safe and the folder
  // can be made and furnished there, otherwise in the user's private cache
  // folder. Removes this user's folders of earlier runs that are gone.
  // Throws Failure naming each place tried and why it failed.
  explicit WorkingFolder(const Furnish& furnish = {});
  ~WorkingFolder();
  WorkingFolder(const WorkingFolder&) = delete;
  WorkingFolder& operator=(const WorkingFolder&) = delete;

  // A path that reaches this folder through its descriptor, in this process
  // and in a child that inherits Descriptor().
  const QString& Path() const { return path_; }
  int Descriptor() const { return fd_; }
  // Where the folder lies, for people to read.
  const QString& Location() const { return location_; }
  // False where the folder's file system is mounted without the right to
  // run programs.
  bool AllowsPrograms() const;
  // Removes the folder now; safe to call more than once.
  void Remove();

  // TEMP when set and not empty, otherwise TMPDIR when so, otherwise /tmp.
  static QString TemporaryFolder();
  // The user's own folder, used when TemporaryFolder() is not safe.
  static QString PrivateFolder();

 private:
  // Makes and furnishes the folder inside `parent`; throws Failure with the
  // reason alone.
  void MakeIn(const QString& parent, bool make_parent, const Furnish& furnish);

  int parent_fd_ = -1;
  int fd_ = -1;
  QByteArray name_;
  QString path_;
  QString location_;
};
