#include "image_data.h"

#include <algorithm>

#include "byte_source.h"
#include "idat_ahead.h"
#include "image_reader.h"
#include "png_chunks.h"

namespace lumeconv {

namespace {

constexpr uint32_t kIdat = ChunkType("IDAT");

// The reference decoder hands zlib at most this much input at a time, which
// decides whether a bad checksum right after the last row counts as damage.
constexpr size_t kPiece = 8192;
constexpr size_t kReadSize = 32 * kPiece;

}  // namespace

ImageData::ImageData(ByteSource& source, ChunkReader& chunks, uint64_t size)
    : source_(source),
      chunks_(&chunks),
      inflater_(std::make_unique<Inflater>(
          false, SplitsInflate(size)
                     ? std::make_unique<IdatAhead>(source.SecondCursor())
                     : nullptr)) {}

ImageData::~ImageData() = default;

bool ImageData::NextInput() {
  if (input_at_ < input_end_) {
    piece_end_ = std::min(input_at_ + kPiece, input_end_);
    return true;
  }
  if (!zlib_) return Gather();
  // Empty IDAT chunks are passed over; any other chunk ends the data.
  while (chunks_->Remaining() == 0) {
    if (!chunks_->End()) ThrowDamaged("IDAT: CRC error");
    if (chunks_->Next().type != kIdat) return false;
  }
  const size_t n = std::min<size_t>(chunks_->Remaining(), kReadSize);
  if (input_.size() < n) input_.resize(n);
  chunks_->Read(input_.data(), n);
  input_at_ = 0;
  input_end_ = n;
  piece_end_ = std::min(kPiece, n);
  return true;
}

// Reads chunk after chunk as above, but on past each chunk's end while
// there is room: a strict engine's call costs a copy of its window, and
// writers cut the data into chunks as small as 8 KiB. What stops the run
// short is met only once the input before it is used up, where reading a
// chunk at a time meets it.
bool ImageData::Gather() {
  switch (stop_) {
    case Stop::kNone:
      break;
    case Stop::kCrcError:
      ThrowDamaged("IDAT: CRC error");
    case Stop::kDataEnded:
      return false;
    case Stop::kFailed:
      std::rethrow_exception(failure_);
  }
  // No more than the file holds: a small image needs no large buffer.
  const size_t room =
      static_cast<size_t>(std::clamp<uint64_t>(source_.Size(), 1, kReadSize));
  if (input_.size() < room) input_.resize(room);
  gathered_.clear();
  size_t n = 0;
  try {
    while (n < room) {
      while (chunks_->Remaining() == 0) {
        if (!chunks_->End()) {
          stop_ = Stop::kCrcError;
        } else if (chunks_->Next().type != kIdat) {
          stop_ = Stop::kDataEnded;
        }
        if (stop_ != Stop::kNone) break;
      }
      if (stop_ != Stop::kNone) break;
      const size_t take = std::min<size_t>(chunks_->Remaining(), room - n);
      chunks_->Read(input_.data() + n, take);
      n += take;
      gathered_.push_back({n, chunks_->Here()});
    }
  } catch (...) {
    stop_ = Stop::kFailed;
    failure_ = std::current_exception();
  }
  if (n == 0) return Gather();
  input_at_ = 0;
  input_end_ = n;
  piece_end_ = n;
  return true;
}

// Takes the chunks back to where the stream's last byte was read, for the
// CRC and the chunks after the image data to be read from there.
void ImageData::BackToStreamEnd() {
  const auto last = std::find_if(
      gathered_.begin(), gathered_.end(),
      [&](const Gathered& chunk) { return chunk.end >= input_at_; });
  if (last == gathered_.end()) return;
  chunks_->GoBack(last->place);
  stop_ = Stop::kNone;
}

Inflater::Step ImageData::Pump(uint8_t* out, size_t n, bool* starved) {
  *starved = false;
  if (zlib_) {
    // As the reference does: input is fetched before inflating, and an
    // inflate call that does nothing ends the reading.
    if (input_at_ == piece_end_ && !NextInput()) {
      *starved = true;
      return {Inflater::Status::kOk, 0, 0};
    }
    Inflater::Step step = inflater_->Inflate(input_.data() + input_at_,
                                             piece_end_ - input_at_, out, n);
    input_at_ += step.consumed;
    if (step.status == Inflater::Status::kOk && step.consumed == 0 &&
        step.produced == 0) {
      step.status = Inflater::Status::kBadData;
    }
    return step;
  }
  // A strict engine may hold decoded bytes back, so it is asked first and
  // only fed when it gives nothing from what it has. Its verdicts do not
  // hang on the pieces, so it gets all the input read so far.
  Inflater::Step step = inflater_->Inflate(input_.data() + input_at_,
                                           input_end_ - input_at_, out, n);
  input_at_ += step.consumed;
  if (step.status == Inflater::Status::kOk && step.consumed == 0 &&
      step.produced == 0) {
    if (input_at_ < input_end_) {
      step.status = Inflater::Status::kBadData;
    } else {
      *starved = !NextInput();
    }
  }
  return step;
}

bool ImageData::Fill(uint8_t* out, size_t n) {
  size_t got = 0;
  while (got < n) {
    if (stream_ended_) ThrowDamaged("Not enough image data");
    bool starved = false;
    const Inflater::Step step = Pump(out + got, n - got, &starved);
    got += step.produced;
    if (starved) {
      // A stream cut short inside a unit the strict engines wait for whole
      // may hold damage zlib sees first.
      if (!zlib_) return false;
      ThrowDamaged("Not enough image data");
    }
    switch (step.status) {
      case Inflater::Status::kOk:
        break;
      case Inflater::Status::kEnded:
        stream_ended_ = true;
        break;
      case Inflater::Status::kBadData:
        if (!zlib_) return false;
        ThrowDamaged("IDAT: invalid data");
      case Inflater::Status::kBadCheck:
        if (!zlib_) return false;
        ThrowDamaged("IDAT: incorrect data check");
    }
  }
  return true;
}

void ImageData::SwitchToZlib() {
  source_.Rewind();
  replay_chunks_ = std::make_unique<ChunkReader>(source_);
  while (replay_chunks_->Next().type != kIdat) replay_chunks_->End();
  chunks_ = replay_chunks_.get();
  gathered_.clear();
  stop_ = Stop::kNone;
  inflater_ = std::make_unique<Inflater>(/*zlib_only=*/true);
  zlib_ = true;
  stream_ended_ = false;
  input_at_ = input_end_ = piece_end_ = 0;
  std::vector<uint8_t> scratch;
  for (const auto& [size, count] : reads_) {
    scratch.resize(size);
    for (uint64_t i = 0; i < count; ++i) Fill(scratch.data(), size);
  }
}

void ImageData::ReadRows(uint8_t* out, size_t row_bytes, size_t count) {
  for (size_t done = 0; done < count;) {
    // zlib's verdict may hang on the size of each call, so it gets rows one
    // by one, as from the reference; the strict engines fill all that are
    // left at once.
    const size_t rows = inflater_->HoldsToWindow() ? count - done : 1;
    if (!Fill(out + done * row_bytes, rows * row_bytes)) {
      SwitchToZlib();
      continue;
    }
    if (!reads_.empty() && reads_.back().first == row_bytes) {
      reads_.back().second += rows;
    } else {
      reads_.emplace_back(row_bytes, rows);
    }
    done += rows;
  }
}

void ImageData::Finish() {
  // A strict engine reads the rest of the stream to its end; anything else it
  // meets there is left to zlib to judge.
  uint8_t sink[kPiece];
  while (!stream_ended_ && !zlib_) {
    bool starved = false;
    const Inflater::Status status = Pump(sink, sizeof sink, &starved).status;
    if (status == Inflater::Status::kEnded) stream_ended_ = true;
    if (status != Inflater::Status::kOk || starved) {
      if (!stream_ended_) SwitchToZlib();
      break;
    }
  }
  if (!zlib_) BackToStreamEnd();
  if (!stream_ended_ && zlib_) CheckRestWithZlib();
  if (!chunks_->End()) ThrowDamaged("IDAT: CRC error");
}

// The reference reads on past the image only while that yields bytes:
// damage or a stream that stops short is forgiven there, but running out of
// image data while bytes still come is not.
void ImageData::CheckRestWithZlib() {
  uint8_t sink[1024];
  uint64_t extra = 0;
  do {
    bool starved = false;
    const Inflater::Step step = Pump(sink, sizeof sink, &starved);
    if (starved) ThrowDamaged("Not enough image data");
    extra += step.produced;
    if (step.status != Inflater::Status::kOk) return;
  } while (extra > 0);
}

}  // namespace lumeconv
