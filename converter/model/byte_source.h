#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

namespace lumeconv {

// Where PNG bytes come from: a file, or memory for the fuzzer.
class ByteSource {
 public:
  virtual ~ByteSource() = default;
  // Reads up to n bytes; returns how many were read.
  virtual size_t Read(void* buffer, size_t n) = 0;
  // Skips n bytes; false when fewer than n remain.
  virtual bool Skip(uint64_t n) = 0;
  virtual void Rewind() = 0;
  virtual uint64_t Size() const = 0;
  // A reader of the same bytes with a position of its own, for another
  // thread; valid while this one lives.
  virtual std::unique_ptr<ByteSource> SecondCursor() const = 0;
};

class FileSource : public ByteSource {
 public:
  // Throws ConversionError when the path is not a readable regular file.
  explicit FileSource(const std::string& path);
  ~FileSource() override;
  FileSource(const FileSource&) = delete;
  FileSource& operator=(const FileSource&) = delete;

  size_t Read(void* buffer, size_t n) override;
  bool Skip(uint64_t n) override;
  void Rewind() override;
  uint64_t Size() const override { return size_; }
  std::unique_ptr<ByteSource> SecondCursor() const override;

  // Identity of the open file, to refuse writing the result over it.
  uint64_t Device() const { return device_; }
  uint64_t Inode() const { return inode_; }

 private:
  // Read through a buffer of its own: walking the chunks seeks from header
  // to header, and a FILE drops its buffer on every seek. Reads name their
  // offset, so cursors can share the file. 256 KiB at a time: with 64 KiB,
  // a 10 MB file converted 0.7 ms slower. A smaller file gets a buffer of
  // its own size, allocated on the first read and never cleared: each page
  // written costs a fault.
  static constexpr size_t kBufferBytes = 256 * 1024;
  FileSource(int fd, uint64_t size) : fd_(fd), owns_fd_(false), size_(size) {}
  size_t BufferBytes() const;
  bool Fill();

  int fd_ = -1;
  bool owns_fd_ = true;
  std::unique_ptr<uint8_t[]> buffer_;
  size_t buffered_ = 0;
  size_t taken_ = 0;
  uint64_t position_ = 0;
  uint64_t size_ = 0;
  uint64_t device_ = 0;
  uint64_t inode_ = 0;
};

class MemorySource : public ByteSource {
 public:
  MemorySource(const uint8_t* data, size_t size) : data_(data), size_(size) {}

  size_t Read(void* buffer, size_t n) override;
  bool Skip(uint64_t n) override;
  void Rewind() override { position_ = 0; }
  uint64_t Size() const override { return size_; }
  std::unique_ptr<ByteSource> SecondCursor() const override {
    return std::make_unique<MemorySource>(data_, size_);
  }

 private:
  const uint8_t* data_;
  size_t size_;
  size_t position_ = 0;
};

}  // namespace lumeconv
