#include <QLineEdit>
#include <QPushButton>
#include <QTest>

#include "support/controls.h"
#include "support/form_harness.h"

class OutputFolderTest : public QObject {
  Q_OBJECT

 private slots:
  void ChoosingTheOutputFolder_data() {
    QTest::addColumn<QString>("chosen");
    QTest::addColumn<QString>("text2");
    QTest::addColumn<QString>("last");
    QTest::newRow("a folder") << "/srv/out"
                              << "/srv/out/"
                              << "/srv/out";
    QTest::newRow("the root") << "/"
                              << "/"
                              << "/";
    QTest::newRow("cancelled") << ""
                               << "/before/"
                               << "/earlier";
  }
  void ChoosingTheOutputFolder() {
    QFETCH(QString, chosen);
    QFETCH(QString, text2);
    QFETCH(QString, last);
    FormHarness harness;
    harness.store.Write("Text2", "/before/");
    harness.store.Write("LastFolderDot", "/earlier");
    harness.store.Write("LastFolder", "/added/from");
    Form1& form = harness.Load();
    harness.dialogs.folder_answers << chosen;
    Controls(form).PushButton6->click();
    QCOMPARE(harness.dialogs.browse_requests,
             QStringList{"Please select folder:|/earlier"});
    QCOMPARE(Controls(form).Text2->text(), text2);
    QCOMPARE(harness.store.Read("Text2", ""), text2);
    QCOMPARE(harness.store.Read("LastFolderDot", ""), last);
    QCOMPARE(harness.store.Read("LastFolder", ""), QString("/added/from"));
  }

  // Each button starts where it chose last, whatever the other chose.
  void TheTwoLastFoldersStayApart() {
    FormHarness harness;
    Form1& form = harness.Load();
    QTemporaryDir tree;
    harness.dialogs.folder_answers << "/srv/out" << tree.path() << "/srv/b";
    Controls(form).PushButton6->click();
    Controls(form).PushButton3->click();
    Controls(form).PushButton6->click();
    QCOMPARE(harness.dialogs.browse_requests,
             QStringList({"Please select folder:|", "Please select folder:|",
                          "Please select folder:|/srv/out"}));
    QCOMPARE(harness.store.Read("LastFolder", ""), tree.path());
    QCOMPARE(harness.store.Read("LastFolderDot", ""), QString("/srv/b"));
  }
};

QTEST_MAIN(OutputFolderTest)
#include "output_folder_test.moc"
