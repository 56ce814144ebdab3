#pragma once

#include <cstdio>
#include <memory>
#include <string>

namespace lumeconv {

// A file written beside its final path, unnamed where the file system
// allows it and otherwise under a temporary name, and renamed over the
// final path only when complete; dropped if never committed. At most one
// is pending at a time, so that a signal handler can remove it.
class PendingFile {
 public:
  // Throws ConversionError when the folder cannot take a new file.
  explicit PendingFile(const std::string& final_path);
  ~PendingFile();
  PendingFile(const PendingFile&) = delete;
  PendingFile& operator=(const PendingFile&) = delete;

  FILE* Stream() { return stream_; }
  // The folder the file is written in ("." for a bare name).
  const std::string& Folder() const { return folder_; }
  // Flushes, closes and renames; throws ConversionError on any failure.
  void Commit();

  // Removes the pending file and a named scratch file, if any; safe inside
  // a signal handler.
  static void RemoveOnSignal();

 private:
  void Drop();
  // Links the unnamed file in under a fresh temporary name.
  bool NameUnnamed(int fd);

  std::string final_path_;
  std::string folder_;
  std::string prefix_;
  std::string temp_path_;  // empty while the file is unnamed
  static constexpr size_t kBufferBytes = 64 * 1024;
  std::unique_ptr<char[]> buffer_;  // outlives stream_, which writes from it
  FILE* stream_ = nullptr;
  bool committed_ = false;
};

// A file to write and then read back in `folder`, gone once destroyed:
// unnamed where the file system allows it, else under a fresh name that is
// removed after the file is closed, never while it is open (fusefat leaves
// a file unlinked while open behind, as a stray file in the folder).
class ScratchFile {
 public:
  // Throws ConversionError when the folder cannot take one.
  explicit ScratchFile(const std::string& folder);
  ~ScratchFile();
  ScratchFile(const ScratchFile&) = delete;
  ScratchFile& operator=(const ScratchFile&) = delete;

  FILE* Stream() { return stream_; }
  // Flushes the file and opens it again for reading from its start,
  // through a descriptor of its own: fusefat returns stale bytes at the
  // end of a file read back through the descriptor that wrote it. Throws
  // ConversionError.
  FILE* Reread();

 private:
  void Remove();

  std::string path_;  // empty while the file is unnamed
  FILE* stream_ = nullptr;
  FILE* reread_ = nullptr;
};

}  // namespace lumeconv
