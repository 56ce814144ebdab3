#include "util/file_identity.h"

#include <sys/stat.h>

#include <QFile>

std::optional<FileId> IdentityOf(const QString& path) {
  struct stat info {};
  if (path.isEmpty() ||
      ::stat(QFile::encodeName(path).constData(), &info) != 0) {
    return std::nullopt;
  }
  return FileId{info.st_dev, info.st_ino};
}
