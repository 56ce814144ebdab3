#include "base/trap.h"

#include <exception>

#include "base/error_report.h"
#include "base/failure.h"

QString ProcedureId(const char* procedure) {
  return QString("in Quorlent2021/08/31.Form1.") + procedure + " ";
}

bool Trap::Line(int line, const std::function<void()>& statement) {
  try {
    statement();
    return true;
  } catch (const Failure& failure) {
    Report(failure.Description(), line);
  } catch (const std::exception& error) {
    Report(QString::fromLocal8Bit(error.what()), line);
  }
  return false;
}

bool Trap::Test(int line, const std::function<bool()>& test) {
  bool result = true;
  Line(line, [&] { result = test(); });
  return result;
}

void Trap::Report(const QString& description, int line) {
  ErrorReport(dialogs_, description, procedure_id_, line);
}
