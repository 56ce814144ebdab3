#include "byte_source.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "conversion_error.h"

namespace lumeconv {

FileSource::FileSource(const std::string& path) {
  // Opened without waiting: a FIFO or a device opened the ordinary way can
  // block forever. Anything but a regular file is refused below.
  const int fd =
      ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
  if (fd < 0) {
    throw ConversionError(kExitUnreadable,
                          errno == ENOENT ? "no such file"
                                          : std::string("cannot be opened: ") +
                                                std::strerror(errno));
  }
  struct stat info {};
  if (::fstat(fd, &info) != 0 || !S_ISREG(info.st_mode)) {
    ::close(fd);
    throw ConversionError(kExitUnreadable, S_ISDIR(info.st_mode)
                                               ? "is a folder, not a file"
                                               : "is not a regular file");
  }
  ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) & ~O_NONBLOCK);
  file_ = ::fdopen(fd, "rb");
  if (!file_) {
    ::close(fd);
    throw ConversionError(kExitUnreadable, "cannot be opened");
  }
  size_ = static_cast<uint64_t>(info.st_size);
  device_ = info.st_dev;
  inode_ = info.st_ino;
}

FileSource::~FileSource() {
  if (file_) std::fclose(file_);
}

size_t FileSource::Read(void* buffer, size_t n) {
  return std::fread(buffer, 1, n, file_);
}

bool FileSource::Skip(uint64_t n) {
  const off_t here = ::ftello(file_);
  if (here < 0 || n > size_ - static_cast<uint64_t>(here)) return false;
  return ::fseeko(file_, static_cast<off_t>(n), SEEK_CUR) == 0;
}

void FileSource::Rewind() { std::rewind(file_); }

size_t MemorySource::Read(void* buffer, size_t n) {
  const size_t count = std::min(n, size_ - position_);
  std::memcpy(buffer, data_ + position_, count);
  position_ += count;
  return count;
}

bool MemorySource::Skip(uint64_t n) {
  if (n > size_ - position_) return false;
  position_ += static_cast<size_t>(n);
  return true;
}

}  // namespace lumeconv
