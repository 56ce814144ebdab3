#include "util/native_name.h"

#include <dirent.h>

#include <QDir>
#include <QFile>
#include <cstring>

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

}  // namespace

QByteArray NativeName(const QString& path) {
  if (path.contains(QChar(0))) return QByteArray();
  return QFile::encodeName(path);
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
