#include "convert/converter_runner.h"

#include <QElapsedTimer>
#include <QProgressBar>
#include <QTest>
#include <QTimer>

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
    const int code =
        ConverterRunner("/no/such/program -q 85", 0, &bar, "", 40, 1);
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
    QTest::addColumn<QList<int>>("values");
    QTest::addColumn<QString>("first_caption");
    QTest::addColumn<QString>("last_caption");
    // The first of four files: step 2.5 rounds to 2, ceiling 25 + 25 - 2.
    QTest::newRow("first of four")
        << "Processing: a.png" << 25 << 4
        << QList<int>{25, 27, 29, 31, 33, 35, 37, 39, 41, 43, 45, 47, 48}
        << "Processing: a.png, Please wait.. 0"
        << "Processing: a.png";
    // One file of one: start 100, step 10, ceiling 190, clamped to 100.
    QTest::newRow("one of one, no caption")
        << "" << 100 << 1 << QList<int>{100} << "Please wait.. 0"
        << "Progress Bar";
  }
  void LongWaitShowsPleaseWaitAndCreeps() {
    QFETCH(QString, base);
    QFETCH(int, start);
    QFETCH(int, files);
    QFETCH(QList<int>, values);
    QFETCH(QString, first_caption);
    QFETCH(QString, last_caption);
    QProgressBar bar;
    bar.setValue(start);
    bar.setFormat(base);
    QList<int> seen;
    QStringList captions;
    connect(&bar, &QProgressBar::valueChanged, [&](int v) { seen << v; });
    QTimer watch;
    connect(&watch, &QTimer::timeout, [&] {
      if (captions.value(captions.size() - 1) != bar.format()) {
        captions << bar.format();
      }
    });
    watch.start(0);
    RunnerSetup fast;
    fast.poll_milliseconds = 2;
    fast.caption_after = 5;
    fast.creep_every = 3;
    ConverterRunner("sleep 0.6", std::nullopt, &bar, base, start, files,
                    nullptr, fast);
    watch.stop();
    seen.prepend(start);
    seen.erase(std::unique(seen.begin(), seen.end()), seen.end());
    QCOMPARE(seen, values);
    QVERIFY2(captions.contains(first_caption), qPrintable(captions.join('|')));
    QCOMPARE(bar.format(), last_caption);
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

QTEST_MAIN(ConverterRunnerTest)
#include "converter_runner_test.moc"
