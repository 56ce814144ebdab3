#include <QApplication>
#include <QRandomGenerator>

#include "app/form1.h"
#include "base/qt_dialogs.h"
#include "base/settings_store.h"
#include "base/shutdown.h"

int main(int argc, char* argv[]) {
  QApplication app(argc, argv);
  EndProcessOnSignals();
  QtDialogs dialogs(nullptr);
  const SettingsStore store(SettingsStore::DefaultPath());
  Form1 form({dialogs, store, QApplication::applicationDirPath(),
              [] { return QRandomGenerator::global()->generateDouble(); }});
  dialogs.SetOwner(&form);
  form.Form_Load();
  form.ShowCentred();
  return app.exec();
}
