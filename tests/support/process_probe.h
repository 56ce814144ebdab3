#pragma once

#include <QDir>
#include <QFile>
#include <QString>

// True when a running process's command line mentions `text`.
inline bool ProcessMentions(const QString& text) {
  for (const QString& pid : QDir("/proc").entryList(QDir::Dirs)) {
    QFile cmdline("/proc/" + pid + "/cmdline");
    if (cmdline.open(QIODevice::ReadOnly) &&
        QString::fromLocal8Bit(cmdline.readAll().replace('\0', ' '))
            .contains(text)) {
      return true;
    }
  }
  return false;
}
