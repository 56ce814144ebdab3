#include "huge_pages.h"

#include <sys/wait.h>
#include <unistd.h>

#include <QFile>
#include <QTest>
#include <cstdint>
#include <cstdlib>

namespace {

// Whether [from, to) lies in one mapping marked for huge pages.
bool MarkedForHugePages(uintptr_t from, uintptr_t to) {
  QFile smaps("/proc/self/smaps");
  if (!smaps.open(QIODevice::ReadOnly)) return false;
  bool inside = false;
  for (const QByteArray& line : smaps.readAll().split('\n')) {
    // A mapping's first line starts with its range; its fields, with names.
    const int dash = line.indexOf('-');
    const int space = line.indexOf(' ');
    if (dash > 0 && space > dash && line[space - 1] != ':') {
      const uintptr_t start = line.left(dash).toULongLong(nullptr, 16);
      const uintptr_t end =
          line.mid(dash + 1, space - dash - 1).toULongLong(nullptr, 16);
      inside = start <= from && to <= end;
    } else if (inside && line.startsWith("VmFlags:")) {
      return line.contains(" hg");
    }
  }
  return false;
}

}  // namespace

class HugePagesTest : public QObject {
  Q_OBJECT

 private slots:
  // What a large conversion allocates once the pages are reserved lies on
  // memory marked for 2 MiB pages, none of it on the small pages before the
  // first boundary; a small one's stays on small pages.
  void AllocationsLieOnHugePageMemory_data() {
    QTest::addColumn<int>("bytes");
    QTest::addColumn<bool>("reserved");
    QTest::newRow("band") << 256 * 1024 << true;
    QTest::newRow("coefficients") << 6 * 1024 * 1024 << true;
    QTest::newRow("small image") << 256 * 1024 << false;
  }
  void AllocationsLieOnHugePageMemory() {
    QFETCH(int, bytes);
    QFETCH(bool, reserved);
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
    QSKIP("the sanitizer's allocator places memory its own way");
#endif
    // In a child: the setting holds for the whole process.
    const pid_t child = ::fork();
    QVERIFY(child >= 0);
    if (child == 0) {
      lumeconv::PreferHugePages();
      if (reserved) lumeconv::ReserveHugePages();
      void* block = std::malloc(bytes);
      const auto at = reinterpret_cast<uintptr_t>(block);
      ::_exit(block && MarkedForHugePages(at, at + bytes) == reserved ? 0 : 1);
    }
    int status = 0;
    QCOMPARE(::waitpid(child, &status, 0), child);
    QVERIFY(WIFEXITED(status));
    QCOMPARE(WEXITSTATUS(status), 0);
  }
};

QTEST_GUILESS_MAIN(HugePagesTest)
#include "huge_pages_test.moc"
