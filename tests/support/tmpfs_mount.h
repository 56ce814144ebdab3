#pragma once

#include <sys/mount.h>

#include <QByteArray>
#include <QDir>
#include <QFile>
#include <QTemporaryDir>

// A small tmpfs mounted in a fresh folder for the life of this object, with
// the given mount options ("size=100k,noexec"): a full or hardened
// temporary folder. Ready() is false where mounting needs rights this
// process lacks.
class TmpfsMount {
 public:
  explicit TmpfsMount(const QByteArray& options) {
    QDir(folder_.path()).mkdir("mnt");
    unsigned long flags = 0;
    QByteArrayList data = {"mode=0700"};
    for (const QByteArray& option : options.split(',')) {
      if (option == "noexec") {
        flags |= MS_NOEXEC;
      } else if (!option.isEmpty()) {
        data << option;
      }
    }
    mounted_ = ::mount("tmpfs", QFile::encodeName(Path()).constData(), "tmpfs",
                       flags, data.join(',').constData()) == 0;
  }
  ~TmpfsMount() {
    if (mounted_) ::umount2(QFile::encodeName(Path()).constData(), MNT_DETACH);
  }
  TmpfsMount(const TmpfsMount&) = delete;
  TmpfsMount& operator=(const TmpfsMount&) = delete;

  bool Ready() const { return mounted_; }
  QString Path() const { return folder_.filePath("mnt"); }

 private:
  QTemporaryDir folder_;
  bool mounted_ = false;
};
