#pragma once

#include <QObject>

class Dialogs;
class FileList;
class QDropEvent;
class QMimeData;
class QTreeWidget;

// Drops from the file manager onto ListView1: only a list of files on this
// machine is taken. A dropped file is appended as delivered; a dropped
// folder adds every file below it, whatever its type.
class ShellDrops : public QObject {
  Q_OBJECT

 public:
  ShellDrops(QTreeWidget* list, FileList& files, Dialogs& dialogs);

  static bool OffersFiles(const QMimeData* data);
  void ListView1_OLEDragOver(QDropEvent* event);
  void ListView1_OLEDragDrop(const QMimeData* data);
  // Queues the paths as a drop of them would: a file as given, a folder as
  // every file below it. Paths handed to the program at start come here.
  void AddDroppedPaths(const QStringList& paths);

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  FileList& files_;
  Dialogs& dialogs_;
};
