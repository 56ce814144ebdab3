#include "filelist/shell_drops.h"

#include <QDir>
#include <QDropEvent>
#include <QFile>
#include <QMimeData>
#include <QTreeWidget>
#include <QUrl>

#include "filelist/add_folder.h"
#include "filelist/file_list.h"
#include "util/file_queries.h"

namespace {

// A file URL names this machine when it names no host or "localhost".
bool IsThisMachine(const QUrl& url) {
  return url.isLocalFile() &&
         (url.host().isEmpty() ||
          url.host().compare("localhost", Qt::CaseInsensitive) == 0);
}

// The path a dropped URL names, taken from its bytes; empty when those
// bytes hold NUL or are not valid text, as no row could name that file.
QString DroppedPath(const QUrl& url) {
  const QByteArray bytes =
      QByteArray::fromPercentEncoding(url.path(QUrl::FullyEncoded).toLatin1());
  const QString path = QFile::decodeName(bytes);
  if (bytes.contains('\0') || QFile::encodeName(path) != bytes) return {};
  return QDir::toNativeSeparators(path);
}

}  // namespace

ShellDrops::ShellDrops(QTreeWidget* list, FileList& files, Dialogs& dialogs)
    : files_(files), dialogs_(dialogs) {
  list->setAcceptDrops(true);
  list->viewport()->setAcceptDrops(true);
  list->viewport()->installEventFilter(this);
}

bool ShellDrops::OffersFiles(const QMimeData* data) {
  if (!data || !data->hasUrls() || data->urls().isEmpty()) return false;
  for (const QUrl& url : data->urls()) {
    if (!IsThisMachine(url)) return false;
  }
  return true;
}

void ShellDrops::ListView1_OLEDragOver(QDropEvent* event) {
  if (OffersFiles(event->mimeData())) {
    event->acceptProposedAction();
  } else {
    event->setDropAction(Qt::IgnoreAction);
    event->ignore();
  }
}

void ShellDrops::ListView1_OLEDragDrop(const QMimeData* data) {
  if (!OffersFiles(data)) return;
  QStringList paths;
  for (const QUrl& url : data->urls()) {
    if (const QString path = DroppedPath(url); !path.isEmpty()) paths << path;
  }
  AddDroppedPaths(paths);
}

void ShellDrops::AddDroppedPaths(const QStringList& paths) {
  // A drop has no trap: what cannot be examined is passed over.
  const Statement passing_over = [](int, const std::function<void()>& step) {
    try {
      step();
    } catch (const std::exception&) {
    }
  };
  const auto append = [this](const QString& path) { files_.Append(path); };
  for (const QString& path : paths) {
    if (!IsFolder(path)) {
      files_.Append(path);
      continue;
    }
    QStringList collection{CollectionEntry(path)};
    GetSubDirectories2016(collection, true, dialogs_);
    AppendFilesOfFolders(collection, "*.*", append, passing_over);
  }
}

bool ShellDrops::eventFilter(QObject*, QEvent* event) {
  switch (event->type()) {
    case QEvent::DragEnter:
    case QEvent::DragMove:
      ListView1_OLEDragOver(static_cast<QDropEvent*>(event));
      return true;
    case QEvent::Drop: {
      auto* drop = static_cast<QDropEvent*>(event);
      if (OffersFiles(drop->mimeData())) drop->acceptProposedAction();
      ListView1_OLEDragDrop(drop->mimeData());
      return true;
    }
    default:
      return false;
  }
}
