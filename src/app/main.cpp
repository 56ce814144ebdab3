#include <QApplication>
#include <QRandomGenerator>
#include <QTimer>
#include <cstdio>

#include "app/command_line.h"
#include "app/form1.h"
#include "base/qt_dialogs.h"
#include "base/settings_store.h"
#include "base/shutdown.h"
#include "base/user_folders.h"
#include "filelist/shell_drops.h"

namespace {

// Writes the text; false when it did not reach its reader.
bool Print(const QString& text) {
  return std::fputs(text.toLocal8Bit().constData(), stdout) >= 0 &&
         std::fflush(stdout) == 0;
}

}  // namespace

int main(int argc, char* argv[]) {
  // Answered before a window system is asked for: these need no screen.
  const CommandLine asked = ParseCommandLine(argc, argv);
  if (asked.help || asked.version) {
    return Print(asked.help ? HelpText() : VersionText()) ? 0 : 1;
  }
  // A session without HOME (a service, `env -i`) would have Qt put the
  // desktop and every dialog's start at the root; the user's home is known.
  if (qEnvironmentVariableIsEmpty("HOME"))
    qputenv("HOME", HomeFolder().toUtf8());
  QApplication app(argc, argv);
  // Qt has taken its own options (-platform, -style) out of the list.
  const CommandLine line = ParseCommandLine(argc, argv);
  if (!line.error.isEmpty()) {
    std::fprintf(stderr, "brisklume: %s\n%s\n", qPrintable(line.error),
                 qPrintable(UsageText()));
    return 2;
  }
  EndProcessOnSignals();
  QtDialogs dialogs(nullptr);
  const SettingsStore store(SettingsStore::DefaultPath());
  Form1 form({dialogs, store, QApplication::applicationDirPath(),
              [] { return QRandomGenerator::global()->generateDouble(); }});
  dialogs.SetOwner(&form);
  form.Form_Load();
  form.ShowCentred();
  // Queued once the window shows, so that a long folder walk is seen.
  QTimer::singleShot(
      0, &form, [&form, &line] { form.Drops().AddDroppedPaths(line.paths); });
  return app.exec();
}
