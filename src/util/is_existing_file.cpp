#include "util/is_existing_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "util/native_name.h"

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
