#include "filelist/file_list.h"

#include <QKeyEvent>
#include <QMouseEvent>
#include <QTreeWidget>

#include "base/trap.h"
#include "base/window_pointer.h"

FileList::FileList(QTreeWidget* list, WindowPointer& pointer, Dialogs& dialogs,
                   QString program_folder, std::function<bool()> holds_still)
    : list_(list),
      pointer_(pointer),
      dialogs_(dialogs),
      program_folder_(std::move(program_folder)),
      holds_still_(std::move(holds_still)) {
  list_->setSelectionMode(QAbstractItemView::SingleSelection);
  list_->setDragEnabled(false);  // never a drag source towards other programs
  list_->setUniformRowHeights(true);
  list_->installEventFilter(this);
  // The hover rule hears the list without a pressed button too.
  list_->viewport()->setMouseTracking(true);
  list_->viewport()->installEventFilter(this);
}

void FileList::Append(const QString& path) {
  // Read up to a NUL, the path would name another file.
  if (path.contains(QChar(0))) return;
  auto* item = new QTreeWidgetItem(QStringList{path});
  item->setFlags(Qt::ItemIsSelectable | Qt::ItemIsEnabled);
  list_->addTopLevelItem(item);
}

int FileList::Count() const { return list_->topLevelItemCount(); }

QString FileList::Text(int row) const {
  return list_->topLevelItem(row - 1)->text(0);
}

int FileList::DragItem() const {
  return drag_item_.isValid() ? drag_item_.row() + 1 : 0;
}

void FileList::PushButton4_Click() {
  Trap(dialogs_, ProcedureId("PushButton4_Click")).Line(100, [&] {
    if (!Frozen()) list_->clear();
  });
}

void FileList::RemoveSelected() {
  if (Frozen() || Count() == 0) return;
  const QList<QTreeWidgetItem*> selected = list_->selectedItems();
  if (selected.isEmpty()) return;
  delete selected.first();
}

void FileList::MouseDown(const QPoint& position) {
  dragging_ = true;
  list_->setFocus(Qt::MouseFocusReason);  // so that Delete reaches the list
  if (QTreeWidgetItem* item = list_->itemAt(position)) ItemClick(item);
}

void FileList::ItemClick(QTreeWidgetItem* item) {
  list_->setCurrentItem(item);
  const QString icon = program_folder_ + "/drag.ico";
  try {
    list_->viewport()->setCursor(LoadCursorFile(icon));
  } catch (const std::exception&) {
    // Without its image the drag keeps the ordinary arrow.
    list_->viewport()->unsetCursor();
  }
  drag_item_ = list_->indexFromItem(item);
}

void FileList::MouseMove(const QPoint& position) {
  pointer_.Hover(WindowPointer::State::kDefault);
  if (dragging_) ReorderStep(position);
}

void FileList::MouseUp() {
  dragging_ = false;
  list_->viewport()->unsetCursor();
}

bool FileList::Frozen() const { return pointer_.IsBusy() || holds_still_(); }

int FileList::RowAt(const QPoint& position) const {
  QTreeWidgetItem* item = list_->itemAt(position);
  return item ? list_->indexOfTopLevelItem(item) + 1 : 0;
}

void FileList::ReorderStep(const QPoint& position) {
  QTreeWidgetItem* hit = list_->itemAt(position);
  const int hit_row = RowAt(position);
  if (hit && drag_item_.isValid() && !holds_still_()) {
    QTreeWidgetItem* dragged = list_->topLevelItem(drag_item_.row());
    if (hit->text(0) != dragged->text(0)) {
      const QString kept = dragged->text(0);
      dragged->setText(0, hit->text(0));
      hit->setText(0, kept);
      list_->setCurrentItem(hit);
      drag_item_ = list_->indexFromItem(hit);
    }
  }
  ScrollAssist(position, hit_row);
}

void FileList::ScrollAssist(const QPoint& position, int hit_row) {
  // The bands follow the list wherever the window stands: one row high at
  // the top and the bottom of the visible rows, or beyond them.
  const int band =
      std::max(1, list_->visualRect(list_->model()->index(0, 0)).height());
  const int height = list_->viewport()->height();
  // Beyond the rows, the nearest visible row stands in for the hit row.
  if (!hit_row && position.y() < 0) {
    hit_row = RowAt(QPoint(1, 1));
  } else if (!hit_row && position.y() >= height) {
    hit_row = RowAt(QPoint(1, height - 2));
  }
  if (!hit_row) return;
  if (position.y() < band && hit_row > 1) {
    list_->scrollToItem(list_->topLevelItem(hit_row - 2));
  } else if (position.y() >= height - band && hit_row < Count()) {
    list_->scrollToItem(list_->topLevelItem(hit_row));
  }
}

bool FileList::eventFilter(QObject* watched, QEvent* event) {
  if (watched == list_ && event->type() == QEvent::KeyPress &&
      static_cast<QKeyEvent*>(event)->key() == Qt::Key_Delete) {
    RemoveSelected();
    return true;
  }
  if (watched != list_->viewport()) return false;
  switch (event->type()) {
    case QEvent::MouseButtonPress:
      MouseDown(static_cast<QMouseEvent*>(event)->position().toPoint());
      return true;
    case QEvent::MouseMove:
      MouseMove(static_cast<QMouseEvent*>(event)->position().toPoint());
      return true;
    case QEvent::MouseButtonRelease:
      MouseUp();
      return true;
    case QEvent::MouseButtonDblClick:
      RemoveSelected();
      return true;
    default:
      return false;
  }
}
