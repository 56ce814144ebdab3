// Starts a batch run on a large PNG and closes the window while the
// converter works. Usage: close_during_run_child TEMP_FOLDER SOURCE_PNG
#include <QApplication>
#include <QLineEdit>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTimer>
#include <cstdio>

#include "app/form1.h"
#include "app/settings_store.h"
#include "filelist/file_list.h"
#include "support/fake_dialogs.h"
#include "support/process_probe.h"

int main(int argc, char** argv) {
  QApplication app(argc, argv);
  if (argc != 3) return 2;
  qputenv("TEMP", argv[1]);
  QTemporaryDir dir;
  FakeDialogs dialogs;
  dialogs.on_message = [&dialogs] {
    std::printf("a message was shown: %s\n",
                qPrintable(dialogs.messages.last().text));
    std::fflush(stdout);
  };
  const SettingsStore store(dir.filePath("Kestovar.ini"));
  Form1 form({dialogs, store, dir.path(), [] { return 0.5; }});
  form.Form_Load();
  form.Text2->setText(dir.path());
  form.Files().Append(QString::fromLocal8Bit(argv[2]));
  form.ShowCentred();
  // Close once the converter is at work in the run's working folder.
  const QString working = QString::fromLocal8Bit(argv[1]) + "/brisklume-";
  QTimer watch;
  QObject::connect(&watch, &QTimer::timeout, &form, [&] {
    if (ProcessMentions(working)) form.close();
  });
  watch.start(5);
  QTimer::singleShot(0, &form, [&form] { form.PushButton2->click(); });
  app.exec();
  std::puts("the event loop returned");
  return 3;
}
