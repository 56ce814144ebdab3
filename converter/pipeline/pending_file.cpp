#include "pending_file.h"

#include <fcntl.h>
#include <sys/random.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstring>

#include "conversion_error.h"

namespace lumeconv {

namespace {

// The pending name and a named scratch file's, kept where a signal
// handler may read them.
char g_pending[4096] = "";
volatile std::sig_atomic_t g_has_pending = 0;
char g_scratch[4096] = "";
volatile std::sig_atomic_t g_has_scratch = 0;

std::string FolderOf(const std::string& path) {
  const size_t slash = path.rfind('/');
  return slash == std::string::npos ? "." : path.substr(0, slash + 1);
}

// Creates a file under `prefix` and six random letters, with mode 0666 for
// the kernel to apply the umask: nothing reads the umask by setting it,
// which the other threads share. Returns the descriptor and sets `path`.
int CreateFresh(const std::string& prefix, std::string* path,
                int flags = O_WRONLY) {
  static constexpr char kLetters[] =
      "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789";
  for (int attempt = 0; attempt < 100; ++attempt) {
    unsigned char random[6] = {};
    if (::getrandom(random, sizeof random, 0) != sizeof random) return -1;
    *path = prefix;
    for (const unsigned char r : random) *path += kLetters[r % 62];
    const int fd =
        ::open(path->c_str(), flags | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
    if (fd >= 0 || errno != EEXIST) return fd;
  }
  return -1;
}

[[noreturn]] void Fail(const std::string& what, int error) {
  throw ConversionError(kExitOutput, what + ": " + std::strerror(error));
}

}  // namespace

PendingFile::PendingFile(const std::string& final_path)
    : final_path_(final_path), folder_(FolderOf(final_path)) {
  const std::string& folder = folder_;
  // A short name, so that an output name of any allowed length still fits.
  const std::string prefix =
      (folder == "." ? std::string() : folder) + ".lumeconv-";
  if (prefix.size() + 6 >= sizeof g_pending) {
    throw ConversionError(kExitOutput, "output path is too long");
  }
  prefix_ = prefix;
  // Unnamed until complete where the file system allows it: a process
  // killed outright then leaves nothing behind.
  int fd = ::open(folder.c_str(), O_TMPFILE | O_WRONLY | O_CLOEXEC, 0666);
  if (fd < 0) {
    fd = CreateFresh(prefix, &temp_path_);
    if (fd < 0) Fail("cannot write in folder " + folder, errno);
    std::memcpy(g_pending, temp_path_.c_str(), temp_path_.size() + 1);
    g_has_pending = 1;
  }
  // A replaced file passes its mode on, so that a private one stays so.
  struct stat existing {};
  if (::stat(final_path.c_str(), &existing) == 0) {
    ::fchmod(fd, existing.st_mode & 07777);
  }
  stream_ = ::fdopen(fd, "wb");
  if (!stream_) {
    const int error = errno;
    ::close(fd);
    Drop();
    Fail("cannot write " + temp_path_, error);
  }
  // A few large writes instead of one per 4 KiB the encoder hands over.
  // The buffer must be given: glibc ignores the size without one.
  buffer_ = std::make_unique_for_overwrite<char[]>(kBufferBytes);
  std::setvbuf(stream_, buffer_.get(), _IOFBF, kBufferBytes);
}

PendingFile::~PendingFile() {
  if (!committed_) Drop();
}

void PendingFile::Commit() {
  FILE* stream = stream_;
  stream_ = nullptr;
  bool flushed = std::fflush(stream) == 0 && !std::ferror(stream);
  int error = errno;
  if (flushed && temp_path_.empty() && !NameUnnamed(::fileno(stream))) {
    flushed = false;
    error = errno;
  }
  if (std::fclose(stream) != 0 || !flushed) {
    Drop();
    Fail("cannot write " + final_path_, flushed ? errno : error);
  }
  if (::rename(temp_path_.c_str(), final_path_.c_str()) != 0) {
    const int rename_error = errno;
    Drop();
    Fail("cannot replace " + final_path_, rename_error);
  }
  committed_ = true;
  g_has_pending = 0;
}

void PendingFile::Drop() {
  if (stream_) std::fclose(stream_);
  stream_ = nullptr;
  g_has_pending = 0;
  if (!temp_path_.empty()) ::unlink(temp_path_.c_str());
}

bool PendingFile::NameUnnamed(int fd) {
  const std::string handle = "/proc/self/fd/" + std::to_string(fd);
  static constexpr char kLetters[] =
      "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789";
  for (int attempt = 0; attempt < 100; ++attempt) {
    unsigned char random[6] = {};
    if (::getrandom(random, sizeof random, 0) != sizeof random) return false;
    std::string name = prefix_;
    for (const unsigned char r : random) name += kLetters[r % 62];
    std::memcpy(g_pending, name.c_str(), name.size() + 1);
    g_has_pending = 1;
    if (::linkat(AT_FDCWD, handle.c_str(), AT_FDCWD, name.c_str(),
                 AT_SYMLINK_FOLLOW) == 0) {
      temp_path_ = name;
      return true;
    }
    g_has_pending = 0;
    if (errno != EEXIST) return false;
  }
  return false;
}

ScratchFile::ScratchFile(const std::string& folder) {
  int fd = ::open(folder.c_str(), O_TMPFILE | O_RDWR | O_CLOEXEC, 0600);
  if (fd < 0) {
    const std::string prefix = folder + "/.lumeconv-scratch-";
    if (prefix.size() + 6 >= sizeof g_scratch) {
      throw ConversionError(kExitOutput, "output path is too long");
    }
    fd = CreateFresh(prefix, &path_, O_RDWR);
    if (fd >= 0) {
      std::memcpy(g_scratch, path_.c_str(), path_.size() + 1);
      g_has_scratch = 1;
    }
  }
  if (fd < 0) Fail("no scratch file in folder " + folder, errno);
  stream_ = ::fdopen(fd, "w+b");
  if (!stream_) {
    const int error = errno;
    ::close(fd);
    Remove();
    Fail("no scratch file in folder " + folder, error);
  }
}

ScratchFile::~ScratchFile() { Remove(); }

void ScratchFile::Remove() {
  if (reread_) std::fclose(reread_);
  if (stream_) std::fclose(stream_);
  reread_ = stream_ = nullptr;
  g_has_scratch = 0;
  if (!path_.empty()) ::unlink(path_.c_str());
  path_.clear();
}

FILE* ScratchFile::Reread() {
  if (std::fflush(stream_) != 0) {
    throw ConversionError(kExitOutput, "scratch file cannot be written");
  }
  const std::string handle =
      "/proc/self/fd/" + std::to_string(::fileno(stream_));
  reread_ = std::fopen(handle.c_str(), "rb");
  // Without /proc, the stream that wrote it reads it.
  if (!reread_) return stream_;
  return reread_;
}

void PendingFile::RemoveOnSignal() {
  if (g_has_pending) ::unlink(g_pending);
  if (g_has_scratch) ::unlink(g_scratch);
}

}  // namespace lumeconv
