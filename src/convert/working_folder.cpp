#include "convert/working_folder.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <unistd.h>

#include <QDir>
#include <QFile>
#include <cerrno>
#include <cstring>

#include "base/failure.h"
#include "base/user_folders.h"
#include "util/fresh_names.h"

namespace {

constexpr char kPrefix[] = "brisklume-";
// Written into every working folder as it is made: a folder without it, or
// with other words in it, was not made by this program.
constexpr char kMarkName[] = ".brisklume-run";
constexpr char kMarkText[] =
    "Brisklume working folder: removed when its run ends.\n";

QString SystemReason(int error) {
  return QString::fromLocal8Bit(std::strerror(error));
}

// Why the folder is no place for a working folder: only we (or root) may
// rename or replace entries there. Empty when it is safe.
QString UnsafeParent(int fd) {
  struct stat info {};
  if (::fstat(fd, &info) != 0) return "it cannot be examined";
  const bool owner_trusted = info.st_uid == ::geteuid() || info.st_uid == 0;
  const bool others_locked_out =
      (info.st_mode & (S_IWGRP | S_IWOTH)) == 0 || (info.st_mode & S_ISVTX);
  if (!S_ISDIR(info.st_mode)) return "it is not a folder";
  if (!owner_trusted) return "another user owns it";
  if (!others_locked_out) {
    return "other users may rename or replace what is in it";
  }
  return {};
}

int OpenFolder(const QString& path) {
  return ::open(QFile::encodeName(path).constData(),
                O_RDONLY | O_DIRECTORY | O_CLOEXEC);
}

// The names a run puts in its folder: the converter, the two working
// files, an unfinished copy, and the converter's own unfinished output and
// scratch file.
bool IsOwnEntry(const char* name) {
  return std::strcmp(name, "lumeconv") == 0 ||
         std::strcmp(name, "temp.png") == 0 ||
         std::strcmp(name, "temp.jpg") == 0 ||
         IsFreshName(name, ".brisklume-", 6) ||
         IsFreshName(name, ".lumeconv-", 6) ||
         IsFreshName(name, ".lumeconv-scratch-", 6);
}

// True when the folder carries the mark of a run, written by this user.
bool IsMarked(int fd) {
  const int mark =
      ::openat(fd, kMarkName, O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
  if (mark < 0) return false;
  struct stat info {};
  char text[sizeof kMarkText] = {};
  const bool marked =
      ::fstat(mark, &info) == 0 && S_ISREG(info.st_mode) &&
      info.st_uid == ::geteuid() &&
      info.st_size == ssize_t(sizeof kMarkText - 1) &&
      ::read(mark, text, sizeof text) == ssize_t(sizeof kMarkText - 1) &&
      std::strcmp(text, kMarkText) == 0;
  ::close(mark);
  return marked;
}

// Removes what a run put in its folder, then the mark and the folder
// itself when nothing else is left: a file someone else put there stays,
// and so does the folder around it.
void RemoveFolderAt(int parent_fd, const char* name, int fd) {
  ForEachEntry(fd, [fd](const char* entry) {
    struct stat info {};
    if (IsOwnEntry(entry) &&
        ::fstatat(fd, entry, &info, AT_SYMLINK_NOFOLLOW) == 0 &&
        S_ISREG(info.st_mode) && info.st_uid == ::geteuid()) {
      ::unlinkat(fd, entry, 0);
    }
  });
  ::unlinkat(fd, kMarkName, 0);
  ::unlinkat(parent_fd, name, AT_REMOVEDIR);
}

// A run holds a lock on its folder while it lives; a marked folder of ours
// whose lock can be taken belongs to a run that is gone.
void RemoveAbandoned(int parent_fd) {
  ForEachEntry(parent_fd, [parent_fd](const char* entry) {
    if (!IsFreshName(entry, kPrefix, 12)) return;
    const int fd = ::openat(parent_fd, entry,
                            O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    if (fd < 0) return;
    struct stat info {};
    if (::fstat(fd, &info) == 0 && info.st_uid == ::geteuid() && IsMarked(fd) &&
        ::flock(fd, LOCK_EX | LOCK_NB) == 0) {
      RemoveFolderAt(parent_fd, entry, fd);
    }
    ::close(fd);
  });
}

bool WriteMark(int fd) {
  const int mark =
      ::openat(fd, kMarkName,
               O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
  if (mark < 0) return false;
  const ssize_t size = sizeof kMarkText - 1;
  const ssize_t n = ::write(mark, kMarkText, size);
  int error = n < 0 ? errno : ENOSPC;
  bool written = n == size;
  if (::close(mark) != 0 && written) {
    written = false;
    error = errno;
  }
  if (!written) errno = error;
  return written;
}

}  // namespace

QString WorkingFolder::TemporaryFolder() {
  for (const char* name : {"TEMP", "TMPDIR"}) {
    const QString value = qEnvironmentVariable(name);
    if (!value.isEmpty()) return value;
  }
  return "/tmp";
}

QString WorkingFolder::PrivateFolder() { return CacheFolder() + "/brisklume"; }

WorkingFolder::WorkingFolder(const Furnish& furnish) {
  const QString temp = TemporaryFolder();
  QString passed_over;
  try {
    MakeIn(temp, false, furnish);
    return;
  } catch (const Failure& failure) {
    passed_over = " (" + QDir::toNativeSeparators(temp) +
                  " was not used: " + failure.Description() + ")";
  }
  const QString own = PrivateFolder();
  try {
    MakeIn(own, true, furnish);
  } catch (const Failure& failure) {
    throw Failure("Cannot create a working folder in " +
                  QDir::toNativeSeparators(own) + ": " + failure.Description() +
                  passed_over);
  }
}

void WorkingFolder::MakeIn(const QString& parent, bool make_parent,
                           const Furnish& furnish) {
  const auto fail = [&](const QString& why) {
    Remove();
    if (parent_fd_ >= 0) ::close(parent_fd_);
    parent_fd_ = -1;
    throw Failure(why);
  };
  if (make_parent) {
    QDir().mkpath(parent);
    ::chmod(QFile::encodeName(parent).constData(), 0700);
  }
  parent_fd_ = OpenFolder(parent);
  if (parent_fd_ < 0) fail(SystemReason(errno));
  if (const QString why = UnsafeParent(parent_fd_); !why.isEmpty()) fail(why);
  RemoveAbandoned(parent_fd_);
  // Made under a fresh name that no one can guess or take first.
  int made = -1;
  for (int attempt = 0; attempt < 100 && made != 0; ++attempt) {
    name_ = FreshName(kPrefix, 12);
    made = ::mkdirat(parent_fd_, name_.constData(), 0700);
    if (made != 0 && errno != EEXIST) break;
  }
  if (made != 0) fail(SystemReason(errno));
  fd_ = ::openat(parent_fd_, name_.constData(),
                 O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
  struct stat info {};
  if (fd_ < 0 || ::fstat(fd_, &info) != 0 || info.st_uid != ::geteuid() ||
      ::fchmod(fd_, 0700) != 0) {
    const int error = fd_ < 0 ? errno : EPERM;
    if (fd_ >= 0) ::close(fd_);
    fd_ = -1;
    ::unlinkat(parent_fd_, name_.constData(), AT_REMOVEDIR);
    fail(SystemReason(error));
  }
  ::flock(fd_, LOCK_EX | LOCK_NB);
  location_ = QDir(parent).filePath(QFile::decodeName(name_));
  path_ = "/proc/self/fd/" + QString::number(fd_);
  if (!WriteMark(fd_)) {
    fail("nothing can be written in it (" + SystemReason(errno) + ")");
  }
  // Without /proc the folder can only be named; its parent is safe.
  struct stat named {};
  if (::stat(QFile::encodeName(path_).constData(), &named) != 0 ||
      named.st_dev != info.st_dev || named.st_ino != info.st_ino) {
    path_ = location_;
  }
  if (!furnish) return;
  try {
    furnish(*this);
  } catch (const Failure& failure) {
    fail(failure.Description());
  }
}

WorkingFolder::~WorkingFolder() { Remove(); }

bool WorkingFolder::AllowsPrograms() const {
  struct statvfs volume {};
  return fd_ >= 0 && ::fstatvfs(fd_, &volume) == 0 &&
         (volume.f_flag & ST_NOEXEC) == 0;
}

void WorkingFolder::Remove() {
  if (fd_ < 0) return;
  RemoveFolderAt(parent_fd_, name_.constData(), fd_);
  ::close(fd_);
  ::close(parent_fd_);
  fd_ = -1;
  parent_fd_ = -1;
  path_.clear();
}
