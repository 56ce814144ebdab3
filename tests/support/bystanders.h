#pragma once

#include <sys/stat.h>

#include <QCryptographicHash>
#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QMap>
#include <QString>
#include <QStringList>
#include <functional>

// Files a run must leave alone, and proof that it did: decoys named like
// what the program makes (its working folders, its unfinished copies, the
// converter's) and names that differ from a result's only in case are
// planted in the folders a run touches; every file there is recorded
// (size, mode, times, content) before the run and compared after it.
class Bystanders {
 public:
  // What a run may change: `expected(path)` is true for its results.
  using Expected = std::function<bool(const QString& path)>;

  // Plants the decoys into each existing folder of `folders`, where
  // nothing has their names yet.
  explicit Bystanders(QStringList folders) : folders_(std::move(folders)) {
    for (const QString& folder : folders_) {
      if (!QDir(folder).exists()) continue;
      for (const auto& [name, text] : Decoys()) {
        const QString top = folder + "/" + name.section('/', 0, 0);
        if (QFileInfo::exists(top) && !planted_.contains(top)) continue;
        const QString path = folder + "/" + name;
        QDir().mkpath(QFileInfo(path).path());
        QFile file(path);
        if (file.open(QIODevice::WriteOnly) &&
            file.write(text) == text.size()) {
          planted_ << top;
        }
      }
    }
    planted_.removeDuplicates();
  }

  // Records every file now; a later Changes() compares with this.
  void Record() { before_ = Snapshot(); }

  // Each file made, changed or removed since Record() that `expected` does
  // not allow, one per line; empty when there is none. Decoys are never
  // expected to change.
  QString Changes(const Expected& expected) const {
    const QMap<QString, Entry> after = Snapshot();
    QStringList changes;
    const auto allowed = [&](const QString& path) {
      return !IsDecoy(path) && expected && expected(path);
    };
    for (auto it = before_.begin(); it != before_.end(); ++it) {
      const auto now = after.find(it.key());
      if (now == after.end()) {
        if (!allowed(it.key())) changes << "removed: " + it.key();
      } else if (!(*now == *it) && !allowed(it.key())) {
        changes << "changed: " + it.key();
      }
    }
    for (auto it = after.begin(); it != after.end(); ++it) {
      if (!before_.contains(it.key()) && !allowed(it.key())) {
        changes << "made: " + it.key();
      }
    }
    return changes.join('\n');
  }

  bool IsDecoy(const QString& path) const {
    for (const QString& top : planted_) {
      if (path == top || path.startsWith(top + "/")) return true;
    }
    return false;
  }

  // Removes the decoys again.
  void RemoveDecoys() const {
    for (const QString& top : planted_) {
      if (QFileInfo(top).isDir()) {
        QDir(top).removeRecursively();
      } else {
        QFile::remove(top);
      }
    }
  }

 private:
  struct Entry {
    qint64 size = 0;
    mode_t mode = 0;
    qint64 modified = 0;
    QByteArray hash;
    bool operator==(const Entry&) const = default;
  };

  static QList<std::pair<QString, QByteArray>> Decoys() {
    return {{"brisklume-0.1.0/README.md", "# a release tarball"},
            {"brisklume-0.1.0/src/main.cpp", "int main() {}"},
            {"brisklume-photos/holiday.png", "a folder of the user's"},
            {"brisklume-AbCdEfGh1234/temp.png", "named like a working folder"},
            {".brisklume-notes.txt", "the user's notes"},
            {".brisklume-Ab12cd", "not a JPEG"},
            {".lumeconv-Ab12cd", "named like lumeconv's output"},
            {"Photo.JPG", "differs from photo.jpg only in case"},
            {"ONE.Jpg", "differs from one.jpg only in case"}};
  }

  QMap<QString, Entry> Snapshot() const {
    QMap<QString, Entry> files;
    for (const QString& folder : folders_) {
      QDirIterator it(
          folder,
          QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot,
          QDirIterator::Subdirectories);
      while (it.hasNext()) {
        const QString path = it.next();
        struct stat info {};
        if (::lstat(QFile::encodeName(path).constData(), &info) != 0 ||
            S_ISDIR(info.st_mode)) {
          continue;
        }
        Entry entry{info.st_size,
                    info.st_mode,
                    info.st_mtim.tv_sec * 1000000000LL + info.st_mtim.tv_nsec,
                    {}};
        QFile file(path);
        if (S_ISREG(info.st_mode) && file.open(QIODevice::ReadOnly)) {
          QCryptographicHash hash(QCryptographicHash::Sha256);
          hash.addData(&file);
          entry.hash = hash.result();
        }
        files.insert(path, entry);
      }
    }
    return files;
  }

  QStringList folders_;
  QStringList planted_;  // each decoy file, or its top folder
  QMap<QString, Entry> before_;
};
