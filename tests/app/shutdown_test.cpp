#include <QElapsedTimer>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>

class ShutdownTest : public QObject {
  Q_OBJECT

 private slots:
  void ClosingInsideANestedLoopEndsTheProcess() {
    QTemporaryDir own;
    QProcess child;
    child.setProcessChannelMode(QProcess::MergedChannels);
    QElapsedTimer clock;
    clock.start();
    child.start(NESTED_CLOSE_CHILD, {own.path()});
    QVERIFY(child.waitForFinished(10000));
    const QString output = QString::fromUtf8(child.readAll());
    QVERIFY2(output.contains("handler started"), qPrintable(output));
    QVERIFY2(!output.contains("went on"), qPrintable(output));
    QVERIFY2(!output.contains("event loop returned"), qPrintable(output));
    QCOMPARE(child.exitStatus(), QProcess::NormalExit);
    QCOMPARE(child.exitCode(), 0);
    // The pumping handler alone would last three seconds.
    QVERIFY(clock.elapsed() < 2500);
  }
};

QTEST_MAIN(ShutdownTest)
#include "shutdown_test.moc"
