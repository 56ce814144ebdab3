#include "convert/working_folder.h"

#include <sys/stat.h>
#include <unistd.h>

#include <QDir>
#include <QDirIterator>
#include <QFileInfo>
#include <QTemporaryDir>
#include <QTest>

#include "base/failure.h"
#include "support/as_ordinary_user.h"
#include "support/files.h"

namespace {

// TEMP and the user's cache folder pointed at test folders for a while.
struct Environment {
  explicit Environment(const QByteArray& temp, const QByteArray& cache)
      : saved_temp(qgetenv("TEMP")), saved_cache(qgetenv("XDG_CACHE_HOME")) {
    qputenv("TEMP", temp);
    qputenv("XDG_CACHE_HOME", cache);
  }
  ~Environment() {
    qputenv("TEMP", saved_temp);
    qputenv("XDG_CACHE_HOME", saved_cache);
  }
  QByteArray saved_temp;
  QByteArray saved_cache;
};

QStringList Entries(const QString& folder) {
  return QDir(folder).entryList(QDir::AllEntries | QDir::Hidden |
                                QDir::NoDotAndDotDot);
}

bool Chmod(const QString& path, mode_t mode) {
  return ::chmod(QFile::encodeName(path).constData(), mode) == 0;
}

bool GiveToNobody(const QString& path) {
  return ::lchown(QFile::encodeName(path).constData(), 65534, 65534) == 0;
}

}  // namespace

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

  // Only a folder where no other user can rename or replace entries holds
  // the converter; anything else gives way to the user's own folder.
  void UnsafeTempGivesWayToThePrivateFolder_data() {
    QTest::addColumn<int>("mode");
    QTest::addColumn<bool>("nobody_owns");
    QTest::addColumn<bool>("through_link");
    QTest::addColumn<bool>("used");
    QTest::newRow("private") << 0700 << false << false << true;
    QTest::newRow("shared with the sticky bit")
        << 01777 << false << false << true;
    QTest::newRow("writable by all") << 0777 << false << false << false;
    QTest::newRow("writable by the group") << 0770 << false << false << false;
    QTest::newRow("another user's") << 0755 << true << false << false;
    QTest::newRow("link to another user's open folder")
        << 0777 << true << true << false;
    QTest::newRow("link to a private folder") << 0700 << false << true << true;
  }
  void UnsafeTempGivesWayToThePrivateFolder() {
    QFETCH(int, mode);
    QFETCH(bool, nobody_owns);
    QFETCH(bool, through_link);
    QFETCH(bool, used);
    if (nobody_owns && ::geteuid() != 0) {
      QSKIP("giving a folder to another user needs root");
    }
    QTemporaryDir dir;
    QVERIFY(QDir(dir.path()).mkdir("temp"));
    const QString temp = dir.filePath("temp");
    QVERIFY(Chmod(temp, mode_t(mode)));
    if (nobody_owns) QVERIFY(GiveToNobody(temp));
    QString named = temp;
    if (through_link) {
      QVERIFY(QDir(dir.path()).mkdir("shared"));
      QVERIFY(Chmod(dir.filePath("shared"), 01777));
      named = dir.filePath("shared/link");
      QVERIFY(QFile::link(temp, named));
      if (nobody_owns) QVERIFY(GiveToNobody(named));
    }
    const Environment env(named.toUtf8(), dir.filePath("cache").toUtf8());
    WorkingFolder folder;
    const QString parent = QFileInfo(folder.Location()).path();
    QCOMPARE(parent, used ? named : dir.filePath("cache/brisklume"));
    QCOMPARE(Entries(temp).size(), used ? 1 : 0);
    if (!used) {
      QCOMPARE(QFileInfo(parent).permissions() & 0x0777,
               QFile::ReadUser | QFile::WriteUser | QFile::ExeUser);
    }
  }

  // When the user's own folder fails too, the report says why TEMP was not
  // used: it is the folder the user set.
  void RefusedTempIsExplained() {
    QTemporaryDir dir;
    QVERIFY(QDir(dir.path()).mkdir("temp"));
    QVERIFY(Chmod(dir.filePath("temp"), 0777));
    Save(dir.filePath("cache"), "not a folder");
    const Environment env(dir.filePath("temp").toUtf8(),
                          dir.filePath("cache").toUtf8());
    QString report;
    try {
      WorkingFolder folder;
    } catch (const Failure& failure) {
      report = failure.Description();
    }
    QCOMPARE(report, "Cannot create a working folder in " +
                         dir.filePath("cache/brisklume") +
                         ": Not a directory (" + dir.filePath("temp") +
                         " was not used: other users may rename or replace "
                         "what is in it)");
  }

  // Renaming the folder away and putting another in its place changes
  // nothing for the run: it reaches its own folder through a descriptor.
  void ReplacedFolderIsNeverUsed() {
    QTemporaryDir dir;
    const Environment env(dir.path().toUtf8(), dir.filePath("cache").toUtf8());
    WorkingFolder folder;
    QVERIFY(Save(folder.Path() + "/lumeconv", "ours"));
    QVERIFY(QDir().rename(folder.Location(), dir.filePath("moved")));
    QVERIFY(QDir().mkdir(folder.Location()));
    QVERIFY(Save(folder.Location() + "/lumeconv", "theirs"));
    QCOMPARE(Load(folder.Path() + "/lumeconv"), QByteArray("ours"));
  }

  // Only folders that a run of ours made and left are removed, and only
  // the files a run puts there: TEMP also holds the user's own folders,
  // named like ours or not, and another user's ended run.
  void OnlyWhatEndedRunsLeftIsRemoved_data() {
    QTest::addColumn<bool>("ordinary");  // run as uid 65534
    QTest::newRow("as root") << false;
    QTest::newRow("as an ordinary user") << true;
  }
  void OnlyWhatEndedRunsLeftIsRemoved() {
    QFETCH(bool, ordinary);
    QTemporaryDir dir;
    const Environment env(dir.path().toUtf8(), dir.filePath("cache").toUtf8());
    const QStringList decoys = {
        "brisklume-0.1.0/README.md", "brisklume-0.1.0/src/main.cpp",
        "brisklume-photos/holiday.png", "brisklume-abcdefghijkl/temp.png",
        "brisklume-ABCDEFGHIJKL/.brisklume-run"};
    for (const QString& decoy : decoys) {
      QVERIFY(QDir(dir.path()).mkpath(QFileInfo(decoy).path()));
      QVERIFY(Save(dir.filePath(decoy), decoy.toUtf8()));
    }
    // A run that ended without cleaning up, as a killed run does: the
    // child ends without dropping its folder.
    const auto end_run = [](bool with_notes) {
      return InChild([] { return QString(); },
                     [with_notes] {
                       auto* folder = new WorkingFolder;
                       Save(folder->Path() + "/temp.png", "x");
                       if (with_notes) {
                         Save(folder->Path() + "/notes.txt", "mine");
                       }
                       return folder->Location();
                     });
    };
    QString others;
    if (ordinary) {
      if (::geteuid() != 0) QSKIP("a second user needs root to set up");
      others = end_run(false);
      QDirIterator it(dir.path(),
                      QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot,
                      QDirIterator::Subdirectories);
      while (it.hasNext()) {
        const QString path = it.next();
        if (!path.startsWith(others)) QVERIFY(GiveToNobody(path));
      }
      QVERIFY(GiveToNobody(dir.path()));
    }
    const auto body = [&]() -> QString {
      // Two of this user's ended runs; into the first the user put a file.
      const QString with_notes = end_run(true);
      const QString ended = end_run(false);
      CHILD_CHECK(QFileInfo::exists(ended + "/temp.png"));
      WorkingFolder next;
      CHILD_CHECK(!QFileInfo::exists(ended));
      CHILD_CHECK(Entries(with_notes) == QStringList{"notes.txt"});
      for (const QString& decoy : decoys) {
        CHILD_CHECK(Load(dir.filePath(decoy)) == decoy.toUtf8());
      }
      return {};
    };
    QCOMPARE(ordinary ? AsOrdinaryUser(body) : body(), QString());
    if (ordinary) QVERIFY(QFileInfo::exists(others + "/temp.png"));
  }
};

QTEST_GUILESS_MAIN(WorkingFolderTest)
#include "working_folder_test.moc"
