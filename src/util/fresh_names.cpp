#include "util/fresh_names.h"

#include <dirent.h>
#include <unistd.h>

#include <QRandomGenerator>
#include <cstring>

namespace {

constexpr char kLetters[] =
    "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789";

bool IsLetter(char c) {
  return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') ||
         (c >= '0' && c <= '9');
}

}  // namespace

QByteArray FreshName(const QByteArray& prefix, int count) {
  QByteArray name = prefix;
  for (int i = 0; i < count; ++i) {
    name +=
        kLetters[QRandomGenerator::system()->bounded(int(sizeof kLetters - 1))];
  }
  return name;
}

bool IsFreshName(const char* name, const char* prefix, size_t count) {
  const size_t length = std::strlen(prefix);
  if (std::strncmp(name, prefix, length) != 0) return false;
  const char* rest = name + length;
  if (std::strlen(rest) != count) return false;
  for (; *rest; ++rest) {
    if (!IsLetter(*rest)) return false;
  }
  return true;
}

void ForEachEntry(int folder_fd,
                  const std::function<void(const char*)>& visit) {
  // Listed through a copy: closing the listing closes its descriptor.
  const int listing = ::dup(folder_fd);
  if (listing < 0) return;
  DIR* dir = ::fdopendir(listing);
  if (!dir) {
    ::close(listing);
    return;
  }
  while (const dirent* entry = ::readdir(dir)) {
    if (std::strcmp(entry->d_name, ".") != 0 &&
        std::strcmp(entry->d_name, "..") != 0) {
      visit(entry->d_name);
    }
  }
  ::closedir(dir);
}
