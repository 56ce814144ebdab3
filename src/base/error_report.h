#pragma once

#include <QString>

class Dialogs;

inline constexpr char kSupportAddress[] = "support@brisklume.example";

// The text of the "Application Error" box.
QString ErrorReportText(const QString& description, const QString& procedure_id,
                        int line);

// Shows the "Application Error" box and returns when it is dismissed.
void ErrorReport(Dialogs& dialogs, const QString& description,
                 const QString& procedure_id, int line);
