#pragma once

#include <QString>
#include <stdexcept>

// A failed operation, as the trap reports it: the operation's own description
// and, where one matters to a caller, a failure number.
class Failure : public std::runtime_error {
 public:
  explicit Failure(const QString& description, long number = 0)
      : std::runtime_error(description.toStdString()), number_(number) {}

  QString Description() const { return QString::fromStdString(what()); }
  long Number() const { return number_; }

 private:
  long number_;
};
