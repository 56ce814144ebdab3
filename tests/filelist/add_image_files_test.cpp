#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QFile>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>

#include "filelist/file_list.h"
#include "support/controls.h"
#include "support/form_harness.h"

namespace {

QString Nul(const QStringList& parts) { return parts.join(QChar(0)); }

}  // namespace

class AddImageFilesTest : public QObject {
  Q_OBJECT

 private slots:
  void Dialog_data() {
    QTest::addColumn<QStringList>("answers");
    QTest::addColumn<QStringList>("rows");
    QTest::addColumn<QString>("message");
    QTest::newRow("cancel") << QStringList{""} << QStringList{} << "";
    QTest::newRow("one file, unchanged")
        << QStringList{"/pics//a.png"} << QStringList{"/pics//a.png"} << "";
    QTest::newRow("several at the root")
        << QStringList{Nul({"/", "c.png", "a.png", "b.png"})}
        << QStringList{"/c.png", "/a.png", "/b.png"} << "";
    QTest::newRow("several in a folder")
        << QStringList{Nul({"/home/u/pics", "a.png", "b.png"})}
        << QStringList{"/home/u/pics/a.png", "/home/u/pics/b.png"} << "";
    QTest::newRow("network folder")
        << QStringList{Nul({"//server/share", "a.png", "b.png"})}
        << QStringList{"//server/share/a.png", "//server/share/b.png"} << "";
    QTest::newRow("same file twice") << QStringList{"/a.png", "/a.png"}
                                     << QStringList{"/a.png", "/a.png"} << "";
    QStringList names{"/big"};
    for (int i = 0; names.join(QChar(0)).size() <= 30000; ++i) {
      names << QString("file-number-%1.png").arg(i, 6, 10, QChar('0'));
    }
    QTest::newRow("too many")
        << QStringList{Nul(names)} << QStringList{}
        << "You've selected too many files to add.\n\n"
           "Please try adding via the \"Add All\" button.";
    names.removeLast();
    QTest::newRow("just fits")
        << QStringList{Nul(names)} << QStringList{} << "";
  }
  void Dialog() {
    QFETCH(QStringList, answers);
    QFETCH(QStringList, rows);
    QFETCH(QString, message);
    FormHarness harness;
    Form1& form = harness.Load();
    harness.dialogs.file_answers = answers;
    for (int i = 0; i < answers.size(); ++i)
      Controls(form).PushButton1->click();
    QCOMPARE(harness.dialogs.open_requests.value(0),
             QString("Add File(s) - Hold Ctrl or Shift to select multiple "
                     "files|All PNG (*.png)"));
    if (QTest::currentDataTag() == QByteArray("just fits")) {
      QCOMPARE(form.Files().Count(), answers[0].count(QChar(0)));
      QVERIFY(harness.dialogs.messages.isEmpty());
      return;
    }
    QStringList listed;
    for (int i = 1; i <= form.Files().Count(); ++i)
      listed << form.Files().Text(i);
    QCOMPARE(listed, rows);
    if (message.isEmpty()) {
      QVERIFY(harness.dialogs.messages.isEmpty());
    } else {
      QCOMPARE(harness.dialogs.messages.size(), 1);
      QCOMPARE(harness.dialogs.messages[0].title, QString("Brisklume"));
      QCOMPARE(harness.dialogs.messages[0].text, message);
      QCOMPARE(harness.dialogs.messages[0].icon, Dialogs::Icon::kNone);
    }
  }

  // The dialog shows a stored name that is not valid text with replacement
  // characters: its path would name another file, or none. A valid name
  // holding the replacement character is queued, unless such a name
  // stands beside it.
  void NamesThatAreNotText_data() {
    QTest::addColumn<QByteArray>("stored");
    QTest::addColumn<bool>("queued");
    QTest::newRow("not valid text") << QByteArray("a\xff.png") << false;
    QTest::newRow("valid") << QByteArray("a\xef\xbf\xbd.png") << true;
    QTest::newRow("valid, beside one that is not")
        << QByteArray("a\xef\xbf\xbd.png|a\xff.png") << false;
    QTest::newRow("in a folder that is not valid text")
        << QByteArray("d\xff/a.png") << false;
  }
  void NamesThatAreNotText() {
    QFETCH(QByteArray, stored);
    QFETCH(bool, queued);
    FormHarness harness;
    Form1& form = harness.Load();
    QTemporaryDir dir;
    const QByteArray folder = QFile::encodeName(dir.path()) + "/";
    const QList<QByteArray> names = stored.split('|');
    if (names[0].contains('/')) {
      QVERIFY(::mkdir(folder + names[0].split('/')[0], 0755) == 0);
    }
    for (const QByteArray& name : names) {
      QVERIFY(::close(::creat(folder + name, 0644)) == 0);
    }
    const QString shown = QFile::decodeName(folder + names[0]);
    harness.dialogs.file_answers << shown;
    Controls(form).PushButton1->click();
    // Removed by their bytes: the names are not text.
    for (const QByteArray& name : names) ::unlink(folder + name);
    if (names[0].contains('/')) ::rmdir(folder + names[0].split('/')[0]);
    QCOMPARE(form.Files().Count(), queued ? 1 : 0);
  }
};

QTEST_MAIN(AddImageFilesTest)
#include "add_image_files_test.moc"
