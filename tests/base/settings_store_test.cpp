#include "base/settings_store.h"

#include <pwd.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>

#include "base/failure.h"
#include "support/as_ordinary_user.h"
#include "support/files.h"
#include "support/tmpfs_mount.h"

class SettingsStoreTest : public QObject {
  Q_OBJECT

 private slots:
  void IntegerConversion_data() {
    QTest::addColumn<QString>("text");
    QTest::addColumn<bool>("converts");
    QTest::addColumn<int>("value");
    QTest::newRow("plain") << "85" << true << 85;
    QTest::newRow("negative") << "-7" << true << -7;
    QTest::newRow("blanks around") << " 42 " << true << 42;
    QTest::newRow("fraction down") << "2.4" << true << 2;
    QTest::newRow("fraction up") << "2.6" << true << 3;
    QTest::newRow("half to even down") << "2.5" << true << 2;
    QTest::newRow("half to even up") << "3.5" << true << 4;
    QTest::newRow("negative half") << "-0.5" << true << 0;
    QTest::newRow("exponent") << "1e2" << true << 100;
    QTest::newRow("letters") << "abc" << false << 0;
    QTest::newRow("empty") << "" << false << 0;
    QTest::newRow("trailing junk") << "85%" << false << 0;
    QTest::newRow("not a number") << "nan" << false << 0;
    QTest::newRow("infinite") << "inf" << false << 0;
    QTest::newRow("too large") << "3000000000" << false << 0;
  }
  void IntegerConversion() {
    QFETCH(QString, text);
    QFETCH(bool, converts);
    QFETCH(int, value);
    if (converts) {
      QCOMPARE(TextToInteger(text), value);
    } else {
      QVERIFY_THROWS_EXCEPTION(Failure, TextToInteger(text));
    }
  }

  void BooleanConversion_data() {
    QTest::addColumn<QString>("text");
    QTest::addColumn<bool>("converts");
    QTest::addColumn<bool>("value");
    QTest::newRow("True") << "True" << true << true;
    QTest::newRow("False") << "False" << true << false;
    QTest::newRow("upper") << "TRUE" << true << true;
    QTest::newRow("lower") << "false" << true << false;
    QTest::newRow("one") << "1" << true << true;
    QTest::newRow("minus one") << "-1" << true << true;
    QTest::newRow("zero") << "0" << true << false;
    QTest::newRow("fraction") << "0.5" << true << true;
    QTest::newRow("yes") << "yes" << false << false;
    QTest::newRow("empty") << "" << false << false;
  }
  void BooleanConversion() {
    QFETCH(QString, text);
    QFETCH(bool, converts);
    QFETCH(bool, value);
    if (converts) {
      QCOMPARE(TextToBoolean(text), value);
    } else {
      QVERIFY_THROWS_EXCEPTION(Failure, TextToBoolean(text));
    }
  }

  void MissingKeyGivesDefaultAndWritesPersist() {
    QTemporaryDir dir;
    const SettingsStore store(dir.filePath("sub/Kestovar.ini"));
    QCOMPARE(store.Read("Slider1", "85"), QString("85"));
    store.Write("Slider1", "42");
    store.Write("Text2", "/a, b/c@d/");
    // A fresh store on the same file sees the values at once.
    const SettingsStore again(store.Path());
    QCOMPARE(again.Read("Slider1", "85"), QString("42"));
    QCOMPARE(again.Read("Text2", ""), QString("/a, b/c@d/"));
    QFile file(store.Path());
    QVERIFY(file.open(QIODevice::ReadOnly));
    const QByteArray ini = file.readAll();
    QVERIFY(ini.contains("[Brisklume]"));
    QVERIFY(ini.contains("Slider1=42"));
  }

  void UnusableStoreFails() {
    QTemporaryDir dir;
    QFile blocker(dir.filePath("not-a-folder"));
    QVERIFY(blocker.open(QIODevice::WriteOnly));
    blocker.close();
    const SettingsStore unwritable(dir.filePath("not-a-folder/Kestovar.ini"));
    QVERIFY_THROWS_EXCEPTION(Failure, unwritable.Write("Slider1", "1"));

    QVERIFY(QDir(dir.path()).mkdir("folder.ini"));
    const SettingsStore unreadable(dir.filePath("folder.ini"));
    QVERIFY_THROWS_EXCEPTION(Failure, unreadable.Read("Slider1", "85"));
  }

  void ReadOnlyStoreStillReads_data() {
    QTest::addColumn<bool>("file_read_only");
    QTest::newRow("read-only file") << true;
    QTest::newRow("read-only folder") << false;
  }
  // As an ordinary user: root may write anything.
  void ReadOnlyStoreStillReads() {
    QFETCH(bool, file_read_only);
    QCOMPARE(AsOrdinaryUser([&]() -> QString {
               QTemporaryDir dir;
               const SettingsStore store(dir.filePath("Kestovar.ini"));
               store.Write("Slider1", "42");
               QFile::setPermissions(file_read_only ? store.Path() : dir.path(),
                                     QFile::ReadOwner | QFile::ExeOwner);
               QString write_failure;
               try {
                 store.Write(file_read_only ? "Slider1" : "Text2", "7");
               } catch (const Failure& failure) {
                 write_failure = failure.Description();
               }
               // Told once per start: later writes change nothing quietly.
               bool told_again = false;
               try {
                 store.Write("Text2", "8");
               } catch (const Failure&) {
                 told_again = true;
               }
               QString read;
               try {
                 read = store.Read("Slider1", "85");
               } catch (const Failure& failure) {
                 read = failure.Description();
               }
               QFile::setPermissions(dir.path(), QFile::ReadOwner |
                                                     QFile::WriteOwner |
                                                     QFile::ExeOwner);
               CHILD_CHECK(write_failure.endsWith(": Permission denied."));
               CHILD_CHECK(!told_again);
               CHILD_CHECK(read == "42");
               return {};
             }),
             QString());
  }

