#include "filelist/add_folder.h"

#include <dirent.h>
#include <sys/stat.h>

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
#include "filelist/file_list.h"
#include "util/file_attributes.h"
#include "util/file_identity.h"
#include "util/is_existing_file.h"
#include "util/path_helpers.h"

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
      : dir_(::opendir(QFile::encodeName(folder).constData())) {
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

  // What the listing says an entry is; kOther asks for a closer look.
  enum class Kind { kFile, kFolder, kOther };

  // The next entry's name and kind; false at the end.
  bool Next(QString* name, Kind* kind) {
    while (const dirent* entry = ::readdir(dir_)) {
      if (std::strcmp(entry->d_name, ".") == 0 ||
          std::strcmp(entry->d_name, "..") == 0) {
        continue;
      }
      *name = QFile::decodeName(entry->d_name);
      *kind = entry->d_type == DT_REG   ? Kind::kFile
              : entry->d_type == DT_DIR ? Kind::kFolder
                                        : Kind::kOther;
      return true;
    }
    return false;
  }

 private:
  DIR* dir_;
};

QRegularExpression PatternExpression(const QString& pattern) {
  // "*.*" matches every name, also one without a dot.
  if (pattern == "*.*") return QRegularExpression(".*");
  return QRegularExpression(
      QRegularExpression::wildcardToRegularExpression(
          pattern, QRegularExpression::UnanchoredWildcardConversion),
      QRegularExpression::CaseInsensitiveOption);
}

// The folder without its trailing separator; the root keeps its own.
QString WithoutSeparator(const QString& entry) {
  return entry.size() > 1 && entry.endsWith(QDir::separator())
             ? entry.chopped(1)
             : entry;
}

void Walk(QStringList& collection, bool recurse, Dialogs& dialogs,
          std::set<FileId>& seen) {
  Trap trap(dialogs, kWalkId);
  QStringList found;
  for (qsizetype e = 0; e < collection.size(); ++e) {
    const QString d = collection[e];
    if (!IsFolder(d) || d.size() >= kPathLimit) continue;
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
        const QString sub = d + name;
        const std::optional<FileId> id = FolderIdentityOf(sub);
        // A link back up the tree would lead round for ever.
        if (!id || !seen.insert(*id).second) continue;
        found << CollectionEntry(sub);
      }
    } catch (const Failure& failure) {
      if (failure.Number() == kPermissionDenied ||
          failure.Number() == kPathNotFound) {
        collection.removeAt(e--);
      }
    }
  }
  if (recurse && !found.isEmpty()) {
    trap.Line(150, [&] { Walk(found, true, dialogs, seen); });
  }
  for (const QString& n : found) {
    if (IsFolder(n)) {
      PumpEvents();
      collection << n;
    }
  }
}

}  // namespace

QString CollectionEntry(const QString& folder) {
  return folder.endsWith(QDir::separator()) ? folder
                                            : folder + QDir::separator();
}

void GetSubDirectories2016(QStringList& collection, bool recurse,
                           Dialogs& dialogs) {
  std::set<FileId> seen;
  for (const QString& entry : collection) {
    if (const auto id = IdentityOf(entry)) seen.insert(*id);
  }
  Walk(collection, recurse, dialogs, seen);
}

QStringList ListFilesInFolder(const QString& folder, const QString& pattern) {
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
  QString name;
  Listing::Kind kind;
  while (listing.Next(&name, &kind)) {
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
                          FileList& list, const Statement& statement) {
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
          list.Append(CollapseBackslashes(path));
        }
      });
    }
  }
}

void AddAllFilesInFolder(Dialogs& dialogs, FileList& list,
                         WindowPointer& pointer, const SettingsStore& store) {
  Trap trap(dialogs, ProcedureId("PushButton3_Click"));
  const QString pattern = "*.png";
  QString chosen;
  trap.Set(104, chosen, [&] {
    return dialogs.BrowseForFolder("Please select folder:",
                                   store.Read("LastFolder", ""));
  });
  if (trap.Test(106, [&] { return chosen.isEmpty(); })) return;
  trap.Line(334, [&] { store.Write("LastFolder", chosen); });
  trap.Line(108, [&] { pointer.Set(WindowPointer::State::kBusy); });
  QStringList collection;
  trap.Set(110, collection,
           [&] { return QStringList{CollectionEntry(chosen)}; });
  trap.Line(112, [&] { GetSubDirectories2016(collection, true, dialogs); });
  AppendFilesOfFolders(collection, pattern, list,
                       [&](int line, const std::function<void()>& step) {
                         trap.Line(line, step);
                       });
  trap.Line(130, [&] { pointer.Set(WindowPointer::State::kDefault); });
}
