#include <QElapsedTimer>
#include <QProgressBar>
#include <QTest>
#include <QTimer>

#include "convert/converter_runner.h"
#include "support/test_main.h"

class ConverterRunnerTest : public QObject {
  Q_OBJECT

 private slots:
  void ExitCodeAndPromptReturn() {
    QProgressBar bar;
    bar.setFormat("Processing: a.png");
    QElapsedTimer clock;
    clock.start();
    const int code = ConverterRunner("sh -c \"exit 3\"", 0, &bar,
                                     "Processing: a.png", 50, 2);
    QCOMPARE(code, 3);
    QVERIFY(clock.elapsed() < 1000);
    QCOMPARE(bar.format(), QString("Processing: a.png"));
  }

  void MissingProgramFailsAtOnce() {
    QProgressBar bar;
    bar.setValue(40);
    bar.setFormat("untouched");
    const int code = ConverterRunner("/no/such/program -q 85", 0, &bar, "", 40, 1);
    QVERIFY(code < 0);
    QCOMPARE(code, kStartFailureBase + 53);
    QCOMPARE(bar.format(), QString("untouched"));
    QCOMPARE(bar.value(), 40);
  }

  void FirstErrorLineIsKept() {
    RunnerOutcome outcome;
    ConverterRunner("sh -c \"echo first >&2; echo second >&2; exit 5\"", 0,
                    nullptr, "", 0, 1, &outcome);
    QCOMPARE(outcome.first_error_line, QString("first"));
  }

  void LongWaitShowsPleaseWaitAndCreeps() {
    QProgressBar bar;
    QStringList captions;
    QList<int> values;
    QTimer watch;
    connect(&watch, &QTimer::timeout, [&] {
      captions << bar.format();
      values << bar.value();
    });
    watch.start(20);
    // One file of one: start value 100 and a ceiling past 100, clamped.
    ConverterRunner("sleep 5.4", std::nullopt, &bar, "", 100, 1);
    watch.stop();
    QVERIFY(captions.contains("Please wait.. 0"));
    QVERIFY(!captions.contains("Please wait.. 50"));
    QCOMPARE(bar.format(), QString("Progress Bar"));
    QVERIFY(values.contains(100));
    QVERIFY(*std::max_element(values.begin(), values.end()) <= 100);
  }

  void BarValueIsClamped() {
    QProgressBar bar;
    SetBarValue(&bar, 190);
    QCOMPARE(bar.value(), 100);
    SetBarValue(&bar, 27.5);
    QCOMPARE(bar.value(), 28);
    SetBarValue(&bar, 26.5);
    QCOMPARE(bar.value(), 26);
  }
};

BRISKLUME_TEST_CLASS(ConverterRunnerTest);
#include "converter_runner_test.moc"
