#include "app/command_line.h"

#include <QDir>
#include <QFile>

CommandLine ParseCommandLine(int argc, const char* const* argv) {
  CommandLine line;
  bool options_ended = false;
  for (int i = 1; i < argc; ++i) {
    const QByteArray argument(argv[i]);
    if (!options_ended && argument.startsWith('-') && argument.size() > 1) {
      if (argument == "--") {
        options_ended = true;
      } else if (argument == "--help" || argument == "-h") {
        line.help = true;
      } else if (argument == "--version") {
        line.version = true;
      } else if (line.error.isEmpty()) {
        line.error = "unknown option " + QString::fromLocal8Bit(argument);
      }
      continue;
    }
    const QString name = QFile::decodeName(argument);
    if (argument.isEmpty() || QFile::encodeName(name) != argument) continue;
    line.paths << QDir::toNativeSeparators(
        QDir::cleanPath(QDir::current().absoluteFilePath(name)));
  }
  return line;
}

QString UsageText() { return "usage: brisklume [--] [FILE|FOLDER]..."; }

QString HelpText() {
  return UsageText() +
         "\n\n"
         "Opens the Brisklume window, which converts PNG images to JPEG\n"
         "files in batches. Each FILE given is queued, and each FOLDER adds\n"
         "every file below it, as when they are dropped onto the list.\n\n"
         "Options:\n"
         "  --help     show this text\n"
         "  --version  show the version\n"
         "  --         ends the options: a name that begins with \"-\" may\n"
         "             follow\n";
}

QString VersionText() { return "brisklume " BRISKLUME_VERSION "\n"; }
