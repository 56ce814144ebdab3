#include "util/file_queries.h"

#include <dirent.h>
#include <fcntl.h>
#include <linux/fs.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/statfs.h>
#include <unistd.h>

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>

#include "util/path_strings.h"

namespace {

constexpr QChar kReplacement(0xFFFD);

// True when the folder holds an entry whose stored bytes differ from
// `name`'s but read as the same text.
bool HasLookalike(const QString& folder, const QString& name) {
  const QByteArray bytes = QFile::encodeName(name);
  DIR* dir = ::opendir(NativeName(folder.isEmpty() ? "." : folder).constData());
  if (!dir) return false;
  bool found = false;
  while (const dirent* entry = ::readdir(dir)) {
    if (std::strcmp(entry->d_name, bytes.constData()) != 0 &&
        QFile::decodeName(entry->d_name) == name) {
      found = true;
      break;
    }
  }
  ::closedir(dir);
  return found;
}

// File systems whose names may fold case: FAT, exFAT, NTFS, HFS, SMB and
// CIFS shares, shared folders of virtual machines, and FUSE, which carries
// most of these on a desktop.
bool FoldingType(unsigned long type) {
  static constexpr unsigned long kTypes[] = {
      0x4d44,     0x2011bab0, 0x5346544e, 0x4244,     0x482b,    0x517b,
      0xff534d42, 0xfe534d42, 0x786f4256, 0x01021997, 0x65735546};
  for (const unsigned long known : kTypes) {
    if (type == known) return true;
  }
  return false;
}

FileId IdentityFrom(const struct stat& info, const QByteArray& name) {
  const QString path = QFile::decodeName(name);
  if (!MayFoldCase(S_ISDIR(info.st_mode) ? path : QFileInfo(path).path())) {
    return FileId{info.st_dev, info.st_ino, {}};
  }
  char real[PATH_MAX];
  const QString real_path =
      QFile::decodeName(::realpath(name.constData(), real) ? real : name);
  return FileId{info.st_dev, 0, real_path.toCaseFolded().toStdString()};
}

std::optional<FileId> Identity(const QString& path, bool folder_only) {
  struct stat info {};
  const QByteArray name = NativeName(path);
  if (path.isEmpty() || ::stat(name.constData(), &info) != 0 ||
      (folder_only && !S_ISDIR(info.st_mode))) {
    return std::nullopt;
  }
  return IdentityFrom(info, name);
}

}  // namespace

bool PathExists(const QString& path) {
  if (NativeName(path).isEmpty()) return false;
  const QFileInfo info(path);
  return info.exists() && info.lastModified().isValid();
}

bool IsFolder(const QString& path) {
  return !NativeName(path).isEmpty() && QFileInfo(path).isDir();
}

bool IsExistingFile(const QString& path) {
  if (path.isEmpty()) return false;
  // O_PATH asks for no access, as a presence test should.
  const int fd = ::open(NativeName(path).constData(), O_PATH | O_CLOEXEC);
  if (fd < 0) return false;
  struct stat info {};
  const bool file = ::fstat(fd, &info) == 0 && !S_ISDIR(info.st_mode);
  ::close(fd);
  return file;
}

int OpenRegularFile(const QString& path) {
  // Opening a device can act on it (a watchdog arms, a serial line
  // toggles), and a FIFO can block for ever: so the path is looked at
  // first, and what was opened is checked again.
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

QString FileProblem(const QString& path) {
  const int fd = OpenRegularFile(path);
  if (fd >= 0) {
    ::close(fd);
    return QString();
  }
  if (errno == ENOENT) return "the file is missing";
  if (errno == EINVAL) return "it is not a regular file";
  return "the file could not be read (" +
         QString::fromLocal8Bit(std::strerror(errno)) + ")";
}

bool IsFaithfulPath(const QString& path) {
  if (path.isEmpty() || path.contains(QChar(0))) return false;
  // Only a name with the replacement character can stand for bytes that are
  // not valid text; other paths need no look.
  if (!path.contains(kReplacement)) return true;
  const QChar separator = QDir::separator();
  qsizetype start = 0;
  while (start < path.size()) {
    qsizetype end = path.indexOf(separator, start);
    if (end < 0) end = path.size();
    const QString name = path.mid(start, end - start);
    if (name.contains(kReplacement) && HasLookalike(path.left(start), name)) {
      return false;
    }
    start = end + 1;
  }
  return true;
}

int FileAttributes(const QString& path) {
  const QByteArray name = NativeName(path);
  struct stat info {};
  if (name.isEmpty() || ::stat(name.constData(), &info) != 0) return -1;
  int attributes = 0;
  if (S_ISDIR(info.st_mode)) attributes |= kAttributeFolder;
  if (S_ISREG(info.st_mode)) attributes |= kAttributeArchive;
  if (FileNamePart(path).startsWith('.')) attributes |= kAttributeHidden;
  if (::access(name.constData(), W_OK) != 0) attributes |= kAttributeReadOnly;
  return attributes;
}

std::optional<FileId> IdentityOf(const QString& path) {
  return Identity(path, false);
}

std::optional<FileId> FolderIdentityOf(const QString& path) {
  return Identity(path, true);
}

bool MayFoldCase(const QString& path) {
  const QByteArray name = NativeName(path);
  struct statfs volume {};
  if (::statfs(name.constData(), &volume) != 0) return false;
  if (FoldingType(static_cast<unsigned long>(volume.f_type))) return true;
  // ext4 and f2fs fold case in folders that carry the casefold flag.
  const int fd = ::open(name.constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) return false;
  int flags = 0;
  const bool folds = ::ioctl(fd, FS_IOC_GETFLAGS, &flags) == 0 &&
                     (flags & FS_CASEFOLD_FL) != 0;
  ::close(fd);
  return folds;
}

std::optional<FileStamp> StampOf(const QString& path) {
  struct stat info {};
  const QByteArray name = NativeName(path);
  if (::stat(name.constData(), &info) != 0) return std::nullopt;
  constexpr long long kNs = 1000000000;
  return FileStamp{IdentityFrom(info, name), info.st_size,
                   info.st_mtim.tv_sec * kNs + info.st_mtim.tv_nsec,
                   info.st_ctim.tv_sec * kNs + info.st_ctim.tv_nsec};
}
