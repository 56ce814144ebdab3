#include "base/error_report.h"

#include "base/dialogs.h"

QString ErrorReportText(const QString& description, const QString& procedure_id,
                        int line) {
  return description + "\n" + procedure_id + "at line " +
         QString::number(line) + "\n\n" +
         "Please email screenshot of this message to " + kSupportAddress;
}

void ErrorReport(Dialogs& dialogs, const QString& description,
                 const QString& procedure_id, int line) {
  dialogs.ShowMessage("Application Error",
                      ErrorReportText(description, procedure_id, line),
                      Dialogs::Icon::kWarning);
}
