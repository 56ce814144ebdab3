#pragma once

#include <QCursor>
#include <optional>

class QWidget;

// The one pointer shown over the whole main window.
class WindowPointer {
 public:
  enum class State { kDefault, kHand, kBusy };

  explicit WindowPointer(QWidget* window) : window_(window) {}

  State Get() const { return state_; }
  bool IsBusy() const { return state_ == State::kBusy; }
  void Set(State state);

  // The hover rule: a movement over a surface asks for a state, which is
  // taken unless the window is busy.
  void Hover(State requested);

  // The image the hand state shows; until one is set it shows the arrow.
  void SetHandCursor(const QCursor& cursor);

 private:
  void Apply();

  QWidget* window_;
  State state_ = State::kDefault;
  std::optional<QCursor> hand_;
};

// Loads a Windows cursor (.cur) file with its hot spot; throws Failure when
// the file cannot be read as a cursor.
QCursor LoadCursorFile(const QString& path);
