#include "base/user_folders.h"

#include <pwd.h>
#include <unistd.h>

#include <QDir>
#include <QFile>
#include <vector>

namespace {

QString AbsoluteFromEnvironment(const char* name) {
  const QString value = QDir::cleanPath(qEnvironmentVariable(name));
  return QDir::isAbsolutePath(value) ? value : QString();
}

QString FromPasswordDatabase() {
  std::vector<char> buffer(16384);
  passwd entry{};
  passwd* found = nullptr;
  if (::getpwuid_r(::geteuid(), &entry, buffer.data(), buffer.size(), &found) !=
          0 ||
      !found || !found->pw_dir || !*found->pw_dir) {
    return {};
  }
  return QDir::cleanPath(QFile::decodeName(found->pw_dir));
}

// The root folder as home gives "//.config" when joined; a clean join never
// doubles the separator.
QString Below(const QString& folder, const char* name) {
  return QDir::cleanPath(folder + "/" + name);
}

}  // namespace

QString HomeFolder() {
  if (const QString home = AbsoluteFromEnvironment("HOME"); !home.isEmpty()) {
    return home;
  }
  const QString home = FromPasswordDatabase();
  return home.isEmpty() ? QDir::rootPath() : home;
}

QString ConfigFolder() {
  const QString set = AbsoluteFromEnvironment("XDG_CONFIG_HOME");
  return set.isEmpty() ? Below(HomeFolder(), ".config") : set;
}

QString CacheFolder() {
  const QString set = AbsoluteFromEnvironment("XDG_CACHE_HOME");
  return set.isEmpty() ? Below(HomeFolder(), ".cache") : set;
}
