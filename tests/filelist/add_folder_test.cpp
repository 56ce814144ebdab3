#include "filelist/add_folder.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QDir>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QMimeData>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>
#include <QTreeWidget>
#include <QUrl>

#include "filelist/file_list.h"
#include "support/as_ordinary_user.h"
#include "support/controls.h"
#include "support/fake_dialogs.h"
#include "support/files.h"
#include "support/form_harness.h"
#include "util/path_strings.h"

namespace {

// Makes the files and folders named (a name ending in "/" is a folder).
void Make(const QString& root, const QStringList& entries) {
  for (const QString& entry : entries) {
    if (entry.endsWith('/')) {
      QDir(root).mkpath(entry);
    } else {
      QDir(root).mkpath(QFileInfo(entry).path());
      Save(root + "/" + entry, "x");
    }
  }
}

// The rows, each without the tree's own folder in front.
QStringList Relative(const QStringList& rows, const QString& root) {
  QStringList relative;
  for (const QString& row : rows) relative << row.mid(root.size() + 1);
  return relative;
}

// True when the rows come folder by folder, each folder's rows together and
// no folder before a shallower one: the walk is breadth first.
bool BreadthFirst(const QStringList& relative) {
  QStringList folders;
  for (const QString& row : relative) {
    const QString folder = QFileInfo(row).path();
    if (folders.isEmpty() || folders.last() != folder) {
      if (folders.contains(folder)) return false;
      if (!folders.isEmpty() && folders.last().count('/') > folder.count('/')) {
        return false;
      }
      folders << folder;
    }
  }
  return true;
}

QStringList Sorted(QStringList list) {
  list.sort();
  return list;
}

void SendDrop(QWidget* viewport, QMimeData* data, bool* accepted) {
  QDragEnterEvent enter(QPoint(5, 5), Qt::CopyAction, data, Qt::LeftButton,
                        Qt::NoModifier);
  QCoreApplication::sendEvent(viewport, &enter);
  *accepted = enter.isAccepted() && enter.dropAction() != Qt::IgnoreAction;
  QDropEvent drop(QPointF(5, 5), Qt::CopyAction, data, Qt::LeftButton,
                  Qt::NoModifier);
  QCoreApplication::sendEvent(viewport, &drop);
}

}  // namespace

class AddFolderTest : public QObject {
  Q_OBJECT

 private slots:
  // A holds B and C, B holds D; hidden folders are walked, names that begin
  // with "~", other types and hidden files are left out.
  void AddsTheTreeBreadthFirst() {
    FormHarness harness;
    Form1& form = harness.Load();
    QTemporaryDir tree;
    Make(tree.path(),
         {"A/a.png", "A/b.PNG", "A/~temp.png", "A/c.txt", "A/.hidden.png",
          "A/B/b1.png", "A/B/D/d.png", "A/C/c.png", "A/.H/h.png", "A/empty/"});
    const QString a = tree.filePath("A");
    harness.dialogs.folder_answers << a;
    Controls(form).PushButton3->click();
    const QStringList rows = Relative(Rows(form.Files()), a);
    QCOMPARE(Sorted(rows), Sorted({"a.png", "b.PNG", "B/b1.png", "C/c.png",
                                   ".H/h.png", "B/D/d.png"}));
    QVERIFY2(BreadthFirst(rows), qPrintable(rows.join(' ')));
    QVERIFY(rows.indexOf("B/D/d.png") == rows.size() - 1);
    QCOMPARE(harness.dialogs.browse_requests,
             QStringList{"Please select folder:|"});
    QCOMPARE(harness.store.Read("LastFolder", "-"), a);
    QCOMPARE(form.Pointer().Get(), WindowPointer::State::kDefault);
    QVERIFY(harness.dialogs.messages.isEmpty());

    // The next press opens at the folder chosen last; a second run of the
    // same folder lists every file again.
    harness.dialogs.folder_answers << a;
    Controls(form).PushButton3->click();
    QCOMPARE(harness.dialogs.browse_requests.last(),
             "Please select folder:|" + a);
    QCOMPARE(form.Files().Count(), 12);
  }

  void CancelChangesNothing() {
    FormHarness harness;
    Form1& form = harness.Load();
    harness.store.Write("LastFolder", "/srv/photos");
    form.Files().Append("/kept.png");
    Controls(form).PushButton3->click();
    QCOMPARE(Rows(form.Files()), QStringList{"/kept.png"});
    QCOMPARE(harness.store.Read("LastFolder", "-"), QString("/srv/photos"));
    QCOMPARE(harness.dialogs.browse_requests,
             QStringList{"Please select folder:|/srv/photos"});
  }

