// Starts a batch run on a large PNG and, once the converter works, closes
// the window, is killed outright, or gets TERM, HUP or INT as from a
// desktop logging out. Prints the converter's process id. Usage:
// close_during_run_child TEMP_FOLDER SOURCE_PNG OWN_FOLDER
// close|kill|term|hup|int
#include <unistd.h>

#include <QApplication>
#include <QLineEdit>
#include <QPushButton>
#include <QTimer>
#include <csignal>
#include <cstdio>
#include <map>

#include "app/form1.h"
#include "base/settings_store.h"
#include "base/shutdown.h"
#include "filelist/file_list.h"
#include "support/controls.h"
#include "support/fake_dialogs.h"
#include "support/process_probe.h"

int main(int argc, char** argv) {
  QApplication app(argc, argv);
  if (argc != 5) return 2;
  qputenv("TEMP", argv[1]);
  const QString own = QString::fromLocal8Bit(argv[3]);
  const QByteArray how = argv[4];
  const std::map<QByteArray, int> endings = {
      {"kill", SIGKILL}, {"term", SIGTERM}, {"hup", SIGHUP}, {"int", SIGINT}};
  EndProcessOnSignals();
  FakeDialogs dialogs;
  dialogs.on_message = [&dialogs] {
    std::printf("a message was shown: %s\n",
                qPrintable(dialogs.messages.last().text));
    std::fflush(stdout);
  };
  const SettingsStore store(own + "/Kestovar.ini");
  Form1 form({dialogs, store, own, [] { return 0.5; }});
  form.Form_Load();
  Controls(form).Text2->setText(own);
  form.Files().Append(QString::fromLocal8Bit(argv[2]));
  form.ShowCentred();
  QTimer watch;
  QObject::connect(&watch, &QTimer::timeout, &form, [&] {
    const QList<qint64> converters = ChildrenOf(::getpid());
    if (converters.isEmpty()) return;
    std::printf("converter %lld\n", converters.first());
    std::fflush(stdout);
    if (endings.count(how)) {
      watch.stop();
      ::raise(endings.at(how));
      return;
    }
    form.close();
  });
  watch.start(5);
  QTimer::singleShot(0, &form,
                     [&form] { Controls(form).PushButton2->click(); });
  app.exec();
  std::puts("the event loop returned");
  return 3;
}
