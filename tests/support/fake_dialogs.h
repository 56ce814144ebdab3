#pragma once

#include <QList>
#include <QString>
#include <QStringList>
#include <functional>

#include "base/dialogs.h"

// Records every interaction and answers as the test scripted it.
class FakeDialogs : public Dialogs {
 public:
  struct Message {
    QString title;
    QString text;
    Icon icon;
    QString details;
  };

  void ShowMessage(const QString& title, const QString& text,
                   Icon icon) override {
    messages.append({title, text, icon, {}});
    if (on_message) on_message();
  }
  void ShowMessageWithDetails(const QString& title, const QString& text,
                              const QString& details) override {
    messages.append({title, text, Icon::kNone, details});
    if (on_message) on_message();
  }
  bool AskYesNo(const QString& title, const QString& text) override {
    questions.append({title, text, Icon::kNone, {}});
    return yes_answers.isEmpty() ? false : yes_answers.takeFirst();
  }
  QString OpenFiles(const QString& title, const QString& filter) override {
    open_requests.append(title + "|" + filter);
    return file_answers.isEmpty() ? QString() : file_answers.takeFirst();
  }
  QString BrowseForFolder(const QString& title,
                          const QString& start_folder) override {
    browse_requests.append(title + "|" + start_folder);
    return folder_answers.isEmpty() ? QString() : folder_answers.takeFirst();
  }
  void OpenUrl(const QString& url) override { opened.append(url); }
  void OpenFolder(const QString& folder) override { opened.append(folder); }
  QString DesktopPath() override { return desktop; }

  // The "Application Error" boxes shown so far.
  QList<Message> ErrorReports() const {
    QList<Message> reports;
    for (const Message& m : messages) {
      if (m.title == "Application Error") reports.append(m);
    }
    return reports;
  }

  QList<Message> messages;
  QList<Message> questions;
  QStringList open_requests;
  QStringList browse_requests;
  QStringList opened;
  QList<bool> yes_answers;
  QStringList file_answers;
  QStringList folder_answers;
  QString desktop = "/home/user/Desktop";
  std::function<void()> on_message;
};
