#include "util/file_attributes.h"

#include <sys/stat.h>
#include <unistd.h>

#include <QDir>

#include "util/native_name.h"
#include "util/path_helpers.h"

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

QString JoinPath(const QString& folder, const QString& name) {
  const bool ends_in_separator = folder.endsWith(QDir::separator());
  return folder + (ends_in_separator ? "" : QString(QDir::separator())) + name;
}
