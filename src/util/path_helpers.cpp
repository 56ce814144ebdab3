#include "util/path_helpers.h"

#include <fcntl.h>
#include <unistd.h>

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <cerrno>
#include <cstring>

#include "base/failure.h"
#include "base/pump_events.h"
#include "util/is_existing_file.h"
#include "util/native_name.h"
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
  return !NativeName(path).isEmpty() && QFileInfo(path).isDir();
}

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
    throw Failure(QDir::toNativeSeparators(path) + ": " +
                  QString::fromLocal8Bit(std::strerror(errno)));
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
  if (IsExistingFile(s) && IsFolder(FolderPart(d)))
    CopyFileQuiet(s, d, failure);
}
