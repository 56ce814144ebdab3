#include "filelist/add_folder.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QRegularExpression>
#include <cerrno>
#include <cstring>
#include <memory>
#include <set>

#include "base/dialogs.h"
#include "base/failure.h"
#include "base/failure_numbers.h"
#include "base/pump_events.h"
#include "base/settings_store.h"
#include "base/trap.h"
#include "base/window_pointer.h"
#include "util/file_queries.h"
#include "util/path_strings.h"

namespace {

constexpr char kWalkId[] =
    "in Dunmoriel2021/08/31.AddFolder.GetSubDirectories2016 ";
// The platform's limit on a path.
constexpr int kPathLimit = 4096;
constexpr int kPumpMilliseconds = 40;
constexpr int kHiddenArchive = kAttributeHidden | kAttributeArchive;

// One folder's entries, in the order the file system lists them. Throws
// Failure with the number the walk's rule knows.
class Listing {
 public:
  explicit Listing(const QString& folder)
      : dir_(::opendir(NativeName(folder).constData())) {
    if (!dir_) {
      const int error = errno;
      throw Failure(QDir::toNativeSeparators(folder) + ": " +
                        QString::fromLocal8Bit(std::strerror(error)),
                    error == EACCES || error == EPERM     ? kPermissionDenied
                    : error == ENOENT || error == ENOTDIR ? kPathNotFound
                                                          : 0);
    }
  }
  ~Listing() { ::closedir(dir_); }
  Listing(const Listing&) = delete;
  Listing& operator=(const Listing&) = delete;

  // What the listing says an entry is: a file, a folder (never a link to
  // one), or something else that asks for a closer look (a link, a device).
  enum class Kind { kFile, kFolder, kOther };

  // The next entry's name and kind; false at the end. A stored name that is
  // not valid text is passed over: as text it would name another file.
  bool Next(QString* name, Kind* kind) {
    while (const dirent* entry = ::readdir(dir_)) {
      if (std::strcmp(entry->d_name, ".") == 0 ||
          std::strcmp(entry->d_name, "..") == 0) {
        continue;
      }
      *name = QFile::decodeName(entry->d_name);
      if (QFile::encodeName(*name) != entry->d_name) continue;
      *kind = KindOf(*entry);
      return true;
    }
    return false;
  }

  // The identity of an entry that is a folder itself, not a link to one.
  std::optional<FileId> FolderId(const QString& name) const {
    struct stat info {};
    if (::fstatat(::dirfd(dir_), QFile::encodeName(name).constData(), &info,
                  AT_SYMLINK_NOFOLLOW) != 0 ||
        !S_ISDIR(info.st_mode)) {
      return std::nullopt;
    }
    return FileId{info.st_dev, info.st_ino, {}};
  }

  // True when the folder's entries can be reached: listing a folder needs
  // only the right to read it, opening what is in it the right to search.
  bool EntriesReachable() const {
    return ::faccessat(::dirfd(dir_), ".", X_OK, 0) == 0;
  }

 private:
  Kind KindOf(const dirent& entry) const {
    unsigned char type = entry.d_type;
    if (type == DT_UNKNOWN) {
      // Some file systems leave the kind to a closer look.
      struct stat info {};
      if (::fstatat(::dirfd(dir_), entry.d_name, &info, AT_SYMLINK_NOFOLLOW) ==
          0) {
        type = S_ISREG(info.st_mode)   ? DT_REG
               : S_ISDIR(info.st_mode) ? DT_DIR
                                       : DT_UNKNOWN;
      }
    }
    return type == DT_REG   ? Kind::kFile
           : type == DT_DIR ? Kind::kFolder
                            : Kind::kOther;
  }

  DIR* dir_;
};

QRegularExpression PatternExpression(const QString& pattern) {
  // "*.*" matches every name, also one without a dot.
  if (pattern == "*.*") return QRegularExpression(".*");
  // The whole name must match: "*.png" is not "x.png.txt".
  return QRegularExpression(
      QRegularExpression::wildcardToRegularExpression(pattern),
      QRegularExpression::CaseInsensitiveOption);
}

// The folder without its trailing separator; the root keeps its own.
QString WithoutSeparator(const QString& entry) {
  return entry.size() > 1 && entry.endsWith(QDir::separator())
             ? entry.chopped(1)
             : entry;
}

// Lists the subfolders of one level's folders, in order, and returns them.
// A folder that may not be listed leaves the level silently; so does, below
// the first level, one that is no longer a folder. A subfolder reached a
// second time (a folder mounted inside itself) is not taken again, and a
// link to a folder is never taken: it may lead anywhere on the machine.
QStringList ListLevel(QStringList& level, bool first, std::set<FileId>& seen) {
  QStringList found;
  for (qsizetype e = 0; e < level.size(); ++e) {
    const QString d = level[e];
    if (!IsFolder(d)) {
      if (!first) level.removeAt(e--);
      continue;
    }
    if (d.size() >= kPathLimit) continue;
    PumpEvents();
    // No folder is a protected system folder here; the subfolder rule:
    // a folder that may not be listed leaves the collection silently.
    try {
      Listing listing(d);
      QString name;
      Listing::Kind kind;
      while (listing.Next(&name, &kind)) {
        if (kind == Listing::Kind::kFile) continue;
        PumpEvents();
        if (HasUnsafeChars(name)) continue;
        const std::optional<FileId> id = listing.FolderId(name);
        if (!id || !seen.insert(*id).second) continue;
        found << CollectionEntry(d + name);
      }
    } catch (const Failure& failure) {
      if (failure.Number() == kPermissionDenied ||
          failure.Number() == kPathNotFound) {
        level.removeAt(e--);
      }
    }
  }
  return found;
}

}  // namespace

