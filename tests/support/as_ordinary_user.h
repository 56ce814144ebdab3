#pragma once

#include <grp.h>
#include <sys/wait.h>
#include <unistd.h>

#include <QByteArray>
#include <QString>
#include <functional>

// Runs `body` in a forked child after `prepare`, which returns what kept
// it from preparing (empty when all was well). `body` returns what went
// wrong, empty when all was well; so does this. Whatever the child makes,
// it removes.
inline QString InChild(const std::function<QString()>& prepare,
                       const std::function<QString()>& body) {
  int channel[2];
  if (::pipe(channel) != 0) return "no pipe";
  const pid_t pid = ::fork();
  if (pid == 0) {
    ::close(channel[0]);
    QString report = prepare();
    if (report.isEmpty()) report = body();
    const QByteArray bytes = report.toUtf8();
    const ssize_t written =
        ::write(channel[1], bytes.constData(), bytes.size());
    ::_exit(written == bytes.size() ? 0 : 1);
  }
  ::close(channel[1]);
  QByteArray bytes;
  char buffer[4096];
  for (ssize_t n; (n = ::read(channel[0], buffer, sizeof buffer)) > 0;) {
    bytes.append(buffer, n);
  }
  ::close(channel[0]);
  int status = 0;
  ::waitpid(pid, &status, 0);
  if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) {
    return "the child did not finish: status " + QString::number(status);
  }
  return QString::fromUtf8(bytes);
}

// The rights of an ordinary user: the suite often runs as root, who may
// read, write and delete anything, so a test of a refusal runs in a forked
// child that first becomes the user nobody (uid and gid 65534).
inline QString AsOrdinaryUser(const std::function<QString()>& body) {
  return InChild(
      []() -> QString {
        if (::geteuid() == 0 &&
            (::setgroups(0, nullptr) != 0 || ::setgid(65534) != 0 ||
             ::setuid(65534) != 0)) {
          return "cannot become uid 65534";
        }
        return {};
      },
      body);
}

// In a body for AsOrdinaryUser: returns a report of the failed condition.
#define CHILD_CHECK(condition)                                                 \
  do {                                                                         \
    if (!(condition)) {                                                        \
      return QString("%1:%2: %3").arg(__FILE__).arg(__LINE__).arg(#condition); \
    }                                                                          \
  } while (false)
