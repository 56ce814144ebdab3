#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QImage>
#include <QProcess>
#include <QRandomGenerator>
#include <QTemporaryDir>
#include <QTest>
#include <QThread>

#include "convert/working_folder.h"
#include "support/process_probe.h"

namespace {

QStringList Entries(const QString& folder) {
  return QDir(folder).entryList(QDir::AllEntries | QDir::Hidden |
                                QDir::NoDotAndDotDot);
}

bool EndsWithin(qint64 pid, int milliseconds) {
  QElapsedTimer clock;
  clock.start();
  while (ProcessAlive(pid)) {
    if (clock.elapsed() > milliseconds) return false;
    QThread::msleep(10);
  }
  return true;
}

}  // namespace

class CloseDuringRunTest : public QObject {
  Q_OBJECT

 private slots:
  void initTestCase() {
    QVERIFY(dir_.isValid());
    // Noise compresses badly, so converting it takes a while.
    QImage image(4000, 4000, QImage::Format_RGB32);
    auto* random = QRandomGenerator::global();
    for (int y = 0; y < image.height(); ++y) {
      auto* row = reinterpret_cast<quint32*>(image.scanLine(y));
      for (int x = 0; x < image.width(); ++x) row[x] = random->generate();
    }
    QVERIFY(image.save(dir_.filePath("big.png"), "PNG", 0));
  }

  void ConverterEndsWithTheProgram_data() {
    QTest::addColumn<QString>("how");
    QTest::newRow("window closed") << "close";
    QTest::newRow("program killed") << "kill";
    QTest::newRow("TERM") << "term";
    QTest::newRow("HUP") << "hup";
    QTest::newRow("INT") << "int";
  }
  void ConverterEndsWithTheProgram() {
    QFETCH(QString, how);
    QTemporaryDir run(dir_.filePath("run-XXXXXX"));
    QDir(run.path()).mkdir("temp");
    QDir(run.path()).mkdir("own");
    const QString temp = run.filePath("temp");

    QProcess child;
    child.setProcessChannelMode(QProcess::MergedChannels);
    child.start(CLOSE_DURING_RUN_CHILD,
                {temp, dir_.filePath("big.png"), run.filePath("own"), how});
    QVERIFY(child.waitForFinished(30000));
    const QString output = QString::fromUtf8(child.readAll());
    QVERIFY2(!output.contains("message"), qPrintable(output));
    QVERIFY2(!output.contains("returned"), qPrintable(output));
    const QString line = output.section("converter ", 1).section('\n', 0, 0);
    QVERIFY2(!line.isEmpty(), qPrintable(output));
    QVERIFY2(EndsWithin(line.toLongLong(), 2000), qPrintable(line));
    QVERIFY(!QFile::exists(dir_.filePath("big.jpg")));
    QVERIFY(!QFile::exists(run.filePath("own/big.jpg")));
    if (how == "close") {
      QCOMPARE(child.exitCode(), 0);
      QCOMPARE(Entries(temp), QStringList{});
      return;
    }
    // Asked to end, it ends as closing does, then by the signal it got.
    if (how != "kill") {
      QCOMPARE(child.exitStatus(), QProcess::CrashExit);
      QCOMPARE(Entries(temp), QStringList{});
      QCOMPARE(Entries(run.filePath("own")), QStringList{"Kestovar.ini"});
      return;
    }
    // A killed program cannot clean up; the next run does.
    QCOMPARE(child.exitStatus(), QProcess::CrashExit);
    QCOMPARE(Entries(temp).size(), 1);
    const QByteArray saved = qgetenv("TEMP");
    qputenv("TEMP", temp.toUtf8());
    {
      WorkingFolder next;
      QCOMPARE(Entries(temp),
               QStringList{QFileInfo(next.Location()).fileName()});
    }
    qputenv("TEMP", saved);
    QCOMPARE(Entries(temp), QStringList{});
  }

 private:
  QTemporaryDir dir_;
};

QTEST_MAIN(CloseDuringRunTest)
#include "close_during_run_test.moc"
