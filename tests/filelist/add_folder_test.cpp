#include "filelist/add_folder.h"

#include <unistd.h>

#include <QDir>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QFileInfo>
#include <QMimeData>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>
#include <QTreeWidget>
#include <QUrl>

#include "filelist/file_list.h"
#include "support/as_ordinary_user.h"
#include "support/files.h"
#include "support/form_harness.h"
#include "util/file_attributes.h"

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
    form.PushButton3->click();
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
    form.PushButton3->click();
    QCOMPARE(harness.dialogs.browse_requests.last(),
             "Please select folder:|" + a);
    QCOMPARE(form.Files().Count(), 12);
  }

  void CancelChangesNothing() {
    FormHarness harness;
    Form1& form = harness.Load();
    harness.store.Write("LastFolder", "/srv/photos");
    form.Files().Append("/kept.png");
    form.PushButton3->click();
    QCOMPARE(Rows(form.Files()), QStringList{"/kept.png"});
    QCOMPARE(harness.store.Read("LastFolder", "-"), QString("/srv/photos"));
    QCOMPARE(harness.dialogs.browse_requests,
             QStringList{"Please select folder:|/srv/photos"});
  }

  // A link back up the tree is followed once, never round and round.
  void LinkLoopEnds() {
    FormHarness harness;
    Form1& form = harness.Load();
    QTemporaryDir tree;
    Make(tree.path(), {"A/a.png", "A/B/b.png"});
    QVERIFY(QFile::link(tree.filePath("A"), tree.filePath("A/B/up")));
    harness.dialogs.folder_answers << tree.filePath("A");
    form.PushButton3->click();
    QCOMPARE(Sorted(Relative(Rows(form.Files()), tree.filePath("A"))),
             Sorted({"a.png", "B/b.png"}));
  }

  // As an ordinary user: root may list any folder. A folder that may not
  // be listed is left out silently; so is the chosen one itself.
  void FoldersThatMayNotBeListed_data() {
    QTest::addColumn<QString>("locked");
    QTest::addColumn<QStringList>("rows");
    QTest::newRow("a subfolder")
        << "A/locked" << QStringList{"x.png", "open/z.png"};
    QTest::newRow("the chosen folder") << "A" << QStringList{};
  }
  void FoldersThatMayNotBeListed() {
    QFETCH(QString, locked);
    QFETCH(QStringList, rows);
    QCOMPARE(AsOrdinaryUser([&]() -> QString {
               FormHarness harness;
               Form1& form = harness.Load();
               QTemporaryDir tree;
               Make(tree.path(), {"A/x.png", "A/locked/y.png", "A/open/z.png"});
               QFile::setPermissions(tree.filePath(locked), QFile::WriteOwner);
               harness.dialogs.folder_answers << tree.filePath("A");
               form.PushButton3->click();
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
               form.PushButton3->click();
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
    QTest::newRow("png without regard to case")
        << "*.png" << QStringList{"a.png", "b.PNG"};
    QTest::newRow("every file, also without a dot")
        << "*.*" << QStringList{"a.png", "b.PNG", "notes.txt", "readme"};
  }
  void Patterns() {
    QFETCH(QString, pattern);
    QFETCH(QStringList, names);
    QTemporaryDir dir;
    Make(dir.path(), {"a.png", "b.PNG", "notes.txt", "readme", "sub.png/"});
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
    SendDrop(form.ListView1->viewport(), data, &accepted);
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

  void OtherDataIsRefused() {
    FormHarness harness;
    Form1& form = harness.Load();
    auto* data = new QMimeData;
    data->setText("/etc/passwd");
    bool accepted = true;
    SendDrop(form.ListView1->viewport(), data, &accepted);
    data->setUrls({QUrl("https://example.org/a.png")});
    bool web_accepted = true;
    SendDrop(form.ListView1->viewport(), data, &web_accepted);
    delete data;
    QVERIFY(!accepted);
    QVERIFY(!web_accepted);
    QCOMPARE(form.Files().Count(), 0);
  }
};

QTEST_MAIN(AddFolderTest)
#include "add_folder_test.moc"
