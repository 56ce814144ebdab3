#pragma once

#include <QProcess>
#include <QString>
#include <QStringList>
#include <functional>

// What one run of the built converter did.
struct LumeconvRun {
  int code = -1;  // -1 when a signal ended it
  QString out;
  QString error;
};

// Runs build/lumeconv with the arguments, in `folder` when given;
// `child_setup` runs in the child before the converter starts.
inline LumeconvRun RunLumeconv(const QStringList& arguments,
                               const QString& folder = {},
                               const std::function<void()>& child_setup = {}) {
  QProcess process;
  if (!folder.isEmpty()) process.setWorkingDirectory(folder);
  if (child_setup) process.setChildProcessModifier(child_setup);
  process.start(LUMECONV_BINARY, arguments);
  process.waitForFinished(30000);
  return {
      process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1,
      QString::fromLocal8Bit(process.readAllStandardOutput()),
      QString::fromLocal8Bit(process.readAllStandardError())};
}
