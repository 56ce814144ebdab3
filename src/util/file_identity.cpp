#include "util/file_identity.h"

#include <sys/stat.h>

#include "util/native_name.h"

namespace {

std::optional<FileId> Identity(const QString& path, bool folder_only) {
  struct stat info {};
  if (path.isEmpty() || ::stat(NativeName(path).constData(), &info) != 0 ||
      (folder_only && !S_ISDIR(info.st_mode))) {
    return std::nullopt;
  }
  return FileId{info.st_dev, info.st_ino};
}

}  // namespace

std::optional<FileId> IdentityOf(const QString& path) {
  return Identity(path, false);
}

std::optional<FileId> FolderIdentityOf(const QString& path) {
  return Identity(path, true);
}
