#include "convert/converter_runner.h"

#include <QElapsedTimer>
#include <QTest>

#include "support/fake_progress.h"

class ConverterRunnerTest : public QObject {
  Q_OBJECT

 private slots:
  void ExitCodeAndPromptReturn() {
    FakeProgress bar;
    bar.caption = "Processing: a.png";
    QElapsedTimer clock;
    clock.start();
    const int code = ConverterRunner("sh -c \"exit 3\"", 0, &bar,
                                     "Processing: a.png", 50, 2);
    QCOMPARE(code, 3);
    QVERIFY(clock.elapsed() < 1000);
    QCOMPARE(bar.caption, QString("Processing: a.png"));
    QVERIFY(bar.values.isEmpty());
  }

  void MissingProgramFailsAtOnce() {
    FakeProgress bar;
    const int code =
        ConverterRunner("/no/such/program -q 85", 0, &bar, "", 40, 1);
    QVERIFY(code < 0);
    QCOMPARE(code, kStartFailureBase + 53);
    QVERIFY(bar.captions.isEmpty());
    QVERIFY(bar.values.isEmpty());
  }

  void FirstErrorLineIsKept() {
    RunnerOutcome outcome;
    ConverterRunner("sh -c \"echo first >&2; echo second >&2; exit 5\"", 0,
                    nullptr, "", 0, 1, &outcome);
    QCOMPARE(outcome.first_error_line, QString("first"));
  }

  void SignalIsToldApart() {
    RunnerOutcome outcome;
    const int code =
        ConverterRunner("sh -c \"kill -9 $$\"", 0, nullptr, "", 0, 1, &outcome);
    QCOMPARE(code, -1);
    QCOMPARE(outcome.signal, 9);
    ConverterRunner("sh -c \"exit 9\"", 0, nullptr, "", 0, 1, &outcome);
    QCOMPARE(outcome.signal, 0);
  }

  // The wait's pace shortened: "Please wait.. " after 5 passes and a step
  // every 3, with the arithmetic of the real pace.
  void LongWaitShowsPleaseWaitAndCreeps_data() {
    QTest::addColumn<QString>("base");
    QTest::addColumn<int>("start");
    QTest::addColumn<int>("files");
    QTest::addColumn<QList<double>>("values");
    QTest::addColumn<QString>("first_caption");
    QTest::addColumn<QString>("last_caption");
    // The first of four files: step 2.5 rounds to 2, ceiling 25 + 25 - 2.
    QTest::newRow("first of four")
        << "Processing: a.png" << 25 << 4
        << QList<double>{25, 27, 29, 31, 33, 35, 37, 39, 41, 43, 45, 47, 48}
        << "Processing: a.png, Please wait.. 0"
        << "Processing: a.png";
    // One file of one: start 100, step 10, ceiling 190; the bar shows
    // what lies past its end at its end.
    QTest::newRow("one of one, no caption")
        << "" << 100 << 1
        << QList<double>{100, 110, 120, 130, 140, 150, 160, 170, 180, 190}
        << "Please wait.. 0"
        << "Progress Bar";
  }
  void LongWaitShowsPleaseWaitAndCreeps() {
    QFETCH(QString, base);
    QFETCH(int, start);
    QFETCH(int, files);
    QFETCH(QList<double>, values);
    QFETCH(QString, first_caption);
    QFETCH(QString, last_caption);
    FakeProgress bar;
    RunnerSetup fast;
    fast.poll_milliseconds = 2;
    fast.caption_after = 5;
    fast.creep_every = 3;
    ConverterRunner("sleep 0.6", std::nullopt, &bar, base, start, files,
                    nullptr, fast);
    QList<double> seen = bar.values;
    seen.erase(std::unique(seen.begin(), seen.end()), seen.end());
    QCOMPARE(seen, values);
    QCOMPARE(bar.captions.value(0), first_caption);
    QCOMPARE(bar.caption, last_caption);
  }
};

QTEST_MAIN(ConverterRunnerTest)
#include "converter_runner_test.moc"
