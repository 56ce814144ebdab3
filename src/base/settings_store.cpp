#include "base/settings_store.h"

#include <QFile>
#include <QFileInfo>
#include <QSettings>
#include <QStandardPaths>
#include <cmath>
#include <limits>

#include "base/failure.h"
#include "base/failure_numbers.h"

namespace {

QString StoreKey(const QString& key) {
  return QString(kSettingsSection) + "/" + key;
}

void CheckStatus(const QSettings& settings, const QString& action,
                 const QString& path) {
  if (settings.status() != QSettings::NoError) {
    throw Failure("The settings store " + path + " cannot be " + action + ".");
  }
}

}  // namespace

QString SettingsStore::DefaultPath() {
  return QStandardPaths::writableLocation(
             QStandardPaths::GenericConfigLocation) +
         "/" + kSettingsApplication + ".ini";
}

QString SettingsStore::Read(const QString& key,
                            const QString& default_text) const {
  QFileInfo info(path_);
  if (info.exists()) {
    // QSettings treats an unreadable file as empty; that must not pass for
    // "nothing stored".
    QFile file(path_);
    if (info.isDir() || !file.open(QIODevice::ReadOnly)) {
      throw Failure("The settings store " + path_ + " cannot be read.");
    }
  }
  QSettings settings(path_, QSettings::IniFormat);
  // Only a damaged file fails a read. An access error here is a write that
  // failed earlier and that QSettings retries on every open; the file
  // itself was just opened for reading.
  if (settings.status() == QSettings::FormatError) {
    throw Failure("The settings store " + path_ + " cannot be read.");
  }
  const QVariant value = settings.value(StoreKey(key));
  return value.isValid() ? value.toString() : default_text;
}

void SettingsStore::Write(const QString& key, const QString& value) const {
  QSettings settings(path_, QSettings::IniFormat);
  settings.setValue(StoreKey(key), value);
  settings.sync();
  CheckStatus(settings, "written", path_);
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
