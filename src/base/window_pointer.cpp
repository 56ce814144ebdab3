#include "base/window_pointer.h"

#include <QFile>
#include <QImage>
#include <QPixmap>
#include <QWidget>
#include <QtEndian>

#include "base/failure.h"
#include "base/failure_numbers.h"

void WindowPointer::Set(State state) {
  state_ = state;
  Apply();
}

void WindowPointer::Hover(State requested) {
  if (!IsBusy() && state_ != requested) Set(requested);
}

void WindowPointer::SetHandCursor(const QCursor& cursor) {
  hand_ = cursor;
  Apply();
}

void WindowPointer::Apply() {
  switch (state_) {
    case State::kDefault:
      window_->unsetCursor();
      break;
    case State::kHand:
      if (hand_) {
        window_->setCursor(*hand_);
      } else {
        window_->unsetCursor();
      }
      break;
    case State::kBusy:
      window_->setCursor(Qt::WaitCursor);
      break;
  }
}

QCursor LoadCursorFile(const QString& path) {
  QFile file(path);
  if (!file.open(QIODevice::ReadOnly)) {
    throw Failure("File not found: " + path, kFileNotFound);
  }
  const QByteArray bytes = file.readAll();
  QImage image;
  if (!image.loadFromData(bytes, "CUR") && !image.loadFromData(bytes)) {
    throw Failure("Invalid picture: " + path, kInvalidPicture);
  }
  // The first directory entry of a cursor file holds its hot spot.
  int hot_x = -1;
  int hot_y = -1;
  const auto* data = reinterpret_cast<const uchar*>(bytes.constData());
  if (bytes.size() >= 22 && qFromLittleEndian<quint16>(data + 2) == 2) {
    hot_x = qFromLittleEndian<quint16>(data + 10);
    hot_y = qFromLittleEndian<quint16>(data + 12);
  }
  return QCursor(QPixmap::fromImage(image), hot_x, hot_y);
}
