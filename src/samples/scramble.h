#pragma once

#include <QByteArray>
#include <QString>

// The key the sample record is scrambled with: eight lower-case letters.
inline constexpr char kSampleKey[] = "quelmora";

// Adds the key's codes to the bytes, cycling through the key and wrapping
// by 255, so that every result lies in 1 to 255. Window events run once per
// byte.
QByteArray ScrambleBytes(const QByteArray& bytes, const QByteArray& key);
// The reverse: subtracts and wraps by 255.
QByteArray UnscrambleBytes(const QByteArray& bytes, const QByteArray& key);

// The text's UTF-8 bytes scrambled, each result byte held as the character
// with that code, which the settings file stores and gives back.
QString ScrambleText(const QString& text, const QString& key);
// The reverse of ScrambleText.
QString UnscrambleText(const QString& text, const QString& key);
