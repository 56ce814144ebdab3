#include "util/path_strings.h"

#include <QDir>
#include <QFile>

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

QString JoinPath(const QString& folder, const QString& name) {
  const bool ends_in_separator = folder.endsWith(kSeparator);
  return folder + (ends_in_separator ? "" : QString(kSeparator)) + name;
}

QByteArray NativeName(const QString& path) {
  if (path.contains(QChar(0))) return QByteArray();
  return QFile::encodeName(path);
}
