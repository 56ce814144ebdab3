#pragma once

#include <QString>
#include <functional>

class Dialogs;

// How an error report names a procedure of the main window:
// ProcedureId("Form_Load") is "in Quorlent2021/08/31.Form1.Form_Load ".
QString ProcedureId(const char* procedure);

// Runs the numbered statements of a guarded procedure. A statement that fails
// is reported with the procedure and its line, and the procedure goes on with
// the next statement; the trap never ends a procedure.
class Trap {
 public:
  Trap(Dialogs& dialogs, QString procedure_id)
      : dialogs_(dialogs), procedure_id_(std::move(procedure_id)) {}

  // Runs one statement; true when it completed.
  bool Line(int line, const std::function<void()>& statement);

  // "target = expression" as statement `line`: the target takes the value
  // only when the expression completes, and otherwise keeps what it held.
  template <typename T, typename Expression>
  void Set(int line, T& target, Expression&& expression) {
    Line(line, [&] { target = expression(); });
  }

  // Decides the test of a conditional block. A test that fails counts as
  // true: execution goes on with the first statement inside the block.
  bool Test(int line, const std::function<bool()>& test);

 private:
  void Report(const QString& description, int line);

  Dialogs& dialogs_;
  QString procedure_id_;
};
