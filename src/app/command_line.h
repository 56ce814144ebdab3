#pragma once

#include <QString>
#include <QStringList>

// What the program was asked on its command line: the files and folders to
// queue at start (the file manager's "Open With" hands them over), or the
// help or version text instead of a window.
struct CommandLine {
  bool help = false;
  bool version = false;
  QStringList paths;  // absolute, in the order given
  QString error;      // a wrong option; empty when all is well
};

// Reads the arguments after the program's name. A name is taken from its
// bytes and passed over, as a drop passes it over, when those bytes are
// not valid text. Relative names are taken from the current folder.
CommandLine ParseCommandLine(int argc, const char* const* argv);

QString UsageText();
QString HelpText();
QString VersionText();