  // A link to a folder may lead anywhere (the root, /proc, a sibling): it
  // is never walked. A chosen folder that is itself a link is walked once.
  void LinksToFoldersAreNotWalked_data() {
    QTest::addColumn<QString>("chosen");
    QTest::addColumn<QStringList>("rows");
    QTest::newRow("links inside") << "A" << QStringList{"a.png", "B/b.png"};
    QTest::newRow("the chosen folder is a link")
        << "L" << QStringList{"a.png", "B/b.png"};
  }
  void LinksToFoldersAreNotWalked() {
    QFETCH(QString, chosen);
    QFETCH(QStringList, rows);
    FormHarness harness;
    Form1& form = harness.Load();
    QTemporaryDir tree;
    Make(tree.path(), {"A/a.png", "A/B/b.png", "S/s.png"});
    QVERIFY(QFile::link(tree.filePath("A"), tree.filePath("A/B/up")));
    QVERIFY(QFile::link(tree.filePath("S"), tree.filePath("A/sibling")));
    QVERIFY(QFile::link("/", tree.filePath("A/root")));
    QVERIFY(QFile::link(tree.filePath("A"), tree.filePath("L")));
    harness.dialogs.folder_answers << tree.filePath(chosen);
    Controls(form).PushButton3->click();
    QCOMPARE(Sorted(Relative(Rows(form.Files()), tree.filePath(chosen))),
             Sorted(rows));
  }

  // Each level lists its folders once: a chain of 1500 folders took over a
  // minute when every level looked again at all those below it.
  void DeepChainIsQuick() {
    QTemporaryDir tree;
    QString deepest = tree.filePath("A");
    for (int level = 0; level < 1500; ++level) deepest += "/d";
    QVERIFY(QDir().mkpath(deepest));
    Save(deepest + "/deep.png", "x");
    FakeDialogs dialogs;
    QStringList collection{tree.filePath("A") + "/"};
    QElapsedTimer timer;
    timer.start();
    GetSubDirectories2016(collection, true, dialogs);
    QVERIFY2(timer.elapsed() < 3000,
             qPrintable(QString("%1 ms").arg(timer.elapsed())));
    QCOMPARE(collection.size(), 1501);
    QCOMPARE(collection.last(), deepest + "/");
  }

  // Stored names that are not valid text read as text with replacement
  // characters, where they would name another file or none: they are
  // passed over, files and folders alike. A valid name that holds the
  // replacement character is queued once.
  void NamesThatAreNotText() {
    FormHarness harness;
    Form1& form = harness.Load();
    QTemporaryDir tree;
    Make(tree.path(), {"A/ok.png"});
    const QByteArray a = QFile::encodeName(tree.filePath("A")) + "/";
    const QByteArray made[] = {"bad\xff\xfe.png",
                               "bad\xef\xbf\xbd\xef\xbf\xbd.png", "caf\xe9.png",
                               "sub\xff/in.png"};
    QVERIFY(::mkdir((a + "sub\xff").constData(), 0755) == 0);
    for (const QByteArray& name : made) {
      QVERIFY(::close(::creat((a + name).constData(), 0644)) == 0);
    }
    harness.dialogs.folder_answers << tree.filePath("A");
    Controls(form).PushButton3->click();
    const QStringList rows = Relative(Rows(form.Files()), tree.filePath("A"));
    // Removed by their bytes: the names are not text.
    for (const QByteArray& name : made) ::unlink((a + name).constData());
    ::rmdir((a + "sub\xff").constData());
    QCOMPARE(Sorted(rows), Sorted({"ok.png", QString("bad") + QChar(0xFFFD) +
                                                 QChar(0xFFFD) + ".png"}));
  }

