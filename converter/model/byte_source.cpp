#include "byte_source.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
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
  fd_ = fd;
  size_ = static_cast<uint64_t>(info.st_size);
  device_ = info.st_dev;
  inode_ = info.st_ino;
}

FileSource::~FileSource() {
  if (owns_fd_) ::close(fd_);
}

std::unique_ptr<ByteSource> FileSource::SecondCursor() const {
  return std::unique_ptr<ByteSource>(new FileSource(fd_, size_));
}

size_t FileSource::BufferBytes() const {
  constexpr uint64_t kPage = 4096;
  return static_cast<size_t>(std::clamp<uint64_t>(
      (size_ + kPage - 1) / kPage * kPage, kPage, kBufferBytes));
}

bool FileSource::Fill() {
  buffered_ = 0;
  taken_ = 0;
  if (!buffer_)
    buffer_ = std::make_unique_for_overwrite<uint8_t[]>(BufferBytes());
  for (;;) {
    const ssize_t got = ::pread(fd_, buffer_.get(), BufferBytes(),
                                static_cast<off_t>(position_));
    if (got < 0 && errno == EINTR) continue;
    if (got <= 0) return false;
    buffered_ = static_cast<size_t>(got);
    return true;
  }
}

size_t FileSource::Read(void* buffer, size_t n) {
  auto* out = static_cast<uint8_t*>(buffer);
  size_t done = 0;
  while (done < n) {
    if (taken_ == buffered_) {
      // Large reads skip the buffer.
      if (n - done >= BufferBytes()) {
        const ssize_t got =
            ::pread(fd_, out + done, n - done, static_cast<off_t>(position_));
        if (got < 0 && errno == EINTR) continue;
        if (got <= 0) break;
        done += static_cast<size_t>(got);
        position_ += static_cast<uint64_t>(got);
        continue;
      }
      if (!Fill()) break;
    }
    const size_t count = std::min(n - done, buffered_ - taken_);
    std::memcpy(out + done, buffer_.get() + taken_, count);
    taken_ += count;
    done += count;
    position_ += count;
  }
  return done;
}

bool FileSource::Skip(uint64_t n) {
  if (n > size_ - std::min(position_, size_)) return false;
  // Chunk after chunk is skipped; most land inside what was read already.
  if (n <= buffered_ - taken_) {
    taken_ += static_cast<size_t>(n);
  } else {
    buffered_ = taken_ = 0;
  }
  position_ += n;
  return true;
}

void FileSource::Rewind() {
  buffered_ = taken_ = 0;
  position_ = 0;
}

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
