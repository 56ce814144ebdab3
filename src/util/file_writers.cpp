#include "util/file_writers.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QDir>
#include <QFile>
#include <QRandomGenerator>
#include <cerrno>
#include <cstring>
#include <vector>

#include "base/failure.h"
#include "base/pump_events.h"
#include "util/file_queries.h"
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

// A new file under a fresh name in the folder, created with the mode the
// umask allows: the kernel applies it, so nothing reads or changes the
// process's umask, which other threads share. Sets `name`.
int CreateBeside(const QByteArray& folder, QByteArray* name) {
  static constexpr char kLetters[] =
      "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789";
  for (int attempt = 0; attempt < 100; ++attempt) {
    *name = folder + ".brisklume-";
    for (int i = 0; i < 6; ++i) {
      *name += kLetters[QRandomGenerator::system()->bounded(
          int(sizeof kLetters - 1))];
    }
    const int fd = ::open(name->constData(),
                          O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
    if (fd >= 0 || errno != EEXIST) return fd;
  }
  return -1;
}

// A replaced file's mode goes to its successor, so that a private result
// stays private. FAT and its kin hold no modes: there a file has the mode
// its mount gives every file, and setting one fails. Elsewhere a failure
// is a failure.
bool KeepMode(int fd, const struct stat* replaced) {
  return !replaced || ::fchmod(fd, replaced->st_mode & 07777) == 0 ||
         errno == EPERM || errno == ENOSYS || errno == EOPNOTSUPP;
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
  // The copy is made beside the destination under a short name, whatever
  // the length of the destination's, and renamed over it only when
  // complete: a failed copy leaves the earlier file as it was.
  QByteArray temp;
  const int out = CreateBeside(NativeName(FolderPart(destination)), &temp);
  if (out < 0) {
    const int error = errno;
    ::close(in);
    return fail(SystemReason(error));
  }
  struct stat info {};
  bool copied = ::fstat(in, &info) == 0 &&
                CopyContents(in, out, info.st_size, &side) &&
                KeepMode(out, replacing ? &existing : nullptr);
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
  ::unlink(temp.constData());
  return fail(SystemReason(error));
}
