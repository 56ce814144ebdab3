#include <QDir>
#include <QFileInfo>
#include <QTemporaryDir>
#include <QTest>

#include "convert/working_folder.h"
#include "support/test_main.h"

class WorkingFolderTest : public QObject {
  Q_OBJECT

 private slots:
  void PlaceFollowsTemp_data() {
    QTest::addColumn<int>("temp");  // 0 unset, 1 empty, 2 set
    QTest::newRow("unset") << 0;
    QTest::newRow("empty") << 1;
    QTest::newRow("set") << 2;
  }
  void PlaceFollowsTemp() {
    QFETCH(int, temp);
    QTemporaryDir dir;
    const QByteArray saved = qgetenv("TEMP");
    if (temp == 0) qunsetenv("TEMP");
    if (temp == 1) qputenv("TEMP", "");
    if (temp == 2) qputenv("TEMP", dir.path().toUtf8());
    QString path;
    {
      WorkingFolder folder;
      path = folder.Location();
      QCOMPARE(QFileInfo(path).dir().absolutePath(),
               temp == 2 ? dir.path() : QDir::tempPath());
      // Readable and writable by the user alone.
      QCOMPARE(QFileInfo(path).permissions() & 0x0777,
               QFile::ReadUser | QFile::WriteUser | QFile::ExeUser);
      QFile file(folder.Path() + "/temp.png");
      QVERIFY(file.open(QIODevice::WriteOnly));
      WorkingFolder second;
      QVERIFY(second.Location() != path);  // two runs never share files
    }
    qputenv("TEMP", saved);
    QVERIFY(!QFileInfo::exists(path));
  }
};

BRISKLUME_TEST_CLASS(WorkingFolderTest);
#include "working_folder_test.moc"
