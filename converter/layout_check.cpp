#include "layout_check.h"

#include <future>
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
                std::unique_ptr<ByteSource> cursor,
                std::shared_future<void> layout)
      : cursor_(std::move(cursor)),
        layout_(std::move(layout)),
        decoder_(std::move(decoder)) {
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
  const uint8_t* FinishRow(const uint8_t* raw,
                           std::vector<uint8_t>& scratch) override {
    return Guarded([&] { return decoder_->FinishRow(raw, scratch); });
  }
  void Finish() override {
    Guarded([&] { decoder_->Finish(); });
    layout_.get();
  }

 private:
  template <typename Step>
  auto Guarded(Step step) -> decltype(step()) {
    try {
      return step();
    } catch (...) {
      layout_.get();
      throw;
    }
  }

  // The walk reads through cursor_ until layout_ is ready.
  std::unique_ptr<ByteSource> cursor_;
  std::shared_future<void> layout_;
  std::unique_ptr<ImageReader> decoder_;
};

}  // namespace

std::unique_ptr<ImageReader> OpenCheckingLayout(ByteSource& source,
                                                ImageOpener open) {
  std::unique_ptr<ByteSource> cursor = source.SecondCursor();
  std::shared_future<void> layout =
      std::async(std::launch::async, [walker = cursor.get()] {
        ScanChunks(*walker);
      }).share();
  std::unique_ptr<ImageReader> decoder;
  try {
    decoder = open(source);
  } catch (...) {
    layout.get();
    throw;
  }
  return std::make_unique<LayoutChecked>(std::move(decoder), std::move(cursor),
                                         std::move(layout));
}

}  // namespace lumeconv
