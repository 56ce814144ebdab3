#pragma once

#include <QByteArray>
#include <QFile>
#include <QString>

// Writes the bytes as the whole file; false when it cannot.
inline bool Save(const QString& path, const QByteArray& bytes) {
  QFile file(path);
  return file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size();
}

// The whole file; a null array when it cannot be read.
inline QByteArray Load(const QString& path) {
  QFile file(path);
  if (!file.open(QIODevice::ReadOnly)) return QByteArray();
  QByteArray bytes = file.readAll();
  if (bytes.isNull()) bytes = QByteArray("");
  return bytes;
}
