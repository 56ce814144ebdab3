#pragma once

#include <QProgressBar>

// A progress bar that shows its caption exactly as set. The plain bar reads
// "%p", "%v" and "%m" in its format as placeholders, which garbles file
// names such as "100%more.png".
class CaptionBar : public QProgressBar {
  Q_OBJECT

 public:
  using QProgressBar::QProgressBar;
  QString text() const override { return format(); }
};
