#include <QDir>
#include <QTest>

#include "support/files.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size);

// Every input the fuzzer ever found, through the fuzz target itself: each
// must be refused or converted without a crash, a leak or undefined
// behaviour (the sanitizer build sees to the last two).
class FuzzReplayTest : public QObject {
  Q_OBJECT

 private slots:
  void initTestCase() {
    QVERIFY2(!Findings().isEmpty(), "no inputs in " FUZZ_CRASHERS);
  }

  void Replays_data() {
    QTest::addColumn<QString>("path");
    const QDir findings(QStringLiteral(FUZZ_CRASHERS));
    for (const QString& name : Findings()) {
      QTest::newRow(qPrintable(name)) << findings.filePath(name);
    }
  }
  void Replays() {
    QFETCH(QString, path);
    const QByteArray bytes = Load(path);
    QVERIFY(!bytes.isNull());
    QCOMPARE(LLVMFuzzerTestOneInput(
                 reinterpret_cast<const uint8_t*>(bytes.constData()),
                 size_t(bytes.size())),
             0);
  }

 private:
  static QStringList Findings() {
    return QDir(QStringLiteral(FUZZ_CRASHERS)).entryList(QDir::Files);
  }
};

QTEST_GUILESS_MAIN(FuzzReplayTest)
#include "fuzz_replay_test.moc"
