#include "base/qt_dialogs.h"

#include <QDesktopServices>
#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QMessageBox>
#include <QStandardPaths>
#include <QUrl>

void QtDialogs::ShowMessage(const QString& title, const QString& text,
                            Icon icon) {
  QMessageBox box(
      icon == Icon::kWarning ? QMessageBox::Warning : QMessageBox::NoIcon,
      title, text, QMessageBox::Ok, owner_);
  box.exec();
}

void QtDialogs::ShowMessageWithDetails(const QString& title,
                                       const QString& text,
                                       const QString& details) {
  QMessageBox box(QMessageBox::NoIcon, title, text, QMessageBox::Ok, owner_);
  // Plain text: a path is never read as markup.
  box.setTextFormat(Qt::PlainText);
  box.setDetailedText(details);
  box.exec();
}

bool QtDialogs::AskYesNo(const QString& title, const QString& text) {
  QMessageBox box(QMessageBox::NoIcon, title, text,
                  QMessageBox::Yes | QMessageBox::No, owner_);
  return box.exec() == QMessageBox::Yes;
}

QString QtDialogs::OpenFiles(const QString& title, const QString& filter) {
  const QStringList chosen =
      QFileDialog::getOpenFileNames(owner_, title, QString(), filter);
  if (chosen.size() <= 1) return chosen.value(0);
  QStringList parts{QDir::toNativeSeparators(QFileInfo(chosen[0]).path())};
  for (const QString& path : chosen) parts << QFileInfo(path).fileName();
  return parts.join(QChar(0));
}

QString QtDialogs::BrowseForFolder(const QString& title,
                                   const QString& start_folder) {
  QString chosen = QDir::toNativeSeparators(
      QFileDialog::getExistingDirectory(owner_, title, start_folder));
  // A folder typed with a trailing separator is the same folder; only the
  // root keeps its own.
  while (chosen.size() > 1 && chosen.endsWith(QDir::separator())) {
    chosen.chop(1);
  }
  return chosen;
}

void QtDialogs::OpenUrl(const QString& url) {
  QDesktopServices::openUrl(QUrl(url));
}

void QtDialogs::OpenFolder(const QString& folder) {
  QDesktopServices::openUrl(QUrl::fromLocalFile(folder));
}

QString QtDialogs::DesktopPath() {
  return QDir::toNativeSeparators(
      QStandardPaths::writableLocation(QStandardPaths::DesktopLocation));
}
