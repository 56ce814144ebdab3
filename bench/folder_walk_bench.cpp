// "Add All File(s) In Folder" and a drop of the same tree, offscreen,
// against find on that tree (warm cache), with the longest gap between two
// event pumps.
//   QT_QPA_PLATFORM=offscreen folder_walk_bench TREE_DIR
// TREE_DIR is made on first use: 100 folders of 100 folders, each of those
// holding 5 PNG and 5 text files (10,100 folders, 100,000 files).
#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QMimeData>
#include <QProcess>
#include <QTemporaryDir>
#include <QTreeWidget>
#include <QUrl>
#include <cstdio>
#include <functional>

#include "app/form1.h"
#include "base/settings_store.h"
#include "filelist/file_list.h"
#include "filelist/shell_drops.h"
#include "gap_watch.h"
#include "silent_dialogs.h"
#include "support/controls.h"

namespace {

void MakeTree(const QString& root) {
  for (int a = 0; a < 100; ++a) {
    for (int b = 0; b < 100; ++b) {
      const QString folder = QString("%1/t%2/u%3").arg(root).arg(a).arg(b);
      QDir().mkpath(folder);
      for (int f = 0; f < 10; ++f) {
        QFile file(folder +
                   QString("/f%1.%2").arg(f).arg(f < 5 ? "png" : "txt"));
        file.open(QIODevice::WriteOnly);
      }
    }
  }
}

struct Measure {
  qint64 ms;
  qint64 longest_gap;
  int rows;
};

Measure Time(Form1& form, const std::function<void()>& action) {
  Controls(form).ListView1->clear();
  const GapWatch gaps;
  QElapsedTimer clock;
  clock.start();
  action();
  return {clock.elapsed(), gaps.Longest(), form.Files().Count()};
}

}  // namespace

int main(int argc, char** argv) {
  QApplication app(argc, argv);
  if (argc != 2) {
    std::fprintf(stderr, "usage: folder_walk_bench TREE_DIR\n");
    return 2;
  }
  const QString tree = QDir(argv[1]).absolutePath();
  if (!QDir(tree + "/t99/u99").exists()) MakeTree(tree);

  QElapsedTimer clock;
  qint64 find_ms = 0;
  for (int round = 0; round < 2; ++round) {  // the second with a warm cache
    clock.start();
    QProcess find;
    find.start("find", {tree, "-iname", "*.png"});
    find.waitForFinished(-1);
    find_ms = clock.elapsed();
  }

  QTemporaryDir config;
  SilentDialogs dialogs;
  dialogs.folder_answer = tree;
  const SettingsStore store(config.filePath("Kestovar.ini"));
  Form1 form({dialogs, store, config.path(), [] { return 0.5; }});
  form.Form_Load();
  form.ShowCentred();
  const Measure button = Time(form, [&] { form.PushButton3_Click(); });
  QMimeData data;
  data.setUrls({QUrl::fromLocalFile(tree)});
  const Measure drop =
      Time(form, [&] { form.Drops().ListView1_OLEDragDrop(&data); });

  std::printf("find -iname '*.png' (warm): %lld ms\n",
              static_cast<long long>(find_ms));
  for (const auto& [name, m] : {std::pair{"Add All File(s) In Folder", button},
                                std::pair{"drop of the tree", drop}}) {
    std::printf("%-26s %6lld ms  %6d rows  %5.1f x find  longest gap %lld ms\n",
                name, static_cast<long long>(m.ms), m.rows,
                find_ms ? double(m.ms) / find_ms : 0.0,
                static_cast<long long>(m.longest_gap));
  }
  return 0;
}
