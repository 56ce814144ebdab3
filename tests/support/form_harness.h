#pragma once

#include <QTemporaryDir>
#include <memory>

#include "app/form1.h"
#include "base/settings_store.h"
#include "filelist/file_list.h"
#include "support/fake_dialogs.h"

// A main window over a private program folder and settings file, with
// scripted dialogs and a fixed chance.
struct FormHarness {
  explicit FormHarness(double chance = 0.5)
      : store(dir.filePath("config/Kestovar.ini")), chance_value(chance) {
    QDir(dir.path()).mkpath("program");
  }

  QString ProgramFolder() const { return dir.filePath("program"); }

  Form1& Make() {
    form = std::make_unique<Form1>(Form1Environment{
        dialogs, store, ProgramFolder(), [this] { return chance_value; }});
    return *form;
  }

  Form1& Load() {
    Make().Form_Load();
    return *form;
  }

  QTemporaryDir dir;
  FakeDialogs dialogs;
  SettingsStore store;
  double chance_value;
  std::unique_ptr<Form1> form;
};

// The queue's rows, from the first.
inline QStringList Rows(FileList& files) {
  QStringList rows;
  for (int i = 1; i <= files.Count(); ++i) rows << files.Text(i);
  return rows;
}
