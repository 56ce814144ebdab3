#pragma once

#include "base/dialogs.h"

class QWidget;

// The real dialogs and shell, owned by a window.
class QtDialogs : public Dialogs {
 public:
  explicit QtDialogs(QWidget* owner) : owner_(owner) {}
  void SetOwner(QWidget* owner) { owner_ = owner; }

  void ShowMessage(const QString& title, const QString& text,
                   Icon icon) override;
  void ShowMessageWithDetails(const QString& title, const QString& text,
                              const QString& details) override;
  bool AskYesNo(const QString& title, const QString& text) override;
  QString OpenFiles(const QString& title, const QString& filter) override;
  QString BrowseForFolder(const QString& title,
                          const QString& start_folder) override;
  void OpenUrl(const QString& url) override;
  void OpenFolder(const QString& folder) override;
  QString DesktopPath() override;

 private:
  QWidget* owner_;
};
