#include <linux/filter.h>
#include <linux/seccomp.h>
#include <sys/file.h>
#include <sys/inotify.h>
#include <sys/prctl.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/xattr.h>

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>
#include <QTest>
#include <array>
#include <cstddef>

#include "base/failure.h"
#include "support/as_ordinary_user.h"
#include "support/fat_mount.h"
#include "support/files.h"
#include "util/file_queries.h"
#include "util/file_writers.h"
#include "util/path_strings.h"

namespace {

// In the calling process: fchmod fails from now on with `error`, as it does
// on FAT. Empty when the filter is in place.
QString RefuseFchmod(int error) {
  sock_filter filter[] = {
      BPF_STMT(BPF_LD | BPF_W | BPF_ABS, offsetof(seccomp_data, nr)),
      BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, __NR_fchmod, 0, 1),
      BPF_STMT(BPF_RET | BPF_K,
               SECCOMP_RET_ERRNO | (unsigned(error) & SECCOMP_RET_DATA)),
      BPF_STMT(BPF_RET | BPF_K, SECCOMP_RET_ALLOW),
  };
  const sock_fprog program{sizeof filter / sizeof filter[0], filter};
  if (::prctl(PR_SET_NO_NEW_PRIVS, 1, 0, 0, 0) != 0 ||
      ::prctl(PR_SET_SECCOMP, SECCOMP_MODE_FILTER, &program) != 0) {
    return "no seccomp filter";
  }
  return {};
}

// Copies a new file and over an older one into `folder`; empty when both
// arrive whole.
QString CopiesInto(const QString& folder) {
  QTemporaryDir source;
  Save(source.filePath("a.jpg"), "a result");
  Save(folder + "/old.jpg", "earlier");
  CopyFailure failure;
  CHILD_CHECK(
      ::CopyFileQuiet(source.filePath("a.jpg"), folder + "/new.jpg", &failure));
  CHILD_CHECK(
      ::CopyFileQuiet(source.filePath("a.jpg"), folder + "/old.jpg", &failure));
  CHILD_CHECK(Load(folder + "/new.jpg") == "a result");
  CHILD_CHECK(Load(folder + "/old.jpg") == "a result");
  CHILD_CHECK(QDir(folder).entryList(QDir::Files | QDir::Hidden).size() == 2);
  return {};
}

// A POSIX access list in the kernel's form: version 2, then tag,
// permissions and id for each entry.
QByteArray AccessList(std::initializer_list<std::array<quint32, 3>> entries) {
  QByteArray list;
  const auto put = [&list](quint32 value, int bytes) {
    for (int i = 0; i < bytes; ++i) list += char((value >> (8 * i)) & 0xff);
  };
  put(2, 4);
  for (const auto& entry : entries) {
    put(entry[0], 2);
    put(entry[1], 2);
    put(entry[2], 4);
  }
  return list;
}

constexpr quint32 kAnyone = 0xffffffff;
// user rw-, user nobody rw-, group r--, mask rw-, other r--: "ls" shows 664.
const QByteArray kNobodyMayWrite = AccessList({{0x01, 6, kAnyone},
                                               {0x02, 6, 65534},
                                               {0x04, 4, kAnyone},
                                               {0x10, 6, kAnyone},
                                               {0x20, 4, kAnyone}});

QByteArray Attribute(const QString& path, const char* name) {
  char value[256];
  const ssize_t n = ::getxattr(QFile::encodeName(path).constData(), name, value,
                               sizeof value);
  return n < 0 ? QByteArray() : QByteArray(value, int(n));
}

bool SetAttribute(const QString& path, const char* name,
                  const QByteArray& value) {
  return ::setxattr(QFile::encodeName(path).constData(), name, value.data(),
                    size_t(value.size()), 0) == 0;
}

}  // namespace

class PathHelpersTest : public QObject {
  Q_OBJECT

