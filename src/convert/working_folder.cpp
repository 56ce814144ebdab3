#include "convert/working_folder.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <unistd.h>

#include <QDir>
#include <QFile>
#include <QRandomGenerator>
#include <QStandardPaths>
#include <cerrno>
#include <cstring>

#include "base/failure.h"

namespace {

constexpr char kPrefix[] = "brisklume-";

// Why the folder is no place for a working folder: only we (or root) may
// rename or replace entries there, and programs must be able to run there.
// Empty when it is safe.
QString UnsafeParent(int fd) {
  struct stat info {};
  struct statvfs volume {};
  if (::fstat(fd, &info) != 0 || ::fstatvfs(fd, &volume) != 0) {
    return "it cannot be examined";
  }
  const bool owner_trusted = info.st_uid == ::geteuid() || info.st_uid == 0;
  const bool others_locked_out =
      (info.st_mode & (S_IWGRP | S_IWOTH)) == 0 || (info.st_mode & S_ISVTX);
  if (!S_ISDIR(info.st_mode)) return "it is not a folder";
  if (!owner_trusted) return "another user owns it";
  if (!others_locked_out) {
    return "other users may rename or replace what is in it";
  }
  if (volume.f_flag & ST_NOEXEC) return "programs may not run there";
  return {};
}

int OpenFolder(const QString& path) {
  return ::open(QFile::encodeName(path).constData(),
                O_RDONLY | O_DIRECTORY | O_CLOEXEC);
}

// Removes a working folder's entries (it never holds folders) and then the
// folder, all relative to open descriptors.
void RemoveFolderAt(int parent_fd, const char* name, int fd) {
  const int listing = ::dup(fd);
  if (listing < 0) return;
  if (DIR* dir = ::fdopendir(listing)) {
    while (const dirent* entry = ::readdir(dir)) {
      if (std::strcmp(entry->d_name, ".") != 0 &&
          std::strcmp(entry->d_name, "..") != 0) {
        ::unlinkat(fd, entry->d_name, 0);
      }
    }
    ::closedir(dir);
  } else {
    ::close(listing);
  }
  ::unlinkat(parent_fd, name, AT_REMOVEDIR);
}

// A run holds a lock on its folder while it lives; a folder of ours whose
// lock can be taken belongs to a run that is gone.
void RemoveAbandoned(int parent_fd) {
  const int listing = ::dup(parent_fd);
  if (listing < 0) return;
  DIR* dir = ::fdopendir(listing);
  if (!dir) {
    ::close(listing);
    return;
  }
  while (const dirent* entry = ::readdir(dir)) {
    if (std::strncmp(entry->d_name, kPrefix, sizeof kPrefix - 1) != 0) {
      continue;
    }
    const int fd = ::openat(parent_fd, entry->d_name,
                            O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    if (fd < 0) continue;
    struct stat info {};
    if (::fstat(fd, &info) == 0 && info.st_uid == ::geteuid() &&
        ::flock(fd, LOCK_EX | LOCK_NB) == 0) {
      RemoveFolderAt(parent_fd, entry->d_name, fd);
    }
    ::close(fd);
  }
  ::closedir(dir);
}

QByteArray RandomName() {
  static constexpr char kLetters[] =
      "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789";
  QByteArray name(kPrefix);
  for (int i = 0; i < 12; ++i) {
    name +=
        kLetters[QRandomGenerator::system()->bounded(int(sizeof kLetters - 1))];
  }
  return name;
}

}  // namespace

QString WorkingFolder::TemporaryFolder() {
  const QString temp = qEnvironmentVariable("TEMP");
  return temp.isEmpty() ? QDir::tempPath() : temp;
}

QString WorkingFolder::PrivateFolder() {
  return QStandardPaths::writableLocation(
             QStandardPaths::GenericCacheLocation) +
         "/brisklume";
}

WorkingFolder::WorkingFolder() {
  QString parent = TemporaryFolder();
  parent_fd_ = OpenFolder(parent);
  // Why TEMP was passed over, for a failure in the folder used instead.
  QString passed_over;
  if (parent_fd_ >= 0) {
    if (const QString why = UnsafeParent(parent_fd_); !why.isEmpty()) {
      passed_over = " (" + QDir::toNativeSeparators(parent) +
                    " was not used: " + why + ")";
      ::close(parent_fd_);
      parent = PrivateFolder();
      QDir().mkpath(parent);
      ::chmod(QFile::encodeName(parent).constData(), 0700);
      parent_fd_ = OpenFolder(parent);
    }
  }
  const auto fail = [&](const QString& why) {
    if (parent_fd_ >= 0) ::close(parent_fd_);
    parent_fd_ = -1;
    throw Failure("Cannot create a working folder in " +
                  QDir::toNativeSeparators(parent) + ": " + why + passed_over);
  };
  const auto fail_with = [&](int error) {
    fail(QString::fromLocal8Bit(std::strerror(error)));
  };
  if (parent_fd_ < 0) fail_with(errno);
  if (!passed_over.isEmpty()) {
    if (const QString why = UnsafeParent(parent_fd_); !why.isEmpty()) fail(why);
  }
  RemoveAbandoned(parent_fd_);
  // Made under a fresh name that no one can guess or take first.
  int made = -1;
  for (int attempt = 0; attempt < 100 && made != 0; ++attempt) {
    name_ = RandomName();
    made = ::mkdirat(parent_fd_, name_.constData(), 0700);
    if (made != 0 && errno != EEXIST) break;
  }
  if (made != 0) fail_with(errno);
  fd_ = ::openat(parent_fd_, name_.constData(),
                 O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
  struct stat info {};
  if (fd_ < 0 || ::fstat(fd_, &info) != 0 || info.st_uid != ::geteuid() ||
      ::fchmod(fd_, 0700) != 0) {
    const int error = fd_ < 0 ? errno : EPERM;
    if (fd_ >= 0) ::close(fd_);
    fd_ = -1;
    fail_with(error);
  }
  ::flock(fd_, LOCK_EX | LOCK_NB);
  location_ = QDir(parent).filePath(QFile::decodeName(name_));
  path_ = "/proc/self/fd/" + QString::number(fd_);
  // Without /proc the folder can only be named; its parent is safe.
  struct stat named {};
  if (::stat(QFile::encodeName(path_).constData(), &named) != 0 ||
      named.st_dev != info.st_dev || named.st_ino != info.st_ino) {
    path_ = location_;
  }
}

WorkingFolder::~WorkingFolder() { Remove(); }

void WorkingFolder::Remove() {
  if (fd_ < 0) return;
  RemoveFolderAt(parent_fd_, name_.constData(), fd_);
  ::close(fd_);
  ::close(parent_fd_);
  fd_ = -1;
  parent_fd_ = -1;
  path_.clear();
}
