#include "base/settings_store.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QFile>
#include <QFileInfo>
#include <QSaveFile>
#include <QSettings>
#include <cerrno>
#include <cmath>
#include <cstring>
#include <limits>

#include "base/failure.h"
#include "base/failure_numbers.h"
#include "base/user_folders.h"

namespace {

// No store this program writes comes near this; a larger file is not ours
// to parse (a 1 GB file held the window for minutes).
constexpr qint64 kLargestStore = 1 << 20;

constexpr char kByteOrderMark[] = "\xEF\xBB\xBF";

QString SystemReason(int error) {
  return QString::fromLocal8Bit(std::strerror(error));
}

QString StoreKey(const QString& key) {
  return QString(kSettingsSection) + "/" + key;
}

// The first line that no settings file holds, from 1; 0 when every line is
// a blank, a comment, a closed section header or a setting.
int DamagedLine(QByteArray text) {
  // Windows editors start UTF-8 text with a byte-order mark.
  if (text.startsWith(kByteOrderMark)) text.remove(0, 3);
  if (text.contains('\0') || QString::fromUtf8(text).toUtf8() != text) {
    return 1;
  }
  const QList<QByteArray> lines = text.split('\n');
  for (int i = 0; i < lines.size(); ++i) {
    const QByteArray line = lines[i].trimmed();
    const bool fine =
        line.isEmpty() || line.startsWith(';') || line.startsWith('#') ||
        (line.startsWith('[') ? line.endsWith(']') : line.contains('='));
    if (!fine) return i + 1;
  }
  return 0;
}

// Why the store cannot be used; empty when it can. A store that is not
// there yet is fine: it reads as empty and the first write makes it. Only
// a regular file is ever read or written: a link to a device would have
// the device written, or replaced by a file.
QString Problem(const QString& path) {
  struct stat info {};
  if (::stat(QFile::encodeName(path).constData(), &info) != 0) {
    return errno == ENOENT || errno == ENOTDIR ? QString()
                                               : SystemReason(errno);
  }
  if (!S_ISREG(info.st_mode)) return "it is not a regular file";
  if (info.st_size > kLargestStore) {
    return QString("it holds %1 bytes, far more than any settings file")
        .arg(info.st_size);
  }
  QFile file(path);
  if (!file.open(QIODevice::ReadOnly)) {
    return "it cannot be read (" + file.errorString() + ")";
  }
  if (const int line = DamagedLine(file.read(kLargestStore + 1))) {
    return QString("it is damaged (line %1)").arg(line);
  }
  return {};
}

// Why the user may not write the store; empty when they may. Asked first:
// a save replaces the file through its folder, read-only file or not.
QString WriteDenied(const QString& path) {
  const QByteArray file = QFile::encodeName(path);
  const QByteArray folder = QFile::encodeName(QFileInfo(path).path());
  if ((::access(file.constData(), W_OK) != 0 && errno != ENOENT) ||
      (::access(folder.constData(), W_OK) != 0 && errno != ENOENT)) {
    return SystemReason(errno);
  }
  return {};
}

// Why a save failed, which QSettings does not tell: a file of the store's
// size is written, unnamed, in its folder, and the system's reason kept.
QString WhyUnsaved(const QString& path) {
  const QString unknown = "it could not be saved";
  const int fd = ::open(QFile::encodeName(QFileInfo(path).path()).constData(),
                        O_TMPFILE | O_WRONLY | O_CLOEXEC, 0600);
  if (fd < 0) {
    return errno == EOPNOTSUPP || errno == EISDIR ? unknown
                                                  : SystemReason(errno);
  }
  const QByteArray bytes(int(QFileInfo(path).size() + 4096), ' ');
  const ssize_t written = ::write(fd, bytes.constData(), size_t(bytes.size()));
  const int error = written < 0 ? errno : ENOSPC;
  ::close(fd);
  return written == bytes.size() ? unknown : SystemReason(error);
}

// QSettings reads past a byte-order mark but will not save over one: the
// store is rewritten without it first. Empty when that went well.
QString DropByteOrderMark(const QString& path) {
  QFile file(path);
  if (!file.open(QIODevice::ReadOnly)) return {};
  const QByteArray text = file.read(kLargestStore + 1);
  file.close();
  if (!text.startsWith(kByteOrderMark)) return {};
  QSaveFile saved(path);
  if (!saved.open(QIODevice::WriteOnly) ||
      saved.write(text.mid(3)) != text.size() - 3 || !saved.commit()) {
    return saved.errorString();
  }
  return {};
}

[[noreturn]] void Refuse(const QString& path, const QString& action,
                         const QString& why) {
  throw Failure("The settings store " + path + " cannot be " + action + ": " +
                why + ".");
}

}  // namespace

QString SettingsStore::DefaultPath() {
  return ConfigFolder() + "/" + kSettingsApplication + ".ini";
}

QString SettingsStore::Read(const QString& key,
                            const QString& default_text) const {
  if (const QString why = Problem(path_); !why.isEmpty()) {
    Refuse(path_, "read", why);
  }
  QSettings settings(path_, QSettings::IniFormat);
  const QVariant value = settings.value(StoreKey(key));
  // An access error here is a write that failed earlier and that QSettings
  // retries on every open; the file itself was just read.
  if (settings.status() == QSettings::FormatError) {
    Refuse(path_, "read", "it is damaged");
  }
  return value.isValid() ? value.toString() : default_text;
}

void SettingsStore::Write(const QString& key, const QString& value) const {
  try {
    // A file that cannot be read is never written: it would be replaced by
    // this one setting.
    if (const QString why = Problem(path_); !why.isEmpty()) {
      Refuse(path_, "written", why + "; it was left as it is");
    }
    if (const QString why = WriteDenied(path_); !why.isEmpty()) {
      Refuse(path_, "written", why);
    }
    if (const QString why = DropByteOrderMark(path_); !why.isEmpty()) {
      Refuse(path_, "written", why);
    }
    QSettings settings(path_, QSettings::IniFormat);
    settings.setValue(StoreKey(key), value);
    settings.sync();
    if (settings.status() != QSettings::NoError) {
      Refuse(path_, "written", WhyUnsaved(path_));
    }
  } catch (const Failure&) {
    // Told once: every keystroke in the folder box writes, and a box each
    // time would swallow the typing.
    if (write_failure_told_) return;
    write_failure_told_ = true;
    throw;
  }
}

int TextToInteger(const QString& text) {
  bool ok = false;
  const double number = text.trimmed().toDouble(&ok);
  if (!ok || !std::isfinite(number))
    throw Failure("Type mismatch", kTypeMismatch);
  // Halves go to the even neighbour, as the default rounding mode does.
  const double rounded = std::nearbyint(number);
  if (rounded < std::numeric_limits<int>::min() ||
      rounded > std::numeric_limits<int>::max()) {
    throw Failure("Overflow", kOverflow);
  }
  return static_cast<int>(rounded);
}

bool TextToBoolean(const QString& text) {
  const QString trimmed = text.trimmed();
  if (trimmed.compare("True", Qt::CaseInsensitive) == 0) return true;
  if (trimmed.compare("False", Qt::CaseInsensitive) == 0) return false;
  bool ok = false;
  const double number = trimmed.toDouble(&ok);
  if (!ok || std::isnan(number)) throw Failure("Type mismatch", kTypeMismatch);
  return number != 0;
}

QString BooleanText(bool value) { return value ? "True" : "False"; }
