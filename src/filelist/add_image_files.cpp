#include "filelist/add_image_files.h"

#include <QStringList>

#include "base/dialogs.h"
#include "base/trap.h"
#include "filelist/file_list.h"
#include "util/file_queries.h"
#include "util/path_strings.h"

namespace {

// The dialog shows a stored name that is not valid text like a valid one;
// such a path is not queued, as it may name another file than the one
// chosen.
void AppendIfFaithful(FileList& list, const QString& path) {
  if (IsFaithfulPath(path)) list.Append(path);
}

}  // namespace

void AddImageFiles(Dialogs& dialogs, FileList& list,
                   const QString& application_title) {
  Trap trap(dialogs, ProcedureId("PushButton1_Click"));
  QString chosen;
  trap.Set(108, chosen, [&] {
    return dialogs.OpenFiles(
        "Add File(s) - Hold Ctrl or Shift to select multiple files",
        "All PNG (*.png)");
  });
  if (trap.Test(110, [&] { return chosen.isEmpty(); })) return;
  if (chosen.size() > kOpenDialogCapacity) {
    dialogs.ShowMessage(application_title,
                        "You've selected too many files to add.\n\n"
                        "Please try adding via the \"Add All\" button.",
                        Dialogs::Icon::kNone);
    return;
  }
  QStringList parts;
  trap.Set(112, parts, [&] { return chosen.split(QChar(0)); });
  if (parts.size() == 1) {
    trap.Line(118, [&] { AppendIfFaithful(list, parts[0]); });
    return;
  }
  for (qsizetype i = 1; i < parts.size(); ++i) {
    QString path;
    // The root already ends in the separator; doubling it there would read
    // as a network prefix.
    trap.Set(128, path, [&] { return JoinPath(parts[0], parts[i]); });
    trap.Set(130, path, [&] { return CollapseBackslashes(path); });
    trap.Line(132, [&] { AppendIfFaithful(list, path); });
  }
}
