#include "util/file_writers.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/xattr.h>
#include <unistd.h>

#include <QDir>
#include <QFile>
#include <cerrno>
#include <cstring>
#include <vector>

#include "base/failure.h"
#include "base/pump_events.h"
#include "util/file_queries.h"
#include "util/fresh_names.h"
#include "util/path_strings.h"

namespace {

constexpr size_t kBufferBytes = 1 << 20;

QString SystemReason(int error) {
  return QString::fromLocal8Bit(std::strerror(error));
}

bool IsBlank(const QString& text) { return text.trimmed().isEmpty(); }

bool WriteAll(int fd, const char* data, ssize_t size) {
  while (size > 0) {
    const ssize_t n = ::write(fd, data, static_cast<size_t>(size));
    if (n < 0 && errno == EINTR) continue;
    if (n == 0) errno = ENOSPC;
    if (n <= 0) return false;
    data += n;
    size -= n;
  }
  return true;
}

// Copies the rest of `in` to `out`: in the kernel where the two file systems
// allow it, otherwise through a buffer (between file systems, and where the
// kernel copy stops short). On failure, says which side failed.
bool CopyContents(int in, int out, off_t size, CopyFailure::Side* side) {
  off_t copied = 0;
  while (copied < size) {
    const ssize_t n = ::copy_file_range(in, nullptr, out, nullptr,
                                        static_cast<size_t>(size - copied), 0);
    if (n <= 0) break;
    copied += n;
  }
  std::vector<char> buffer(copied < size ? kBufferBytes : 0);
  for (;;) {
    if (buffer.empty()) return true;
    const ssize_t n = ::read(in, buffer.data(), buffer.size());
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) {
      *side = CopyFailure::Side::kSource;
      return false;
    }
    if (n == 0) return true;
    if (!WriteAll(out, buffer.data(), n)) {
      *side = CopyFailure::Side::kDestination;
      return false;
    }
  }
}

constexpr char kResultPrefix[] = ".brisklume-";
constexpr char kAccessList[] = "system.posix_acl_access";

// A new file in the folder, created with the mode the umask allows: the
// kernel applies it, so nothing reads or changes the process's umask,
// which other threads share. Where the file system has them it is an
// unnamed file, so that a crash leaves nothing behind; elsewhere it gets a
// fresh name (set in `name`) and is locked while it is written, so that a
// later run can tell an abandoned one.
int CreateBeside(const QByteArray& folder, QByteArray* name) {
  name->clear();
  const int unnamed = ::open(folder.isEmpty() ? "." : folder.constData(),
                             O_TMPFILE | O_WRONLY | O_CLOEXEC, 0666);
  if (unnamed >= 0) return unnamed;
  for (int attempt = 0; attempt < 100; ++attempt) {
    *name = FreshName(folder + kResultPrefix, 6);
    const int fd = ::open(name->constData(),
                          O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
    if (fd >= 0) ::flock(fd, LOCK_EX | LOCK_NB);
    if (fd >= 0 || errno != EEXIST) return fd;
  }
  return -1;
}

// Gives the unnamed file a fresh name beside the destination.
bool NameUnnamed(int fd, const QByteArray& folder, QByteArray* name) {
  const QByteArray handle = "/proc/self/fd/" + QByteArray::number(fd);
  for (int attempt = 0; attempt < 100; ++attempt) {
    *name = FreshName(folder + kResultPrefix, 6);
    if (::linkat(AT_FDCWD, handle.constData(), AT_FDCWD, name->constData(),
                 AT_SYMLINK_FOLLOW) == 0) {
      return true;
    }
    if (errno != EEXIST) break;
  }
  name->clear();
  return false;
}

bool Unsupported(int error) {
  return error == ENOTSUP || error == EOPNOTSUPP || error == ENOSYS;
}

// A replaced file's mode, group, access list and user attributes go to its
// successor, so that a private result stays private and a shared one
// stays shared, and the successor never grants what the old file did not.
// FAT and its kin hold none of these: there every file has what its mount
// gives it, and setting them fails. Elsewhere a failure is a failure.
bool KeepSecurity(int fd, const QByteArray& replaced_path,
                  const struct stat* replaced) {
  if (!replaced) return true;
  mode_t mode = replaced->st_mode & 07777;
  struct stat made {};
  if (::fstat(fd, &made) != 0) return false;
  // Group bits mean another group where the old group cannot be kept.
  if (made.st_gid != replaced->st_gid &&
      ::fchown(fd, uid_t(-1), replaced->st_gid) != 0) {
    mode &= ~mode_t(S_IRWXG | S_ISGID);
  }
  // An access list the folder passed on by default is not the old file's.
  if (::fremovexattr(fd, kAccessList) != 0 && errno != ENODATA &&
      !Unsupported(errno)) {
    return false;
  }
  if (::fchmod(fd, mode) != 0 && errno != EPERM && !Unsupported(errno)) {
    return false;
  }
  const ssize_t size = ::listxattr(replaced_path.constData(), nullptr, 0);
  if (size < 0) return Unsupported(errno) || errno == ENOENT;
  std::vector<char> names(static_cast<size_t>(size) + 1);
  const ssize_t listed =
      ::listxattr(replaced_path.constData(), names.data(), names.size());
  if (listed < 0) return false;
  for (const char* name = names.data(); name < names.data() + listed;
       name += std::strlen(name) + 1) {
    const bool wanted = std::strcmp(name, kAccessList) == 0 ||
                        std::strncmp(name, "user.", 5) == 0;
    if (!wanted) continue;
    const ssize_t length =
        ::getxattr(replaced_path.constData(), name, nullptr, 0);
    if (length < 0) return false;
    std::vector<char> value(static_cast<size_t>(length) + 1);
    const ssize_t got =
        ::getxattr(replaced_path.constData(), name, value.data(), value.size());
    if (got < 0 || ::fsetxattr(fd, name, value.data(), size_t(got), 0) != 0) {
      return false;
    }
  }
  return true;
}

}  // namespace

