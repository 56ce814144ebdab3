#include "samples/samples.h"

#include <QDir>
#include <QPushButton>
#include <QTest>

#include "base/settings_store.h"
#include "filelist/file_list.h"
#include "samples/scramble.h"
#include "support/controls.h"
#include "support/files.h"
#include "support/form_harness.h"

namespace {

QStringList Recorded(const SettingsStore& store) {
  const QString plain =
      UnscrambleText(store.Read("Snapshot", "<none>"), kSampleKey);
  QStringList paths = plain.isEmpty() ? QStringList() : plain.split('|');
  paths.sort();
  return paths;
}

const char kQuestion[] =
    "Would you like this software to open the folder where these sample "
    "files are stored (so that you can view them before working with them)?";

}  // namespace

class SamplesTest : public QObject {
  Q_OBJECT

 private slots:
  void Scramble_data() {
    QTest::addColumn<int>("code");
    QTest::addColumn<int>("key");
    QTest::addColumn<int>("scrambled");
    QTest::newRow("wraps by 255") << 200 << 100 << 45;
    QTest::newRow("255, not 0") << 155 << 100 << 255;
    QTest::newRow("no wrap") << 65 << 113 << 178;
    QTest::newRow("lowest") << 1 << 97 << 98;
  }
  void Scramble() {
    QFETCH(int, code);
    QFETCH(int, key);
    QFETCH(int, scrambled);
    const QByteArray plain(1, char(code));
    const QByteArray k(1, char(key));
    QCOMPARE(int(static_cast<unsigned char>(ScrambleBytes(plain, k)[0])),
             scrambled);
    QCOMPARE(UnscrambleBytes(ScrambleBytes(plain, k), k), plain);
  }

  // Through the real settings file, with letters beyond ASCII and every
  // byte value the UTF-8 form can hold.
  void PathsSurviveTheStore() {
    QTemporaryDir dir;
    QString text = "/home/zoë/Fotos – 2024/日本/a b.png|/opt/x\t.png|";
    for (int c = 1; c < 128; ++c) text += QChar(c);
    {
      const SettingsStore store(dir.filePath("Kestovar.ini"));
      store.Write("Snapshot", ScrambleText(text, kSampleKey));
    }
    const SettingsStore again(dir.filePath("Kestovar.ini"));
    QCOMPARE(UnscrambleText(again.Read("Snapshot", ""), kSampleKey), text);
  }

  void RecordTakenOnceAtStart() {
    FormHarness harness;
    const QString samples = harness.ProgramFolder() + "/Samples";
    QDir().mkpath(samples);
    // An empty folder leaves the record empty, so the next start takes it.
    harness.Load();
    QCOMPARE(harness.store.Read("Snapshot", "<none>"), QString(""));
    for (const QString& name : QStringList{"a.png", "b.jpg", "notes.txt"}) {
      Save(samples + "/" + name, "x");
    }
    Form1& form = harness.Load();
    QCOMPARE(Recorded(harness.store),
             QStringList({samples + "/a.png", samples + "/b.jpg",
                          samples + "/notes.txt"}));
    QCOMPARE(form.Files().Count(), 0);
    // Once taken it is never taken again.
    const QString taken = harness.store.Read("Snapshot", "");
    Save(samples + "/later.png", "x");
    harness.Load();
    QCOMPARE(harness.store.Read("Snapshot", ""), taken);
  }

  // A Samples folder of thousands of entries is recorded in part, within
  // what a settings file holds, and loaded as recorded.
  void HugeSamplesFolderIsRecordedInPart() {
    FormHarness harness;
    const QString samples = harness.ProgramFolder() + "/Samples";
    QDir().mkpath(samples);
    for (int i = 0; i < 5000; ++i) {
      Save(samples + QString("/sample-%1.png").arg(i, 5, 10, QChar('0')), "");
    }
    Form1& form = harness.Load();
    const QStringList recorded = Recorded(harness.store);
    QCOMPARE(recorded.size(), 1000);
    QVERIFY(harness.dialogs.ErrorReports().isEmpty());
    harness.dialogs.yes_answers << false;
    Controls(form).PushButton5->click();
    QCOMPARE(form.Files().Count(), 1000);
  }

  void LoadAddsWhatIsThereAndAsks() {
    FormHarness harness;
    const QString samples = harness.ProgramFolder() + "/Samples";
    QDir().mkpath(samples);
    for (const QString& name : QStringList{"a.png", "b.png", "gone.png"}) {
      Save(samples + "/" + name, "x");
    }
    Form1& form = harness.Load();
    QFile::remove(samples + "/gone.png");
    form.Files().Append(samples.toUpper() + "/A.PNG");  // case counts
    harness.dialogs.yes_answers << true << false;
    Controls(form).PushButton5->click();
    Controls(form).PushButton5->click();
    QStringList rows = Rows(form.Files()).mid(1);
    rows.sort();
    QCOMPARE(rows, QStringList({samples + "/a.png", samples + "/b.png"}));
    QCOMPARE(harness.dialogs.questions.size(), 2);
    QCOMPARE(harness.dialogs.questions[0].title, form.ApplicationTitle());
    QCOMPARE(harness.dialogs.questions[0].text, QString(kQuestion));
    QCOMPARE(harness.dialogs.opened, QStringList{samples});
  }

  void WithoutARecordNothingIsAdded() {
    FormHarness harness;
    Form1& form = harness.Make();  // no start-up: no record
    Controls(form).PushButton5->click();
    QCOMPARE(form.Files().Count(), 0);
    QCOMPARE(harness.dialogs.questions.size(), 1);
    QVERIFY(harness.dialogs.ErrorReports().isEmpty());
  }
};

QTEST_MAIN(SamplesTest)
#include "samples_test.moc"
