#include "convert/working_folder.h"

#include <sys/statvfs.h>

#include <QDir>
#include <QFile>
#include <QStandardPaths>
#include <cstdlib>

#include "app/failure.h"

namespace {

bool AllowsPrograms(const QString& folder) {
  struct statvfs info {};
  return ::statvfs(QFile::encodeName(folder).constData(), &info) == 0 &&
         !(info.f_flag & ST_NOEXEC);
}

QString MakePrivateFolder(const QString& parent) {
  QDir().mkpath(parent);
  QByteArray pattern = QFile::encodeName(parent + "/brisklume-XXXXXX");
  // mkdtemp makes the folder with mode 0700, under a name no one can guess.
  if (!::mkdtemp(pattern.data())) return QString();
  return QFile::decodeName(pattern);
}

}  // namespace

QString WorkingFolder::TemporaryFolder() {
  const QString temp = qEnvironmentVariable("TEMP");
  return temp.isEmpty() ? QDir::tempPath() : temp;
}

WorkingFolder::WorkingFolder() {
  QString parent = TemporaryFolder();
  if (!AllowsPrograms(parent)) {
    parent = QStandardPaths::writableLocation(QStandardPaths::CacheLocation);
  }
  path_ = MakePrivateFolder(parent);
  if (path_.isEmpty()) {
    throw Failure("Cannot create a working folder in " +
                  QDir::toNativeSeparators(parent) + ".");
  }
}

WorkingFolder::~WorkingFolder() { Remove(); }

void WorkingFolder::Remove() {
  if (!path_.isEmpty()) QDir(path_).removeRecursively();
}
