#include "samples/scramble.h"

#include "base/pump_events.h"

namespace {

QByteArray Shift(const QByteArray& bytes, const QByteArray& key, int sign) {
  QByteArray out(bytes.size(), Qt::Uninitialized);
  qsizetype k = 0;
  for (qsizetype i = 0; i < bytes.size(); ++i) {
    PumpEvents();
    const int c = static_cast<unsigned char>(bytes[i]);
    const int f = key.isEmpty() ? 0 : static_cast<unsigned char>(key[k]);
    if (++k >= key.size()) k = 0;
    int v = c + sign * f;
    if (v > 255) v -= 255;
    if (v <= 0 && sign < 0) v += 255;
    out[i] = static_cast<char>(v);
  }
  return out;
}

}  // namespace

QByteArray ScrambleBytes(const QByteArray& bytes, const QByteArray& key) {
  return Shift(bytes, key, +1);
}

QByteArray UnscrambleBytes(const QByteArray& bytes, const QByteArray& key) {
  return Shift(bytes, key, -1);
}

QString ScrambleText(const QString& text, const QString& key) {
  return QString::fromLatin1(ScrambleBytes(text.toUtf8(), key.toUtf8()));
}

QString UnscrambleText(const QString& text, const QString& key) {
  return QString::fromUtf8(UnscrambleBytes(text.toLatin1(), key.toUtf8()));
}
