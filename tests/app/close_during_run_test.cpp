#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QImage>
#include <QProcess>
#include <QRandomGenerator>
#include <QTemporaryDir>
#include <QTest>

#include "support/process_probe.h"
#include "support/test_main.h"


class CloseDuringRunTest : public QObject {
  Q_OBJECT

 private slots:
  void ClosingStopsTheConverterAndCleansUp() {
    QTemporaryDir dir;
    QDir(dir.path()).mkdir("temp");
    // Noise compresses badly, so converting it takes a while.
    QImage image(4000, 4000, QImage::Format_RGB32);
    auto* random = QRandomGenerator::global();
    for (int y = 0; y < image.height(); ++y) {
      auto* row = reinterpret_cast<quint32*>(image.scanLine(y));
      for (int x = 0; x < image.width(); ++x) row[x] = random->generate();
    }
    QVERIFY(image.save(dir.filePath("big.png"), "PNG", 0));

    QProcess child;
    child.setProcessChannelMode(QProcess::MergedChannels);
    child.start(CLOSE_DURING_RUN_CHILD,
                {dir.filePath("temp"), dir.filePath("big.png")});
    QVERIFY(child.waitForFinished(30000));
    const QString output = QString::fromUtf8(child.readAll());
    QCOMPARE(child.exitCode(), 0);
    QVERIFY2(!output.contains("message"), qPrintable(output));
    QVERIFY2(!output.contains("returned"), qPrintable(output));
    QVERIFY(!ProcessMentions(dir.filePath("temp")));
    QCOMPARE(QDir(dir.filePath("temp"))
                 .entryList(QDir::AllEntries | QDir::Hidden |
                            QDir::NoDotAndDotDot),
             QStringList{});
    QVERIFY(!QFile::exists(dir.filePath("big.jpg")));
  }
};

BRISKLUME_TEST_CLASS(CloseDuringRunTest);
#include "close_during_run_test.moc"