QString CollectionEntry(const QString& folder) {
  return folder.endsWith(QDir::separator()) ? folder
                                            : folder + QDir::separator();
}

void GetSubDirectories2016(QStringList& collection, bool recurse,
                           Dialogs& dialogs) {
  Trap trap(dialogs, kWalkId);
  std::set<FileId> seen;
  for (const QString& entry : collection) {
    if (const auto id = FolderIdentityOf(entry)) seen.insert(*id);
  }
  // Level by level, each folder listed once: the collection ends up breadth
  // first, and the walk's cost grows with the number of folders alone.
  QStringList found = ListLevel(collection, true, seen);
  while (recurse && !found.isEmpty()) {
    QStringList deeper;
    trap.Line(150, [&] { deeper = ListLevel(found, false, seen); });
    collection += found;
    found = std::move(deeper);
  }
  for (const QString& n : found) {
    if (IsFolder(n)) collection << n;
  }
}

QStringList ListFilesInFolder(const QString& folder, const QString& pattern,
                              int most) {
  const QString base = CollectionEntry(folder);
  const QRegularExpression expression = PatternExpression(pattern);
  QStringList names;
  // A folder that cannot be listed holds no names, as a listing that finds
  // nothing; the walk has its own rule for such folders.
  std::unique_ptr<Listing> opened;
  try {
    opened = std::make_unique<Listing>(base);
  } catch (const Failure&) {
    return names;
  }
  Listing& listing = *opened;
  // In a folder that may be read but not searched, nothing can be opened.
  if (!listing.EntriesReachable()) return names;
  QString name;
  Listing::Kind kind;
  while (names.size() != most && listing.Next(&name, &kind)) {
    // The listing knows most entries' kind; only the others are opened.
    if (kind != Listing::Kind::kFolder && expression.match(name).hasMatch() &&
        (kind == Listing::Kind::kFile || IsExistingFile(base + name))) {
      names << name;
    }
  }
  return names;
}

bool HasUnsafeChars(const QString& name) {
  for (const QChar c : name) {
    const ushort code = c.unicode();
    if (code < 32 || (code >= 127 && code <= 159) || c == '?') return true;
  }
  return false;
}

void AppendFilesOfFolders(const QStringList& collection, const QString& pattern,
                          const AppendRow& append, const Statement& statement) {
  // Long lists of files keep the window painting too.
  QElapsedTimer since_pump;
  since_pump.start();
  for (const QString& entry : collection) {
    QString folder;
    statement(116, [&] { folder = WithoutSeparator(entry); });
    QStringList names;
    statement(118, [&] { names = ListFilesInFolder(folder, pattern); });
    for (const QString& name : names) {
      if (since_pump.elapsed() >= kPumpMilliseconds) {
        PumpEvents();
        since_pump.restart();
      }
      if (name.startsWith('~')) continue;
      statement(124, [&] {
        // The listing has just found the file; only a hidden one (its name
        // begins with ".") can be exactly hidden and archive.
        const QString path = JoinPath(folder, name);
        if (!name.startsWith('.') || FileAttributes(path) != kHiddenArchive) {
          append(CollapseBackslashes(path));
        }
      });
    }
  }
}

void AddAllFilesInFolder(Dialogs& dialogs, const AppendRow& append,
                         WindowPointer& pointer, const SettingsStore& store) {
  Trap trap(dialogs, ProcedureId("PushButton3_Click"));
  const QString pattern = "*.png";
  QString chosen;
  trap.Set(104, chosen, [&] {
    return dialogs.BrowseForFolder("Please select folder:",
                                   store.Read(settings_key::kLastFolder, ""));
  });
  if (trap.Test(106, [&] { return chosen.isEmpty(); })) return;
  trap.Line(334, [&] { store.Write(settings_key::kLastFolder, chosen); });
  trap.Line(108, [&] { pointer.Set(WindowPointer::State::kBusy); });
  QStringList collection;
  trap.Set(110, collection,
           [&] { return QStringList{CollectionEntry(chosen)}; });
  trap.Line(112, [&] { GetSubDirectories2016(collection, true, dialogs); });
  AppendFilesOfFolders(collection, pattern, append,
                       [&](int line, const std::function<void()>& step) {
                         trap.Line(line, step);
                       });
  trap.Line(130, [&] { pointer.Set(WindowPointer::State::kDefault); });
}
