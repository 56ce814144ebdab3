#pragma once

#include <QString>
#include <functional>

class Dialogs;

// Runs the numbered statements of a guarded procedure. A statement that fails
// is reported with the procedure and its line, and the procedure goes on with
// the next statement; the trap never ends a procedure.
class Trap {
 public:
  Trap(Dialogs& dialogs, QString procedure_id)
      : dialogs_(dialogs), procedure_id_(std::move(procedure_id)) {}

  // Runs one statement; true when it completed.
  bool Line(int line, const std::function<void()>& statement);

  // Decides the test of a conditional block. A test that fails counts as
  // true: execution goes on with the first statement inside the block.
  bool Test(int line, const std::function<bool()>& test);

 private:
  void Report(const QString& description, int line);

  Dialogs& dialogs_;
  QString procedure_id_;
};