void DeleteFileQuiet(const QString& path) {
  PumpEvents();
  // Removing a file depends on its folder, not on the file's own mode; a
  // refused delete leaves the file exactly as it was.
  ::unlink(NativeName(path).constData());
}

bool WriteBytesIfAbsent(const QByteArray& bytes, const QString& path) {
  PumpEvents();
  if (PathExists(path)) return false;
  // Created exclusively: whatever appears at the path in the meantime is
  // never written through, followed or taken for ours.
  const int fd =
      ::open(NativeName(path).constData(),
             O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
  if (fd < 0) {
    if (errno == EEXIST) return false;
    throw Failure(QDir::toNativeSeparators(path) + ": " + SystemReason(errno));
  }
  QFile file;
  const bool written =
      file.open(fd, QIODevice::WriteOnly, QFileDevice::AutoCloseHandle) &&
      file.write(bytes) == bytes.size() && file.flush();
  const QString error = file.errorString();
  file.close();
  if (!written) {
    ::unlink(NativeName(path).constData());
    throw Failure(QDir::toNativeSeparators(path) + ": " + error);
  }
  return true;
}

void CopyFileChecked(const QString& source, const QString& destination,
                     CopyFailure* failure) {
  if (IsBlank(source) || IsBlank(destination)) return;
  // "?" and "*" are ordinary characters in names here: no path is a pattern.
  const QString s = CollapseBackslashes(source);
  const QString d = CollapseBackslashes(destination);
  if (IsExistingFile(s) && IsFolder(FolderPart(d))) {
    CopyFileQuiet(s, d, failure);
  }
}

bool CopyFileQuiet(const QString& source, const QString& destination,
                   CopyFailure* failure) {
  CopyFailure::Side side = CopyFailure::Side::kDestination;
  const auto fail = [&](const QString& reason) {
    if (failure) *failure = {side, reason};
    return false;
  };
  const QByteArray target = NativeName(destination);
  struct stat existing {};
  if (target.isEmpty()) return fail(SystemReason(ENOENT));
  const bool replacing = ::stat(target.constData(), &existing) == 0;
  if (replacing) {
    // Never replace a folder, a special or a read-only file.
    if (!S_ISREG(existing.st_mode)) return fail("it is not a regular file");
    if (::access(target.constData(), W_OK) != 0) {
      return fail(SystemReason(errno));
    }
  }
  const int in = OpenRegularFile(source);
  if (in < 0) {
    side = CopyFailure::Side::kSource;
    return fail(errno == EINVAL ? "it is not a regular file"
                                : SystemReason(errno));
  }
  // The copy is made beside the destination, unnamed or under a short name
  // whatever the length of the destination's, and renamed over it only
  // when complete: a failed copy leaves the earlier file as it was.
  const QByteArray folder = NativeName(FolderPart(destination));
  QByteArray temp;
  const int out = CreateBeside(folder, &temp);
  if (out < 0) {
    const int error = errno;
    ::close(in);
    return fail(SystemReason(error));
  }
  struct stat info {};
  bool copied = ::fstat(in, &info) == 0 &&
                CopyContents(in, out, info.st_size, &side) &&
                KeepSecurity(out, target, replacing ? &existing : nullptr) &&
                (!temp.isEmpty() || NameUnnamed(out, folder, &temp));
  int error = errno;
  ::close(in);
  if (::close(out) != 0 && copied) {
    copied = false;
    error = errno;
  }
  if (copied && ::rename(temp.constData(), target.constData()) != 0) {
    copied = false;
    error = errno;
  }
  if (copied) return true;
  if (!temp.isEmpty()) ::unlink(temp.constData());
  return fail(SystemReason(error));
}

void RemoveAbandonedResults(const QString& folder) {
  const QByteArray name = NativeName(folder);
  const int folder_fd = ::open(name.isEmpty() ? "." : name.constData(),
                               O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (folder_fd < 0) return;
  ForEachEntry(folder_fd, [folder_fd](const char* entry) {
    if (!IsFreshName(entry, kResultPrefix, 6)) return;
    const int fd = ::openat(folder_fd, entry,
                            O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) return;
    struct stat info {};
    unsigned char start[3] = {};
    // Ours, unlocked, and a JPEG as far as it was written: an unfinished
    // result of a run that is gone.
    if (::fstat(fd, &info) == 0 && S_ISREG(info.st_mode) &&
        info.st_uid == ::geteuid() && ::flock(fd, LOCK_EX | LOCK_NB) == 0 &&
        ::read(fd, start, sizeof start) == ssize_t(sizeof start) &&
        start[0] == 0xFF && start[1] == 0xD8 && start[2] == 0xFF) {
      ::unlinkat(folder_fd, entry, 0);
    }
    ::close(fd);
  });
  ::close(folder_fd);
}
