#pragma once

#include <QDir>
#include <QFile>
#include <QList>
#include <QString>

// The processes whose parent is `parent`, from /proc.
inline QList<qint64> ChildrenOf(qint64 parent) {
  QList<qint64> children;
  for (const QString& pid : QDir("/proc").entryList(QDir::Dirs)) {
    QFile stat("/proc/" + pid + "/stat");
    if (!stat.open(QIODevice::ReadOnly)) continue;
    // "pid (name) state ppid ...": the name may hold blanks and parentheses.
    const QByteArray line = stat.readAll();
    const QList<QByteArray> fields =
        line.mid(line.lastIndexOf(')') + 2).split(' ');
    if (fields.size() > 1 && fields[1].toLongLong() == parent) {
      children << pid.toLongLong();
    }
  }
  return children;
}

// True while the process exists and has not ended. A zombie has ended once
// its other threads have: the leader of a killed process becomes a zombie
// while its other threads may still be closing its files (and releasing
// its locks).
inline bool ProcessAlive(qint64 pid) {
  const QString folder = "/proc/" + QString::number(pid);
  QFile stat(folder + "/stat");
  if (!stat.open(QIODevice::ReadOnly)) return false;
  const QByteArray line = stat.readAll();
  return line.mid(line.lastIndexOf(')') + 2, 1) != "Z" ||
         QDir(folder + "/task")
                 .entryList(QDir::Dirs | QDir::NoDotAndDotDot)
                 .size() > 1;
}
