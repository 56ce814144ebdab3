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

std::optional<FileStamp> StampOf(const QString& path) {
  struct stat info {};
  if (::stat(NativeName(path).constData(), &info) != 0) return std::nullopt;
  constexpr long long kNs = 1000000000;
  return FileStamp{{info.st_dev, info.st_ino},
                   info.st_size,
                   info.st_mtim.tv_sec * kNs + info.st_mtim.tv_nsec,
                   info.st_ctim.tv_sec * kNs + info.st_ctim.tv_nsec};
}

std::optional<FileId> IdentityOf(const QString& path) {
  return Identity(path, false);
}

std::optional<FileId> FolderIdentityOf(const QString& path) {
  return Identity(path, true);
}
