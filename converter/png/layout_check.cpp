#include "layout_check.h"

#include <exception>
#include <future>
#include <mutex>
#include <utility>

#include "byte_source.h"
#include "chunk_scan.h"

namespace lumeconv {

namespace {

// Hands every call on to the decoder; a failure of the decoder waits for the
// walk, and the walk's own failure goes first.
class LayoutChecked : public ImageReader {
 public:
  LayoutChecked(std::unique_ptr<ImageReader> decoder,
                std::unique_ptr<ByteSource> cursor)
      : cursor_(std::move(cursor)), decoder_(std::move(decoder)) {
    // A large file is walked at once, beside the decoding; a small one only
    // when decoding fails or finishes, as a thread would cost more.
    if (cursor_->Size() >= kWalkApart) {
      walk_ = std::async(std::launch::async, [this] { ScanChunks(*cursor_); });
    }
    width_ = decoder_->Width();
    height_ = decoder_->Height();
    components_ = decoder_->Components();
    metadata_ = decoder_->Metadata();
  }

  const uint8_t* NextRawRow() override {
    return Guarded([&] { return decoder_->NextRawRow(); });
  }
  size_t RawRowBytes() const override { return decoder_->RawRowBytes(); }
  void ReadRawRows(uint8_t* out, size_t count) override {
    Guarded([&] { decoder_->ReadRawRows(out, count); });
  }
  void PrepareRows(uint8_t* raw, size_t count) override {
    Guarded([&] { decoder_->PrepareRows(raw, count); });
  }
  bool PrepareWhileReading() const override {
    return decoder_->PrepareWhileReading();
  }
  const uint8_t* FinishRow(const uint8_t* raw,
                           std::vector<uint8_t>& scratch) override {
    return Guarded([&] { return decoder_->FinishRow(raw, scratch); });
  }
  void Finish() override {
    Guarded([&] { decoder_->Finish(); });
    CheckLayout();
  }

 private:
  static constexpr uint64_t kWalkApart = uint64_t{1} << 20;

  // Walks once; a second caller waits for the first one's verdict.
  void CheckLayout() {
    std::call_once(walked_, [&] {
      try {
        if (walk_.valid()) {
          walk_.get();
        } else {
          ScanChunks(*cursor_);
        }
      } catch (...) {
        fault_ = std::current_exception();
      }
    });
    if (fault_) std::rethrow_exception(fault_);
  }

  template <typename Step>
  auto Guarded(Step step) -> decltype(step()) {
    try {
      return step();
    } catch (...) {
      CheckLayout();
      throw;
    }
  }

  std::unique_ptr<ByteSource> cursor_;
  std::unique_ptr<ImageReader> decoder_;
  std::once_flag walked_;
  std::exception_ptr fault_;
  // Last, so that it is waited for before what the walk reads goes away.
  std::future<void> walk_;
};

}  // namespace

std::unique_ptr<ImageReader> OpenCheckingLayout(ByteSource& source,
                                                ImageOpener open) {
  std::unique_ptr<ImageReader> decoder;
  try {
    decoder = open(source);
  } catch (...) {
    ScanChunks(source);
    throw;
  }
  return std::make_unique<LayoutChecked>(std::move(decoder),
                                         source.SecondCursor());
}

}  // namespace lumeconv
