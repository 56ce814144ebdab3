#pragma once

#include <QObject>
#include <QPersistentModelIndex>
#include <QString>
#include <functional>

class Dialogs;
class QTreeWidget;
class QTreeWidgetItem;
class WindowPointer;

// The queue of input files on ListView1: one full path per row, in
// conversion order. Handles the list's editing and its reorder drag.
class FileList : public QObject {
  Q_OBJECT

 public:
  // `holds_still` says when rows must neither move nor vanish: while a
  // batch run reads them by position.
  FileList(QTreeWidget* list, WindowPointer& pointer, Dialogs& dialogs,
           QString program_folder, std::function<bool()> holds_still);

  void Append(const QString& path);
  int Count() const;
  const QTreeWidget& View() const { return *list_; }
  QString Text(int row) const;  // rows from 1

  // "Clear List".
  void PushButton4_Click();

  // The list's own events, as the window reports them.
  void MouseDown(const QPoint& position);
  void ItemClick(QTreeWidgetItem* item);
  void MouseMove(const QPoint& position);
  void MouseUp();
  void RemoveSelected();  // Delete key and double-click

  bool Dragging() const { return dragging_; }
  // The row carrying the dragged path, from 1; 0 when there is none.
  int DragItem() const;

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  bool Frozen() const;
  int RowAt(const QPoint& position) const;
  void ReorderStep(const QPoint& position);
  void ScrollAssist(const QPoint& position, int hit_row);

  QTreeWidget* list_;
  WindowPointer& pointer_;
  Dialogs& dialogs_;
  QString program_folder_;
  std::function<bool()> holds_still_;
  bool dragging_ = false;
  QPersistentModelIndex drag_item_;
};
