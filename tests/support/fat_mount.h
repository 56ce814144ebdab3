#pragma once

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QString>
#include <QTemporaryDir>

// A small FAT file system, mounted through fusefat in a fresh folder for
// the life of this object: a place without file modes, as a USB stick is.
// Ready() is false where FUSE or the tools are missing.
class FatMount {
 public:
  FatMount() {
    const QString image = folder_.filePath("fat.img");
    QDir(folder_.path()).mkdir("mnt");
    // Outside root's search path on Debian.
    const QString mkfs =
        QFile::exists("/sbin/mkfs.fat") ? "/sbin/mkfs.fat" : "mkfs.fat";
    mounted_ = Run(mkfs, {"-C", image, "4096"}) &&
               Run("fusefat", {"-o", "rw+", image, Path()});
  }
  ~FatMount() {
    if (mounted_) Run("fusermount", {"-u", Path()});
  }
  FatMount(const FatMount&) = delete;
  FatMount& operator=(const FatMount&) = delete;

  bool Ready() const { return mounted_; }
  QString Path() const { return folder_.filePath("mnt"); }

 private:
  static bool Run(const QString& program, const QStringList& arguments) {
    QProcess process;
    process.start(program, arguments);
    return process.waitForFinished(20000) &&
           process.exitStatus() == QProcess::NormalExit &&
           process.exitCode() == 0;
  }

  QTemporaryDir folder_;
  bool mounted_ = false;
};
