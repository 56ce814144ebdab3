#include "util/path_exists.h"

#include <QFileInfo>

bool PathExists(const QString& path) {
  if (path.isEmpty()) return false;
  const QFileInfo info(path);
  return info.exists() && info.lastModified().isValid();
}
