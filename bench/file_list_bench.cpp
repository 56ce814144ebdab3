// Appends 100,000 rows through FileList::Append and looks one up, offscreen.
//   QT_QPA_PLATFORM=offscreen file_list_bench
#include <QApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QScrollBar>
#include <QTemporaryDir>
#include <QTreeWidget>
#include <cstdio>

#include "app/form1.h"
#include "base/settings_store.h"
#include "filelist/file_list.h"
#include "silent_dialogs.h"
#include "support/controls.h"

namespace {

long ResidentKiB() {
  QFile status("/proc/self/statm");
  status.open(QIODevice::ReadOnly);
  return status.readAll().split(' ').value(1).toLong() * 4;
}

}  // namespace

int main(int argc, char** argv) {
  QApplication app(argc, argv);
  QTemporaryDir dir;
  SilentDialogs dialogs;
  const SettingsStore store(dir.filePath("Kestovar.ini"));
  Form1 form({dialogs, store, dir.path(), [] { return 0.5; }});
  form.Form_Load();
  form.show();
  QCoreApplication::processEvents();
  constexpr int kRows = 100000;
  QStringList paths;
  for (int i = 0; i < kRows; ++i) {
    paths << QString("/home/user/pictures/holiday %1/IMG_%2.png")
                 .arg(i / 1000)
                 .arg(i, 6, 10, QChar('0'));
  }
  const long before = ResidentKiB();
  QElapsedTimer clock;
  clock.start();
  for (const QString& p : paths) form.Files().Append(p);
  QCoreApplication::processEvents();
  const double append_ms = clock.nsecsElapsed() / 1e6;
  const long after = ResidentKiB();

  clock.restart();
  QTreeWidget* list = Controls(form).ListView1;
  QScrollBar* bar = list->verticalScrollBar();
  for (int i = 0; i < 100; ++i) {
    bar->setValue(bar->maximum() * i / 100);
    list->repaint();
  }
  const double scroll_ms = clock.nsecsElapsed() / 1e6 / 100;
  clock.restart();
  list->setCurrentItem(list->topLevelItem(kRows / 2));
  form.Files().RemoveSelected();
  QCoreApplication::processEvents();
  const double delete_ms = clock.nsecsElapsed() / 1e6;

  std::printf("appends of %d rows: %.1f ms\n", kRows, append_ms);
  std::printf("memory per row: %.0f bytes (resident, %ld KiB in all)\n",
              (after - before) * 1024.0 / kRows, after - before);
  std::printf("scroll and repaint: %.2f ms; delete one row: %.2f ms\n",
              scroll_ms, delete_ms);
  return 0;
}
