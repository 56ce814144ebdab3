#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <vector>

#include "util/native_name.h"
#include "util/path_helpers.h"

namespace {

constexpr size_t kBufferBytes = 1 << 20;

QString SystemReason(int error) {
  return QString::fromLocal8Bit(std::strerror(error));
}

// Opens a regular file for reading without ever waiting, and without ever
// opening anything else: opening a device can act on it (a watchdog arms,
// a serial line toggles), and a FIFO can block for ever. So the path is
// looked at first, and what was opened is checked again. Returns -1 with
// errno set, and EINVAL for anything that is not a regular file.
int OpenRegular(const QString& path) {
  const QByteArray name = NativeName(path);
  struct stat seen {};
  if (::stat(name.constData(), &seen) != 0) return -1;
  if (!S_ISREG(seen.st_mode)) {
    errno = EINVAL;
    return -1;
  }
  const int fd =
      ::open(name.constData(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
  if (fd < 0) return -1;
  struct stat info {};
  if (::fstat(fd, &info) != 0 || !S_ISREG(info.st_mode)) {
    ::close(fd);
    errno = EINVAL;
    return -1;
  }
  ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) & ~O_NONBLOCK);
  return fd;
}

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

// The mode a new file gets: the replaced file's, so that a private result
// stays private, or what the umask allows.
mode_t ModeFor(const QByteArray& destination) {
  struct stat existing {};
  if (::stat(destination.constData(), &existing) == 0) {
    return existing.st_mode & 07777;
  }
  const mode_t mask = ::umask(0);
  ::umask(mask);
  return 0666 & ~mask;
}

// FAT and its kin hold no modes: there a file has the mode its mount gives
// every file, and setting one fails. Elsewhere a failure is a failure.
bool SetModeWherePossible(int fd, mode_t mode) {
  return ::fchmod(fd, mode) == 0 || errno == EPERM || errno == ENOSYS ||
         errno == EOPNOTSUPP;
}

}  // namespace

QString FileProblem(const QString& path) {
  const int fd = OpenRegular(path);
  if (fd >= 0) {
    ::close(fd);
    return QString();
  }
  if (errno == ENOENT) return "the file is missing";
  if (errno == EINVAL) return "it is not a regular file";
  return "the file could not be read (" + SystemReason(errno) + ")";
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
  if (::stat(target.constData(), &existing) == 0) {
    // Never replace a folder, a special or a read-only file.
    if (!S_ISREG(existing.st_mode)) return fail("it is not a regular file");
    if (::access(target.constData(), W_OK) != 0) {
      return fail(SystemReason(errno));
    }
  }
  const int in = OpenRegular(source);
  if (in < 0) {
    side = CopyFailure::Side::kSource;
    return fail(errno == EINVAL ? "it is not a regular file"
                                : SystemReason(errno));
  }
  // The copy is made beside the destination under a short name, whatever
  // the length of the destination's, and renamed over it only when
  // complete: a failed copy leaves the earlier file as it was.
  QByteArray temp = NativeName(FolderPart(destination)) + ".brisklume-XXXXXX";
  const int out = ::mkostemp(temp.data(), O_CLOEXEC);
  if (out < 0) {
    const int error = errno;
    ::close(in);
    return fail(SystemReason(error));
  }
  struct stat info {};
  bool copied = ::fstat(in, &info) == 0 &&
                CopyContents(in, out, info.st_size, &side) &&
                SetModeWherePossible(out, ModeFor(target));
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
