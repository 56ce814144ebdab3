// A main window whose handler pumps events in a loop while a timer closes the
// window. Prints what ran after the close, which should be nothing.
#include <QApplication>
#include <QThread>
#include <QTimer>
#include <cstdio>

#include "app/form1.h"
#include "base/pump_events.h"
#include "base/settings_store.h"
#include "support/fake_dialogs.h"

int main(int argc, char** argv) {
  QApplication app(argc, argv);
  // The caller's folder: this process ends without cleaning up after itself.
  if (argc != 2) return 2;
  const QString own = QString::fromLocal8Bit(argv[1]);
  FakeDialogs dialogs;
  const SettingsStore store(own + "/Kestovar.ini");
  Form1 form({dialogs, store, own, [] { return 0.5; }});
  form.Form_Load();
  form.ShowCentred();
  QTimer::singleShot(0, [] {
    std::puts("handler started");
    std::fflush(stdout);
    for (int i = 0; i < 300; ++i) {
      PumpEvents();
      QThread::msleep(10);
    }
    std::puts("handler went on after close");
  });
  QTimer::singleShot(100, &form, [&form] { form.close(); });
  const int code = app.exec();
  std::printf("event loop returned %d\n", code);
  return 3;
}
