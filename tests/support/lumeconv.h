#pragma once

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>
#include <QTest>
#include <functional>

#include "support/bystanders.h"

// A copy of build/lumeconv that any user can run, made once per test
// program: the build tree may lie where others cannot enter (a checkout
// in /root), and tests run it as an ordinary user too.
class ReachableLumeconv {
 public:
  ReachableLumeconv() {
    QFile::setPermissions(
        folder_.path(), QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner |
                            QFile::ReadOther | QFile::ExeOther);
    QFile::copy(LUMECONV_BINARY, Path());
  }
  QString Path() const { return folder_.filePath("lumeconv"); }

 private:
  QTemporaryDir folder_;
};

// Made at start-up, before any test forks a child that becomes another
// user: that child could neither make the copy nor remove it.
inline const ReachableLumeconv kReachableLumeconv;

// The path to run lumeconv by, as any user.
inline QString LumeconvPath() { return kReachableLumeconv.Path(); }

// What one run of the built converter did.
struct LumeconvRun {
  int code = -1;  // -1 when a signal ended it
  QString out;
  QString error;
};

// Runs lumeconv with the arguments, in `folder` when given;
// `child_setup` runs in the child before the converter starts. The folders
// of its input are watched: a run that touches anything there but a JPEG
// result fails the test.
inline LumeconvRun RunLumeconv(const QStringList& arguments,
                               const QString& folder = {},
                               const std::function<void()>& child_setup = {}) {
  QStringList watched;
  const QDir base(folder.isEmpty() ? QDir::currentPath() : folder);
  for (const QString& argument : arguments) {
    const QFileInfo input(base, argument);
    if (!argument.isEmpty() && input.isFile()) {
      watched << input.absolutePath();
    }
  }
  watched.removeDuplicates();
  Bystanders bystanders(watched);
  bystanders.Record();
  QProcess process;
  if (!folder.isEmpty()) process.setWorkingDirectory(folder);
  if (child_setup) process.setChildProcessModifier(child_setup);
  process.start(LumeconvPath(), arguments);
  process.waitForFinished(30000);
  const QString changes = bystanders.Changes(
      [](const QString& path) { return path.endsWith(".jpg"); });
  bystanders.RemoveDecoys();
  if (!changes.isEmpty()) {
    QTest::qFail(qPrintable("lumeconv touched bystanders:\n" + changes),
                 __FILE__, __LINE__);
  }
  return {
      process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1,
      QString::fromLocal8Bit(process.readAllStandardOutput()),
      QString::fromLocal8Bit(process.readAllStandardError())};
}
