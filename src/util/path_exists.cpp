#include "util/path_exists.h"

#include <QFileInfo>

#include "util/native_name.h"

bool PathExists(const QString& path) {
  if (NativeName(path).isEmpty()) return false;
  const QFileInfo info(path);
  return info.exists() && info.lastModified().isValid();
}
