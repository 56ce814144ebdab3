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

  // Removes the pending file, if any; safe inside a signal handler.
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

// An unnamed file for reading and writing in `folder`, gone when closed.
// Throws ConversionError when the folder cannot take one.
FILE* OpenScratchFile(const std::string& folder);

}  // namespace lumeconv