 private slots:
  void PathParts_data() {
    QTest::addColumn<QString>("path");
    QTest::addColumn<QString>("folder");
    QTest::addColumn<QString>("name");
    QTest::newRow("file in a folder") << "/dir/file.png"
                                      << "/dir/"
                                      << "file.png";
    QTest::newRow("file at the root") << "/file.png"
                                      << "/"
                                      << "file.png";
    QTest::newRow("bare name") << "file.png"
                               << ""
                               << "file.png";
    QTest::newRow("folder with separator") << "/dir/"
                                           << "/dir/"
                                           << "";
    QTest::newRow("empty") << ""
                           << ""
                           << "";
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
    QTest::newRow("plain") << "photo.png"
                           << "photo";
    QTest::newRow("two dots") << "a.b.png"
                              << "a.b";
    QTest::newRow("leading dot only") << ".png"
                                      << ".png";
    QTest::newRow("no dot") << "pic"
                            << "pic";
    QTest::newRow("empty") << ""
                           << "";
    QTest::newRow("trailing dot") << "pic."
                                  << "pic";
  }
  void StripExtension() {
    QFETCH(QString, name);
    QFETCH(QString, stripped);
    QCOMPARE(::StripExtension(name), stripped);
  }

  void CollapseBackslashes_data() {
    QTest::addColumn<QString>("path");
    QTest::addColumn<QString>("collapsed");
    QTest::newRow("doubled inside") << "/out//photo.jpg"
                                    << "/out/photo.jpg";
    QTest::newRow("one pass over three") << "/a///b"
                                         << "/a//b";
    QTest::newRow("four become two") << "/a////b"
                                     << "/a//b";
    QTest::newRow("network prefix kept") << "//server/share//x.jpg"
                                         << "//server/share/x.jpg";
    QTest::newRow("long leading run") << "////server/x"
                                      << "//server/x";
    QTest::newRow("single leading stays single") << "/dir//x.jpg"
                                                 << "/dir/x.jpg";
    QTest::newRow("separators only") << "/////"
                                     << "//";
    QTest::newRow("empty") << ""
                           << "";
    QTest::newRow("relative") << "a//b"
                              << "a/b";
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
        // Cut at the NUL, the path would name f.png.
        {dir.filePath("f.png") + QChar(0) + ".txt", false, false},
        {dir.path() + QChar(0) + "/x", false, false},
        {"", false, false},
    };
    for (const auto& c : cases) {
      QCOMPARE(IsFolder(c.path), c.folder);
      QCOMPARE(IsExistingFile(c.path), c.file);
    }
  }

  void DeleteFileQuiet_data() {
    QTest::addColumn<bool>("folder_writable");
    QTest::addColumn<bool>("exists");
    QTest::addColumn<bool>("removed");
    QTest::newRow("read-only file, writable folder") << true << true << true;
    QTest::newRow("file in a read-only folder") << false << true << false;
    QTest::newRow("missing file") << true << false << true;
  }
  // As an ordinary user: root deletes anything.
  void DeleteFileQuiet() {
    QFETCH(bool, folder_writable);
    QFETCH(bool, exists);
    QFETCH(bool, removed);
    QCOMPARE(AsOrdinaryUser([&]() -> QString {
               QTemporaryDir dir;
               const QString file = dir.filePath("locked.png");
               if (exists) Save(file, "x");
               QFile::setPermissions(file, QFile::ReadOwner);
               if (!folder_writable) {
                 QFile::setPermissions(dir.path(),
                                       QFile::ReadOwner | QFile::ExeOwner);
               }
               ::DeleteFileQuiet(file);
               const bool gone = !QFile::exists(file);
               const auto mode = QFile::permissions(file);
               QFile::setPermissions(dir.path(), QFile::ReadOwner |
                                                     QFile::WriteOwner |
                                                     QFile::ExeOwner);
               CHILD_CHECK(gone == removed);
               // A refused delete leaves the file as it was.
               CHILD_CHECK(gone || (mode & 0x7777) ==
                                       (QFile::ReadOwner | QFile::ReadUser));
               return {};
             }),
             QString());
  }

  void WriteBytesIfAbsent() {
    QTemporaryDir dir;
    const QString path = dir.filePath("tool");
    QVERIFY(::WriteBytesIfAbsent("first", path));
    QCOMPARE(Load(path), QByteArray("first"));
    QCOMPARE(QFile::permissions(path) & 0x0777,
             QFile::ReadUser | QFile::WriteUser);
    QVERIFY(!::WriteBytesIfAbsent("second", path));
    QCOMPARE(Load(path), QByteArray("first"));
    // A link planted at the path is neither followed nor taken for ours.
    QVERIFY(QFile::link(dir.filePath("elsewhere"), dir.filePath("planted")));
    QVERIFY(!::WriteBytesIfAbsent("x", dir.filePath("planted")));
    QVERIFY(!QFile::exists(dir.filePath("elsewhere")));
    QVERIFY_THROWS_EXCEPTION(
        Failure,
        ::WriteBytesIfAbsent("x", dir.filePath("no/such/folder/tool")));
  }

  void CopyAcrossFileSystems_data() {
    QTest::addColumn<qsizetype>("size");
    QTest::addColumn<bool>("to_memory");
    for (const qsizetype size :
         {qsizetype(0), qsizetype(5), qsizetype(3 * 1024 * 1024 + 7)}) {
      const QByteArray name = QByteArray::number(size) + " bytes";
      QTest::newRow(name + " to tmpfs") << size << true;
      QTest::newRow(name + " from tmpfs") << size << false;
    }
  }
  void CopyAcrossFileSystems() {
    QFETCH(qsizetype, size);
    QFETCH(bool, to_memory);
    QTemporaryDir disk;
    QTemporaryDir memory("/dev/shm/path-helpers-test-XXXXXX");
    if (!memory.isValid() ||
        IdentityOf(disk.path())->device == IdentityOf(memory.path())->device) {
      QSKIP("no second file system: /dev/shm is missing or not a tmpfs");
    }
    const QString from = (to_memory ? disk : memory).filePath("source.png");
    const QString to = (to_memory ? memory : disk).filePath("result.jpg");
    QByteArray bytes(size, Qt::Uninitialized);
    for (qsizetype i = 0; i < size; ++i) bytes[i] = char(i * 7 + i / 4096);
    Save(from, bytes);
    Save(to, "a private older result");
    QFile::setPermissions(to, QFile::ReadOwner | QFile::WriteOwner);
    QVERIFY(::CopyFileQuiet(from, to));
    QCOMPARE(Load(to), bytes);
    QCOMPARE(QFile::permissions(to) & 0x0777,
             QFile::ReadUser | QFile::WriteUser);
    // A new file gets what the umask allows.
    const mode_t mask = ::umask(027);
    const QString fresh = QFileInfo(to).path() + "/fresh.jpg";
    QVERIFY(::CopyFileQuiet(from, fresh));
    ::umask(mask);
    struct stat info {};
    QCOMPARE(::stat(QFile::encodeName(fresh).constData(), &info), 0);
    QCOMPARE(info.st_mode & 0777, mode_t(0640));
  }

  // A replaced file's access list and user attributes stay, and a folder's
  // default list never widens a file that had none; on disk and on tmpfs.
  void ReplacedFileKeepsItsSecurity_data() {
    QTest::addColumn<QString>("place");
    QTest::addColumn<bool>("listed");    // the old file has an access list
    QTest::addColumn<bool>("ordinary");  // done as uid 65534
    QTest::newRow("disk, access list") << QDir::tempPath() << true << false;
    QTest::newRow("tmpfs, access list") << "/dev/shm" << true << false;
    QTest::newRow("tmpfs, access list, ordinary user")
        << "/dev/shm" << true << true;
    QTest::newRow("disk, default list of the folder")
        << QDir::tempPath() << false << false;
  }
  void ReplacedFileKeepsItsSecurity() {
    QFETCH(QString, place);
    QFETCH(bool, listed);
    QFETCH(bool, ordinary);
    QTemporaryDir dir(place + "/path-helpers-test-XXXXXX");
    if (!SetAttribute(dir.path(), "user.probe", "x") ||
        !SetAttribute(dir.path(), "system.posix_acl_default",
                      kNobodyMayWrite)) {
      QSKIP("no access lists or user attributes here");
    }
    ::removexattr(QFile::encodeName(dir.path()).constData(),
                  "system.posix_acl_default");
    if (ordinary &&
        ::chown(QFile::encodeName(dir.path()).constData(), 65534, 65534) != 0) {
      QSKIP("handing a folder to another user needs root");
    }
    const auto replace = [&]() -> QString {
      const QString old = dir.filePath("old.jpg");
      CHILD_CHECK(Save(old, "earlier"));
      CHILD_CHECK(
          QFile::setPermissions(old, QFile::ReadOwner | QFile::WriteOwner));
      if (listed) {
        CHILD_CHECK(
            SetAttribute(old, "system.posix_acl_access", kNobodyMayWrite));
        CHILD_CHECK(SetAttribute(old, "user.origin", "camera"));
      } else {
        CHILD_CHECK(SetAttribute(dir.path(), "system.posix_acl_default",
                                 kNobodyMayWrite));
      }
      struct stat before {};
      CHILD_CHECK(::stat(QFile::encodeName(old).constData(), &before) == 0);
      CHILD_CHECK(Save(dir.filePath("a.jpg"), "a result"));
      CopyFailure failure;
      CHILD_CHECK(::CopyFileQuiet(dir.filePath("a.jpg"), old, &failure));
      CHILD_CHECK(Load(old) == "a result");
      struct stat after {};
      CHILD_CHECK(::stat(QFile::encodeName(old).constData(), &after) == 0);
      CHILD_CHECK(after.st_mode == before.st_mode);
      CHILD_CHECK(Attribute(old, "system.posix_acl_access") ==
                  (listed ? kNobodyMayWrite : QByteArray()));
      CHILD_CHECK(Attribute(old, "user.origin") ==
                  (listed ? QByteArray("camera") : QByteArray()));
      return {};
    };
    QCOMPARE(ordinary ? AsOrdinaryUser(replace) : replace(), QString());
  }

  // Copies that killed runs left are removed by the next delivery into the
  // folder; what merely looks like one stays.
  void AbandonedCopiesAreRemoved() {
    QTemporaryDir dir;
    const QByteArray jpeg("\xff\xd8\xff\xe0 half a result");
    QVERIFY(Save(dir.filePath(".brisklume-Ab12cd"), jpeg));
    const QStringList kept = {".brisklume-notes", ".brisklume-Xy34zz",
                              ".brisklume-Locked", ".Brisklume-Ab12cd",
                              "brisklume-Ab12cd"};
    for (const QString& name : kept) {
      QVERIFY(Save(dir.filePath(name),
                   name == ".brisklume-Xy34zz" ? "notes" : jpeg));
    }
    QFile locked(dir.filePath(".brisklume-Locked"));
    QVERIFY(locked.open(QIODevice::ReadOnly));
    QVERIFY(::flock(locked.handle(), LOCK_EX) == 0);
    RemoveAbandonedResults(dir.path());
    QStringList left = QDir(dir.path()).entryList(QDir::Files | QDir::Hidden);
    QStringList expected = kept;
    left.sort();
    expected.sort();
    QCOMPARE(left, expected);
  }

  void OnlyRegularFilesAreCopied() {
    QTemporaryDir dir;
    const QString fifo = dir.filePath("x.png");
    QCOMPARE(::mkfifo(QFile::encodeName(fifo).constData(), 0600), 0);
    QDir(dir.path()).mkdir("out");
    // Returns at once: opening a FIFO the ordinary way waits for a writer.
    QVERIFY(!::CopyFileQuiet(fifo, dir.filePath("out/x.jpg")));
    ::CopyFileChecked(fifo, dir.filePath("out/x.jpg"));
    QCOMPARE(FileProblem(fifo), QString("it is not a regular file"));
    QCOMPARE(FileProblem(dir.filePath("gone.png")),
             QString("the file is missing"));
    QCOMPARE(FileProblem(dir.path()), QString("it is not a regular file"));
    QVERIFY(
        QDir(dir.filePath("out"))
            .isEmpty(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot));
  }

  // A USB stick holds no modes: setting one fails there, and the copy must
  // not fail with it.
  void CopiesOntoFat_data() {
    QTest::addColumn<int>("error");
    QTest::newRow("a FAT file system") << 0;
    QTest::newRow("modes refused with EPERM") << EPERM;
    QTest::newRow("modes refused with ENOSYS") << ENOSYS;
  }
  void CopiesOntoFat() {
    QFETCH(int, error);
    if (error == 0) {
      FatMount fat;
      if (!fat.Ready()) QSKIP("fusefat cannot mount here");
      QCOMPARE(CopiesInto(fat.Path()), QString());
      return;
    }
    QTemporaryDir dir;
    QCOMPARE(InChild([&] { return RefuseFchmod(error); },
                     [&] { return CopiesInto(dir.path()); }),
             QString());
  }

  // Only a regular file is ever opened: opening a device acts on it (a
  // watchdog arms, a serial line toggles) and a FIFO may wait for ever.
  void SpecialFilesAreNeverOpened() {
    QTemporaryDir dir;
    const QString fifo = dir.filePath("x.png");
    QCOMPARE(::mkfifo(QFile::encodeName(fifo).constData(), 0600), 0);
    const int watch = ::inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
    QVERIFY(::inotify_add_watch(watch, QFile::encodeName(fifo).constData(),
                                IN_OPEN) >= 0);
    QCOMPARE(FileProblem(fifo), QString("it is not a regular file"));
    CopyFailure failure;
    QVERIFY(!::CopyFileQuiet(fifo, dir.filePath("x.jpg"), &failure));
    QCOMPARE(failure.side, CopyFailure::Side::kSource);
    char events[4096];
    const ssize_t read = ::read(watch, events, sizeof events);
    ::close(watch);
    QCOMPARE(read, ssize_t(-1));
  }

  void ReadOnlyDestinationIsRefused_data() {
    QTest::addColumn<bool>("file_read_only");
    QTest::newRow("read-only file") << true;
    QTest::newRow("read-only folder") << false;
  }
  // As an ordinary user: root may write anything.
  void ReadOnlyDestinationIsRefused() {
    QFETCH(bool, file_read_only);
    QCOMPARE(
        AsOrdinaryUser([&]() -> QString {
          QTemporaryDir dir;
          Save(dir.filePath("src.png"), "source");
          QDir(dir.path()).mkdir("out");
          const QString target = dir.filePath("out/old.jpg");
          Save(target, "earlier");
          QFile::setPermissions(file_read_only ? target : dir.filePath("out"),
                                QFile::ReadOwner | QFile::ExeOwner);
          CopyFailure failure;
          const bool copied =
              ::CopyFileQuiet(dir.filePath("src.png"), target, &failure);
          const QStringList left =
              QDir(dir.filePath("out")).entryList(QDir::Files | QDir::Hidden);
          QFile::setPermissions(dir.filePath("out"), QFile::ReadOwner |
                                                         QFile::WriteOwner |
                                                         QFile::ExeOwner);
          CHILD_CHECK(!copied);
          CHILD_CHECK(failure.reason == "Permission denied");
          CHILD_CHECK(Load(target) == "earlier");
          CHILD_CHECK(left == QStringList{"old.jpg"});
          return {};
        }),
        QString());
  }

  void CopyFileChecked_data() {
    QTest::addColumn<QString>("source");
    QTest::addColumn<QString>("destination");
    QTest::addColumn<QByteArray>("result");
    QTest::newRow("into a folder") << "src.png"
                                   << "out/new.jpg" << QByteArray("source");
    QTest::newRow("replaces a file") << "src.png"
                                     << "out/old.jpg" << QByteArray("source");
    QTest::newRow("doubled separators")
        << "src.png"
        << "out//old.jpg" << QByteArray("source");
    QTest::newRow("missing folder") << "src.png"
                                    << "nowhere/new.jpg" << QByteArray();
    QTest::newRow("missing source") << "gone.png"
                                    << "out/old.jpg" << QByteArray("earlier");
    QTest::newRow("no file named like the pattern")
        << "*.png"
        << "out/old.jpg" << QByteArray("earlier");
    QTest::newRow("wildcards are ordinary characters")
        << "a?b*.png"
        << "out/old.jpg" << QByteArray("wild");
    QTest::newRow("longest name the file system takes")
        << "src.png"
        << "out/" + QString(251, 'n') + ".jpg" << QByteArray("source");
    QTest::newRow("blank destination") << "src.png"
                                       << " " << QByteArray();
  }
  void CopyFileChecked() {
    QFETCH(QString, source);
    QFETCH(QString, destination);
    QFETCH(QByteArray, result);
    QTemporaryDir dir;
    Save(dir.filePath("src.png"), "source");
    Save(dir.filePath("a?b*.png"), "wild");
    QDir(dir.path()).mkdir("out");
    Save(dir.filePath("out/old.jpg"), "earlier");
    const QString target = destination.trimmed().isEmpty()
                               ? destination
                               : dir.filePath(destination);
    ::CopyFileChecked(dir.filePath(source), target);
    QCOMPARE(Load(::CollapseBackslashes(target)), result);
    // No temporary copy is left behind.
    QCOMPARE(
        QDir(dir.filePath("out")).entryList({".*"}, QDir::Files | QDir::Hidden),
        QStringList{});
  }
};

QTEST_GUILESS_MAIN(PathHelpersTest)
#include "path_helpers_test.moc"
