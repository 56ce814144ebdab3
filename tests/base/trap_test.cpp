#include "base/trap.h"

#include <QTest>
#include <stdexcept>

#include "base/error_report.h"
#include "base/failure.h"
#include "support/fake_dialogs.h"

class TrapTest : public QObject {
  Q_OBJECT

 private slots:
  void ReportText_data() {
    QTest::addColumn<QString>("description");
    QTest::addColumn<int>("line");
    QTest::addColumn<QString>("text");
    QTest::newRow("batch run failure")
        << "File not found" << 144
        << "File not found\nin Quorlent2021/08/31.Form1.PushButton2_Click at "
           "line 144\n\nPlease email screenshot of this message to "
           "support@brisklume.example";
    QTest::newRow("empty description")
        << "" << 100
        << "\nin Quorlent2021/08/31.Form1.PushButton2_Click at line "
           "100\n\nPlease email screenshot of this message to "
           "support@brisklume.example";
  }
  void ReportText() {
    QFETCH(QString, description);
    QFETCH(int, line);
    QFETCH(QString, text);
    FakeDialogs dialogs;
    Trap trap(dialogs, "in Quorlent2021/08/31.Form1.PushButton2_Click ");
    trap.Line(line, [&] { throw Failure(description); });
    QCOMPARE(dialogs.messages.size(), 1);
    QCOMPARE(dialogs.messages[0].title, QString("Application Error"));
    QCOMPARE(dialogs.messages[0].text, text);
    QCOMPARE(dialogs.messages[0].icon, Dialogs::Icon::kWarning);
  }

  void EachFailureReportedAndProcedureGoesOn() {
    FakeDialogs dialogs;
    Trap trap(dialogs, ProcedureId("Form_Load"));
    QStringList ran;
    trap.Line(100, [&] {
      ran << "100";
      throw Failure("first");
    });
    trap.Line(102, [&] {
      ran << "102";
      throw std::runtime_error("second");
    });
    trap.Line(104, [&] { ran << "104"; });
    QCOMPARE(ran, QStringList({"100", "102", "104"}));
    const auto reports = dialogs.ErrorReports();
    QCOMPARE(reports.size(), 2);
    QVERIFY(reports[0].text.startsWith("first\n"));
    QVERIFY(reports[0].text.contains("Form_Load at line 100\n"));
    QVERIFY(reports[1].text.startsWith("second\n"));
    QVERIFY(reports[1].text.contains("at line 102\n"));
  }

  // A failed expression leaves its target as it was; a good one sets it.
  void SetKeepsTheOldValueOnFailure() {
    FakeDialogs dialogs;
    Trap trap(dialogs, ProcedureId("PushButton2_Click"));
    int quality = 85;
    trap.Set(134, quality, []() -> int { throw Failure("Type mismatch", 13); });
    QCOMPARE(quality, 85);
    trap.Set(136, quality, [] { return 40; });
    QCOMPARE(quality, 40);
    QCOMPARE(dialogs.ErrorReports().size(), 1);
    QVERIFY(dialogs.ErrorReports()[0].text.contains(
        "in Quorlent2021/08/31.Form1.PushButton2_Click at line 134\n"));
  }

  void FailingTestEntersItsBlock() {
    FakeDialogs dialogs;
    Trap trap(dialogs, "in x ");
    bool entered = trap.Test(142, []() -> bool { throw Failure("no answer"); });
    QVERIFY(entered);
    QVERIFY(!trap.Test(142, [] { return false; }));
    QCOMPARE(dialogs.ErrorReports().size(), 1);
    QVERIFY(dialogs.ErrorReports()[0].text.contains("at line 142\n"));
  }
};

QTEST_MAIN(TrapTest)
#include "trap_test.moc"
