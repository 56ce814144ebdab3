#pragma once

#include <QString>

// A folder for one batch run's converter and working files, readable and
// writable by the user alone, removed with everything in it when dropped.
class WorkingFolder {
 public:
  // Made inside TemporaryFolder(), or in the user's cache folder when that
  // folder does not let programs run. Throws Failure.
  WorkingFolder();
  ~WorkingFolder();
  WorkingFolder(const WorkingFolder&) = delete;
  WorkingFolder& operator=(const WorkingFolder&) = delete;

  const QString& Path() const { return path_; }
  // Removes the folder now; safe to call more than once.
  void Remove();

  // TEMP when set and not empty, otherwise the system's temporary folder.
  static QString TemporaryFolder();

 private:
  QString path_;
};