  // Only a regular file of a sane size that reads as settings is used, and
  // what cannot be read is never written over.
  void StoresThatAreNotUsed_data() {
    QTest::addColumn<QByteArray>("content");
    QTest::addColumn<QString>("why");
    QTest::newRow("random bytes")
        << QByteArray("\x89\x01\xff garbage \x00 [[ = ]]\n\xfe", 23)
        << "it is damaged (line 1)";
    QTest::newRow("an unclosed section")
        << QByteArray("[Brisklume\nSlider1=42\n") << "it is damaged (line 1)";
    QTest::newRow("far too large")
        << "[Brisklume]\n" + QByteArray(2 << 20, ';')
        << "it holds 2097164 bytes, far more than any settings file";
    QTest::newRow("a link to a device")
        << QByteArray() << "it is not a regular file";
  }
  void StoresThatAreNotUsed() {
    QFETCH(QByteArray, content);
    QFETCH(QString, why);
    QTemporaryDir dir;
    const SettingsStore store(dir.filePath("Kestovar.ini"));
    if (content.isEmpty()) {
      // A device of our own: a mistake here must not hit one of the system's.
      if (::mknod(qPrintable(dir.filePath("device")), S_IFCHR | 0600,
                  makedev(1, 3)) != 0) {
        QSKIP("making a device node needs root");
      }
      QVERIFY(QFile::link(dir.filePath("device"), store.Path()));
    } else {
      QVERIFY(Save(store.Path(), content));
    }
    const QString prefix = "The settings store " + store.Path() + " cannot be ";
    QString read, written;
    try {
      store.Read("Slider1", "85");
    } catch (const Failure& failure) {
      read = failure.Description();
    }
    try {
      store.Write("Slider1", "7");
    } catch (const Failure& failure) {
      written = failure.Description();
    }
    QCOMPARE(read, prefix + "read: " + why + ".");
    QCOMPARE(written, prefix + "written: " + why + "; it was left as it is.");
    if (content.isEmpty()) {
      struct stat info {};
      QCOMPARE(::stat(qPrintable(dir.filePath("device")), &info), 0);
      QVERIFY(S_ISCHR(info.st_mode));
    } else {
      QCOMPARE(Load(store.Path()), content);
    }
  }

  // The configuration folder, else the home folder; without HOME, the home
  // the password database gives.
  void DefaultFileFollowsConfigurationFolder_data() {
    QTest::addColumn<bool>("config_set");
    QTest::addColumn<bool>("home_set");
    QTest::newRow("configuration folder") << true << true;
    QTest::newRow("home") << false << true;
    QTest::newRow("no HOME") << false << false;
  }
  void DefaultFileFollowsConfigurationFolder() {
    QFETCH(bool, config_set);
    QFETCH(bool, home_set);
    QTemporaryDir dir;
    const QByteArray saved_config = qgetenv("XDG_CONFIG_HOME");
    const QByteArray saved_home = qgetenv("HOME");
    qunsetenv("XDG_CONFIG_HOME");
    qunsetenv("HOME");
    if (config_set) qputenv("XDG_CONFIG_HOME", dir.path().toUtf8());
    if (home_set) qputenv("HOME", dir.path().toUtf8());
    const QString path = SettingsStore::DefaultPath();
    qputenv("XDG_CONFIG_HOME", saved_config);
    qputenv("HOME", saved_home);
    const passwd* user = ::getpwuid(::geteuid());
    QVERIFY(user);
    QCOMPARE(path, config_set ? dir.filePath("Kestovar.ini")
                   : home_set ? dir.filePath(".config/Kestovar.ini")
                              : QDir::cleanPath(QString(user->pw_dir) +
                                                "/.config/Kestovar.ini"));
  }

  // A byte-order mark, as Windows editors write one, is read past, and the
  // next save leaves it out.
  void ByteOrderMarkIsRead() {
    QTemporaryDir dir;
    const SettingsStore store(dir.filePath("Kestovar.ini"));
    QVERIFY(Save(store.Path(), "\xEF\xBB\xBF[Brisklume]\r\nSlider1=40\r\n"));
    QCOMPARE(store.Read("Slider1", "85"), QString("40"));
    store.Write("Option1", "True");
    QCOMPARE(store.Read("Slider1", "85"), QString("40"));
    QVERIFY(Load(store.Path()).startsWith("[Brisklume]"));
  }

  // A full file system is named as the reason a setting was not saved.
  void FullFileSystemIsTheReason() {
    TmpfsMount tmpfs("size=64k");
    if (!tmpfs.Ready()) QSKIP("mounting a tmpfs needs root");
    const SettingsStore store(tmpfs.Path() + "/Kestovar.ini");
    store.Write("Slider1", "40");
    Save(tmpfs.Path() + "/filler", QByteArray(64 << 10, 'x'));
    QString written;
    try {
      store.Write("Slider1", "41");
    } catch (const Failure& failure) {
      written = failure.Description();
    }
    QCOMPARE(written, "The settings store " + store.Path() +
                          " cannot be written: No space left on device.");
    QCOMPARE(Load(store.Path()), QByteArray("[Brisklume]\nSlider1=40\n"));
  }
};

QTEST_GUILESS_MAIN(SettingsStoreTest)
#include "settings_store_test.moc"
