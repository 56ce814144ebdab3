#pragma once

#include "base/dialogs.h"

// Answers every dialog at once, for benchmarks that drive the window.
class SilentDialogs : public Dialogs {
 public:
  void ShowMessage(const QString&, const QString& text, Icon) override {
    last_message = text;
  }
  void ShowMessageWithDetails(const QString&, const QString& text,
                              const QString&) override {
    last_message = text;
  }
  bool AskYesNo(const QString&, const QString&) override { return false; }
  QString OpenFiles(const QString&, const QString&) override { return {}; }
  QString BrowseForFolder(const QString&, const QString&) override {
    return folder_answer;
  }
  void OpenUrl(const QString&) override {}
  void OpenFolder(const QString&) override {}
  QString DesktopPath() override { return "/tmp"; }

  QString last_message;
  QString folder_answer;  // what the folder browser "chooses"
};
