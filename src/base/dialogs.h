#pragma once

#include <QString>
#include <QStringList>

// Every modal interaction and every shell call of the program goes through
// this interface, so tests can answer instead of a person.
class Dialogs {
 public:
  enum class Icon { kNone, kWarning };

  virtual ~Dialogs() = default;

  // A message box with one OK button; returns when it is dismissed.
  virtual void ShowMessage(const QString& title, const QString& text,
                           Icon icon) = 0;
  // A message box with one OK button and, behind a button, a scrollable
  // text that can be selected and copied; returns when it is dismissed.
  virtual void ShowMessageWithDetails(const QString& title, const QString& text,
                                      const QString& details) = 0;
  // A question with the buttons Yes and No and no icon; true on Yes.
  virtual bool AskYesNo(const QString& title, const QString& text) = 0;
  // The open-file dialog, several files selectable. Returns the dialog's
  // file name text: one file's full path, or for several the folder and
  // then each name, separated by NUL characters; empty when cancelled.
  virtual QString OpenFiles(const QString& title, const QString& filter) = 0;
  // The folder browser; the chosen folder, empty when cancelled.
  virtual QString BrowseForFolder(const QString& title,
                                  const QString& start_folder) = 0;
  virtual void OpenUrl(const QString& url) = 0;
  virtual void OpenFolder(const QString& folder) = 0;
  // The user's desktop folder as the shell names it; empty when it cannot.
  virtual QString DesktopPath() = 0;
};
