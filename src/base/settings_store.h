#pragma once

#include <QString>

// The user's choices, kept as text in a per-user INI file. Every call opens
// the file afresh and every write is on disk when it returns. Only a
// regular file of a sane size that reads as settings is used: a store that
// cannot be read throws Failure on every read; one that cannot be written
// throws on the first failed write only, later ones change nothing quietly.
class SettingsStore {
 public:
  // The file named after the application in the user's configuration folder.
  static QString DefaultPath();

  explicit SettingsStore(QString path) : path_(std::move(path)) {}

  QString Read(const QString& key, const QString& default_text) const;
  void Write(const QString& key, const QString& value) const;

  const QString& Path() const { return path_; }

 private:
  QString path_;
  mutable bool write_failure_told_ = false;
};

inline constexpr char kSettingsApplication[] = "Kestovar";
inline constexpr char kSettingsSection[] = "Brisklume";

// Every key the program keeps; most repeat the name of the control whose
// value they hold.
namespace settings_key {
inline constexpr char kSlider1[] = "Slider1";
inline constexpr char kOption1[] = "Option1";
inline constexpr char kOption2[] = "Option2";
inline constexpr char kText2[] = "Text2";
inline constexpr char kLastFolderDot[] = "LastFolderDot";
inline constexpr char kLastFolder[] = "LastFolder";
inline constexpr char kSnapshot[] = "Snapshot";
}  // namespace settings_key

// Conversions the readers apply to stored text; both throw Failure on text
// that is not of their form.
int TextToInteger(const QString& text);
bool TextToBoolean(const QString& text);
QString BooleanText(bool value);
