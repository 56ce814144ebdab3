#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QFile>
#include <cerrno>
#include <cstring>
#include <vector>

#include "util/path_helpers.h"

namespace {

constexpr size_t kBufferBytes = 1 << 20;

// Opens a regular file for reading without ever waiting: a FIFO or a device
// opened the ordinary way can block forever. Returns -1 with errno set, and
// EINVAL for anything that is not a regular file.
int OpenRegular(const QString& path) {
  const int fd = ::open(QFile::encodeName(path).constData(),
                        O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
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
    if (n <= 0) return false;
    data += n;
    size -= n;
  }
  return true;
}

// Copies the rest of `in` to `out`: in the kernel where the two file systems
// allow it, otherwise through a buffer (between file systems, and where the
// kernel copy stops short).
bool CopyContents(int in, int out, off_t size) {
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
    if (n < 0) return false;
    if (n == 0) return true;
    if (!WriteAll(out, buffer.data(), n)) return false;
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

}  // namespace

QString FileProblem(const QString& path) {
  const int fd = OpenRegular(path);
  if (fd >= 0) {
    ::close(fd);
    return QString();
  }
  if (errno == ENOENT) return "the file is missing";
  if (errno == EINVAL) return "it is not a regular file";
  return "the file could not be read (" +
         QString::fromLocal8Bit(std::strerror(errno)) + ")";
}

bool CopyFileQuiet(const QString& source, const QString& destination) {
  const QByteArray target = QFile::encodeName(destination);
  struct stat existing {};
  if (::stat(target.constData(), &existing) == 0 &&
      (!S_ISREG(existing.st_mode) || ::access(target.constData(), W_OK) != 0)) {
    return false;  // never replace a folder, a special or a read-only file
  }
  const int in = OpenRegular(source);
  if (in < 0) return false;
  // The copy is made beside the destination under a short name, whatever
  // the length of the destination's, and renamed over it only when
  // complete: a failed copy leaves the earlier file as it was.
  QByteArray temp =
      QFile::encodeName(FolderPart(destination)) + ".brisklume-XXXXXX";
  const int out = ::mkostemp(temp.data(), O_CLOEXEC);
  struct stat info {};
  bool copied = out >= 0 && ::fstat(in, &info) == 0 &&
                CopyContents(in, out, info.st_size);
  ::close(in);
  if (out < 0) return false;
  copied = ::fchmod(out, ModeFor(target)) == 0 && copied;
  copied = ::close(out) == 0 && copied;
  copied = copied && ::rename(temp.constData(), target.constData()) == 0;
  if (!copied) ::unlink(temp.constData());
  return copied;
}
