#pragma once

#include <QRect>
#include <QtMath>

// The window's layout is given in twips: 15 to a pixel at 96 dots per inch.
inline int TwipsToPixels(int twips) { return qRound(twips / 15.0); }

inline QRect TwipsRect(int left, int top, int width, int height) {
  return QRect(TwipsToPixels(left), TwipsToPixels(top), TwipsToPixels(width),
               TwipsToPixels(height));
}