  // As an ordinary user: root may list any folder. A folder that may not
  // be listed is left out silently; so is the chosen one itself.
  void FoldersThatMayNotBeListed_data() {
    QTest::addColumn<QString>("locked");
    QTest::addColumn<int>("permissions");
    QTest::addColumn<QStringList>("rows");
    const int write_only = QFile::WriteOwner;
    const int no_search = QFile::ReadOwner | QFile::WriteOwner;
    QTest::newRow("a subfolder")
        << "A/locked" << write_only << QStringList{"x.png", "open/z.png"};
    QTest::newRow("the chosen folder") << "A" << write_only << QStringList{};
    // Its names can be listed, but none of its files opened.
    QTest::newRow("a subfolder that may be read, not searched")
        << "A/locked" << no_search << QStringList{"x.png", "open/z.png"};
  }
  void FoldersThatMayNotBeListed() {
    QFETCH(QString, locked);
    QFETCH(int, permissions);
    QFETCH(QStringList, rows);
    QCOMPARE(AsOrdinaryUser([&]() -> QString {
               FormHarness harness;
               Form1& form = harness.Load();
               QTemporaryDir tree;
               Make(tree.path(), {"A/x.png", "A/locked/y.png", "A/open/z.png"});
               QFile::setPermissions(tree.filePath(locked),
                                     QFile::Permissions(permissions));
               harness.dialogs.folder_answers << tree.filePath("A");
               Controls(form).PushButton3->click();
               const QStringList found =
                   Relative(Rows(form.Files()), tree.filePath("A"));
               QFile::setPermissions(
                   tree.filePath(locked),
                   QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
               CHILD_CHECK(Sorted(found) == Sorted(rows));
               CHILD_CHECK(harness.dialogs.messages.isEmpty());
               return {};
             }),
             QString());
  }

  // As an ordinary user: only a hidden file the user may write counts as
  // exactly hidden and archive.
  void HiddenFiles_data() {
    QTest::addColumn<QString>("name");
    QTest::addColumn<bool>("read_only");
    QTest::addColumn<bool>("added");
    QTest::newRow("hidden") << ".h.png" << false << false;
    QTest::newRow("hidden and read-only") << ".r.png" << true << true;
    QTest::newRow("read-only") << "r.png" << true << true;
  }
  void HiddenFiles() {
    QFETCH(QString, name);
    QFETCH(bool, read_only);
    QFETCH(bool, added);
    QCOMPARE(AsOrdinaryUser([&]() -> QString {
               FormHarness harness;
               Form1& form = harness.Load();
               QTemporaryDir tree;
               Make(tree.path(), {"A/" + name});
               if (read_only) {
                 QFile::setPermissions(tree.filePath("A/" + name),
                                       QFile::ReadOwner);
               }
               harness.dialogs.folder_answers << tree.filePath("A");
               Controls(form).PushButton3->click();
               CHILD_CHECK((form.Files().Count() == 1) == added);
               return {};
             }),
             QString());
  }

  void Joining_data() {
    QTest::addColumn<QString>("folder");
    QTest::addColumn<QString>("entry");
    QTest::addColumn<QString>("joined");
    QTest::newRow("the root") << "/"
                              << "/"
                              << "/a.png";
    QTest::newRow("a folder") << "/srv"
                              << "/srv/"
                              << "/srv/a.png";
    QTest::newRow("with its separator") << "/srv/"
                                        << "/srv/"
                                        << "/srv/a.png";
  }
  void Joining() {
    QFETCH(QString, folder);
    QFETCH(QString, entry);
    QFETCH(QString, joined);
    QCOMPARE(CollectionEntry(folder), entry);
    QCOMPARE(JoinPath(folder, "a.png"), joined);
  }

  void Patterns_data() {
    QTest::addColumn<QString>("pattern");
    QTest::addColumn<QStringList>("names");
    QTest::newRow("png without regard to case, whole names")
        << "*.png" << QStringList{"a.png", "b.PNG"};
    QTest::newRow("every file, also without a dot")
        << "*.*" << QStringList{"a.png",  "b.PNG",     "notes.txt",
                                "readme", "x.png.txt", "y.png.bak"};
  }
  void Patterns() {
    QFETCH(QString, pattern);
    QFETCH(QStringList, names);
    QTemporaryDir dir;
    Make(dir.path(), {"a.png", "b.PNG", "notes.txt", "readme", "sub.png/",
                      "x.png.txt", "y.png.bak"});
    QCOMPARE(Sorted(ListFilesInFolder(dir.path(), pattern)), names);
  }

  void UnsafeNames_data() {
    QTest::addColumn<QString>("name");
    QTest::addColumn<bool>("unsafe");
    QTest::newRow("plain") << "Photos 2024" << false;
    QTest::newRow("curly apostrophe and dash") << "Ann’s – trip" << false;
    QTest::newRow("letters beyond ASCII") << "Ürlaub 日本" << false;
    QTest::newRow("question mark") << "what?" << true;
    QTest::newRow("control character") << "a\tb" << true;
    QTest::newRow("C1 control") << QString("a") + QChar(0x85) << true;
    QTest::newRow("empty") << "" << false;
  }
  void UnsafeNames() {
    QFETCH(QString, name);
    QFETCH(bool, unsafe);
    QCOMPARE(HasUnsafeChars(name), unsafe);
  }

  // Files dropped as they are, folders walked for files of every type.
  void Drops_data() {
    QTest::addColumn<QStringList>("dropped");
    QTest::addColumn<QStringList>("rows");
    QTest::newRow("three files")
        << QStringList{"F/~x.png", "F/notes.txt", "F/gone.png"}
        << QStringList{"F/~x.png", "F/notes.txt", "F/gone.png"};
    QTest::newRow("a folder")
        << QStringList{"D"}
        << QStringList{"D/a.png", "D/b.jpg", "D/notes.txt", "D/readme",
                       "D/S/s.png"};
    QTest::newRow("a folder, then a file")
        << QStringList{"D", "F/notes.txt"}
        << QStringList{"D/a.png",  "D/b.jpg",   "D/notes.txt",
                       "D/readme", "D/S/s.png", "F/notes.txt"};
    QTest::newRow("two folders")
        << QStringList{"D/S", "F"} << QStringList{"D/S/s.png", "F/notes.txt"};
  }
  void Drops() {
    QFETCH(QStringList, dropped);
    QFETCH(QStringList, rows);
    FormHarness harness;
    Form1& form = harness.Load();
    QTemporaryDir tree;
    Make(tree.path(), {"D/a.png", "D/b.jpg", "D/notes.txt", "D/readme",
                       "D/~x.png", "D/S/s.png", "F/~x.png", "F/notes.txt"});
    QList<QUrl> urls;
    for (const QString& item : dropped) {
      urls << QUrl::fromLocalFile(tree.filePath(item));
    }
    auto* data = new QMimeData;
    data->setUrls(urls);
    bool accepted = false;
    SendDrop(Controls(form).ListView1->viewport(), data, &accepted);
    delete data;
    QVERIFY(accepted);
    const QStringList found = Relative(Rows(form.Files()), tree.path());
    // Items in the drop's order; within a folder, as the walk lists them.
    int at = 0;
    for (const QString& item : dropped) {
      QStringList expected;
      for (const QString& row : rows) {
        if (row == item || row.startsWith(item + "/")) expected << row;
      }
      QCOMPARE(Sorted(found.mid(at, expected.size())), Sorted(expected));
      at += expected.size();
    }
    QCOMPARE(found.size(), rows.size());
    QCOMPARE(form.Pointer().Get(), WindowPointer::State::kDefault);
  }

  // What a URL says is taken byte for byte: a NUL or bytes that are not
  // valid text would make the row name another file. "localhost" is this
  // machine; another host is not.
  void HostileUrls_data() {
    QTest::addColumn<QString>("host");
    QTest::addColumn<QString>("file");
    QTest::addColumn<QStringList>("rows");
    QTest::newRow("encoded NUL") << ""
                                 << "/F/a.png%00.txt" << QStringList{};
    QTest::newRow("not valid text") << ""
                                    << "/F/a%FF.png" << QStringList{};
    QTest::newRow("localhost") << "localhost"
                               << "/F/a.png" << QStringList{"F/a.png"};
    QTest::newRow("another host") << "elsewhere"
                                  << "/F/a.png" << QStringList{};
  }
  void HostileUrls() {
    QFETCH(QString, host);
    QFETCH(QString, file);
    QFETCH(QStringList, rows);
    FormHarness harness;
    Form1& form = harness.Load();
    QTemporaryDir tree;
    Make(tree.path(), {"F/a.png"});
    auto* data = new QMimeData;
    data->setUrls({QUrl("file://" + host + tree.path() + file)});
    bool accepted = false;
    SendDrop(Controls(form).ListView1->viewport(), data, &accepted);
    delete data;
    QCOMPARE(Relative(Rows(form.Files()), tree.path()), rows);
  }

  void OtherDataIsRefused() {
    FormHarness harness;
    Form1& form = harness.Load();
    auto* data = new QMimeData;
    data->setText("/etc/passwd");
    bool accepted = true;
    SendDrop(Controls(form).ListView1->viewport(), data, &accepted);
    data->setUrls({QUrl("https://example.org/a.png")});
    bool web_accepted = true;
    SendDrop(Controls(form).ListView1->viewport(), data, &web_accepted);
    delete data;
    QVERIFY(!accepted);
    QVERIFY(!web_accepted);
    QCOMPARE(form.Files().Count(), 0);
  }
};

QTEST_MAIN(AddFolderTest)
#include "add_folder_test.moc"
