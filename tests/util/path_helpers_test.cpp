#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>

#include "app/failure.h"
#include "filelist/is_existing_file.h"
#include "support/test_main.h"
#include "util/path_helpers.h"

namespace {

void Save(const QString& path, const QByteArray& bytes) {
  QFile file(path);
  QVERIFY(file.open(QIODevice::WriteOnly));
  file.write(bytes);
}

QByteArray Load(const QString& path) {
  QFile file(path);
  return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("<none>");
}

}  // namespace

class PathHelpersTest : public QObject {
  Q_OBJECT

 private slots:
  void PathParts_data() {
    QTest::addColumn<QString>("path");
    QTest::addColumn<QString>("folder");
    QTest::addColumn<QString>("name");
    QTest::newRow("file in a folder") << "/dir/file.png" << "/dir/" << "file.png";
    QTest::newRow("file at the root") << "/file.png" << "/" << "file.png";
    QTest::newRow("bare name") << "file.png" << "" << "file.png";
    QTest::newRow("folder with separator") << "/dir/" << "/dir/" << "";
    QTest::newRow("empty") << "" << "" << "";
    const QString deep = "/" + QString(40000, 'd') + "/x.png";
    QTest::newRow("longer than 32767") << deep << deep.chopped(5) << "x.png";
  }
  void PathParts() {
    QFETCH(QString, path);
    QFETCH(QString, folder);
    QFETCH(QString, name);
    QCOMPARE(FolderPart(path), folder);
    QCOMPARE(FileNamePart(path), name);
  }

  void StripExtension_data() {
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("stripped");
    QTest::newRow("plain") << "photo.png" << "photo";
    QTest::newRow("two dots") << "a.b.png" << "a.b";
    QTest::newRow("leading dot only") << ".png" << ".png";
    QTest::newRow("no dot") << "pic" << "pic";
    QTest::newRow("empty") << "" << "";
    QTest::newRow("trailing dot") << "pic." << "pic";
  }
  void StripExtension() {
    QFETCH(QString, name);
    QFETCH(QString, stripped);
    QCOMPARE(::StripExtension(name), stripped);
  }

  void CollapseBackslashes_data() {
    QTest::addColumn<QString>("path");
    QTest::addColumn<QString>("collapsed");
    QTest::newRow("doubled inside") << "/out//photo.jpg" << "/out/photo.jpg";
    QTest::newRow("one pass over three") << "/a///b" << "/a//b";
    QTest::newRow("four become two") << "/a////b" << "/a//b";
    QTest::newRow("network prefix kept") << "//server/share//x.jpg"
                                         << "//server/share/x.jpg";
    QTest::newRow("long leading run") << "////server/x" << "//server/x";
    QTest::newRow("single leading stays single") << "/dir//x.jpg"
                                                 << "/dir/x.jpg";
    QTest::newRow("separators only") << "/////" << "//";
    QTest::newRow("empty") << "" << "";
    QTest::newRow("relative") << "a//b" << "a/b";
  }
  void CollapseBackslashes() {
    QFETCH(QString, path);
    QFETCH(QString, collapsed);
    QCOMPARE(::CollapseBackslashes(path), collapsed);
  }

  void FolderAndFileTests() {
    QTemporaryDir dir;
    Save(dir.filePath("f.png"), "x");
    Save(dir.filePath("näme ü 日本.png"), "x");
    const struct {
      QString path;
      bool folder;
      bool file;
    } cases[] = {
        {dir.path(), true, false},
        {dir.path() + "/", true, false},
        {dir.filePath("f.png"), false, true},
        {dir.filePath("näme ü 日本.png"), false, true},
        {dir.filePath("missing.png"), false, false},
        {dir.filePath("*.png"), false, false},
        {"", false, false},
    };
    for (const auto& c : cases) {
      QCOMPARE(IsFolder(c.path), c.folder);
      QCOMPARE(IsExistingFile(c.path), c.file);
    }
  }

  void DeleteFileQuiet() {
    QTemporaryDir dir;
    const QString locked = dir.filePath("locked.png");
    Save(locked, "x");
    QFile::setPermissions(locked, QFile::ReadOwner);
    ::DeleteFileQuiet(locked);
    QVERIFY(!QFile::exists(locked));
    ::DeleteFileQuiet(dir.filePath("never-there.png"));
  }

  void WriteBytesIfAbsent() {
    QTemporaryDir dir;
    const QString path = dir.filePath("tool");
    ::WriteBytesIfAbsent("first", path);
    QCOMPARE(Load(path), QByteArray("first"));
    ::WriteBytesIfAbsent("second", path);
    QCOMPARE(Load(path), QByteArray("first"));
    QVERIFY_THROWS_EXCEPTION(
        Failure, ::WriteBytesIfAbsent("x", dir.filePath("no/such/folder/tool")));
  }

  void CopyFileChecked_data() {
    QTest::addColumn<QString>("source");
    QTest::addColumn<QString>("destination");
    QTest::addColumn<QByteArray>("result");
    QTest::newRow("into a folder") << "src.png" << "out/new.jpg" << QByteArray("source");
    QTest::newRow("replaces a file") << "src.png" << "out/old.jpg"
                                     << QByteArray("source");
    QTest::newRow("doubled separators") << "src.png" << "out//old.jpg"
                                        << QByteArray("source");
    QTest::newRow("missing folder") << "src.png" << "nowhere/new.jpg"
                                    << QByteArray("<none>");
    QTest::newRow("missing source") << "gone.png" << "out/old.jpg"
                                    << QByteArray("earlier");
    QTest::newRow("pattern source") << "*.png" << "out/old.jpg"
                                    << QByteArray("earlier");
    QTest::newRow("blank destination") << "src.png" << " " << QByteArray("<none>");
  }
  void CopyFileChecked() {
    QFETCH(QString, source);
    QFETCH(QString, destination);
    QFETCH(QByteArray, result);
    QTemporaryDir dir;
    Save(dir.filePath("src.png"), "source");
    QDir(dir.path()).mkdir("out");
    Save(dir.filePath("out/old.jpg"), "earlier");
    const QString target =
        destination.trimmed().isEmpty() ? destination : dir.filePath(destination);
    ::CopyFileChecked(dir.filePath(source), target);
    QCOMPARE(Load(::CollapseBackslashes(target)), result);
    QStringList left = QDir(dir.filePath("out")).entryList(
        QDir::Files | QDir::Hidden);
    left.removeAll("new.jpg");
    QCOMPARE(left, QStringList{"old.jpg"});  // no temporary copy left behind
  }
};

BRISKLUME_TEST_CLASS(PathHelpersTest);
#include "path_helpers_test.moc"
