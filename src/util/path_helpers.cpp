#include "util/path_helpers.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include "app/failure.h"
#include "app/pump_events.h"
#include "filelist/is_existing_file.h"
#include "util/path_exists.h"

namespace {

const QChar kSeparator = QDir::separator();

QString CollapseOnePass(const QString& text) {
  QString out;
  out.reserve(text.size());
  for (qsizetype i = 0; i < text.size(); ++i) {
    out += text[i];
    if (text[i] == kSeparator && i + 1 < text.size() &&
        text[i + 1] == kSeparator) {
      ++i;  // the pair becomes one; the next pair starts after it
    }
  }
  return out;
}

bool IsBlank(const QString& text) { return text.trimmed().isEmpty(); }

}  // namespace

QString FolderPart(const QString& path) {
  const qsizetype last = path.lastIndexOf(kSeparator);
  return last < 0 ? QString() : path.left(last + 1);
}

QString FileNamePart(const QString& path) {
  return path.mid(path.lastIndexOf(kSeparator) + 1);
}

QString StripExtension(const QString& name) {
  const qsizetype dot = name.lastIndexOf('.');
  return dot >= 1 ? name.left(dot) : name;
}

QString CollapseBackslashes(const QString& path) {
  if (path.size() < 2 || path[0] != kSeparator || path[1] != kSeparator) {
    return CollapseOnePass(path);
  }
  qsizetype k = 1;
  while (k < path.size() && path[k] == kSeparator) ++k;
  return QString(2, kSeparator) + CollapseOnePass(path.mid(k));
}

bool IsFolder(const QString& path) {
  return !path.isEmpty() && QFileInfo(path).isDir();
}

void DeleteFileQuiet(const QString& path) {
  PumpEvents();
  if (QFile::remove(path)) return;
  // Forced: a file the user may not write is removed all the same.
  QFile::setPermissions(path, QFile::permissions(path) | QFile::WriteOwner);
  QFile::remove(path);
}

void WriteBytesIfAbsent(const QByteArray& bytes, const QString& path) {
  PumpEvents();
  if (PathExists(path)) return;
  QFile file(path);
  if (!file.open(QIODevice::WriteOnly) || file.write(bytes) != bytes.size() ||
      !file.flush()) {
    throw Failure(QDir::toNativeSeparators(path) + ": " + file.errorString());
  }
}

void CopyFileChecked(const QString& source, const QString& destination) {
  if (IsBlank(source) || IsBlank(destination)) return;
  const QString s = CollapseBackslashes(source);
  QString d = CollapseBackslashes(destination);
  if (s.contains('?') || s.contains('*')) d = FolderPart(d);
  if (IsExistingFile(s) && IsFolder(FolderPart(d))) CopyFileQuiet(s, d);
}

bool CopyFileQuiet(const QString& source, const QString& destination) {
  const QFileInfo target(destination);
  if (target.exists() && (!target.isFile() || !target.isWritable())) {
    return false;
  }
  const int in = ::open(QFile::encodeName(source).constData(),
                        O_RDONLY | O_CLOEXEC);
  if (in < 0) return false;
  // The copy is made beside the destination and renamed over it only when
  // complete, so a failed copy leaves the earlier file as it was.
  QByteArray temp = QFile::encodeName(FolderPart(destination) + "." +
                                      FileNamePart(destination) + "-XXXXXX");
  const int out = ::mkostemp(temp.data(), O_CLOEXEC);
  bool copied = out >= 0;
  struct stat info {};
  copied = copied && ::fstat(in, &info) == 0;
  for (off_t left = info.st_size; copied && left > 0;) {
    const ssize_t n = ::copy_file_range(in, nullptr, out, nullptr,
                                        static_cast<size_t>(left), 0);
    copied = n > 0;
    left -= n;
  }
  ::close(in);
  if (out >= 0) {
    const mode_t mask = ::umask(0);
    ::umask(mask);
    copied = ::fchmod(out, 0666 & ~mask) == 0 && ::close(out) == 0 && copied;
    copied = copied && ::rename(temp.constData(),
                                QFile::encodeName(destination).constData()) == 0;
    if (!copied) ::unlink(temp.constData());
  }
  return copied;
}
