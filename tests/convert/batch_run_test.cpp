#include <QDir>
#include <QFile>
#include <QImage>
#include <QKeyEvent>
#include <QProcess>
#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QRadioButton>
#include <QSlider>
#include <QTest>
#include <QTimer>
#include <QTreeWidget>

#include "convert/batch_run.h"
#include "filelist/file_list.h"
#include "support/form_harness.h"
#include "support/test_main.h"

namespace {

// A small RGB PNG written by Qt, distinct per seed.
void WritePng(const QString& path, int seed, int width = 40, int height = 30) {
  QImage image(width, height, QImage::Format_RGB888);
  for (int y = 0; y < height; ++y) {
    for (int x = 0; x < width; ++x) {
      image.setPixelColor(x, y, QColor((x * 6 + seed * 40) % 256,
                                       (y * 8 + seed * 90) % 256, 128));
    }
  }
  QVERIFY(image.save(path, "PNG"));
}

QByteArray Load(const QString& path) {
  QFile file(path);
  return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

// What lumeconv alone makes of this PNG at this quality.
QByteArray DirectJpeg(const QString& png, int quality) {
  QTemporaryDir dir;
  QFile::copy(png, dir.filePath("x.png"));
  QProcess::execute(qEnvironmentVariable("BRISKLUME_BUILD_DIR") + "/lumeconv",
                    {"-q", QString::number(quality), dir.filePath("x.png")});
  return Load(dir.filePath("x.jpg"));
}

struct Batch {
  Batch() : form(harness.Load()) {
    QDir(harness.dir.path()).mkpath("src");
    QDir(harness.dir.path()).mkpath("out");
    QDir(harness.dir.path()).mkpath("temp");
    saved_temp = qgetenv("TEMP");
    qputenv("TEMP", Path("temp").toUtf8());
    form.Text2->setText(Path("out"));
  }
  ~Batch() { qputenv("TEMP", saved_temp); }
  QString Path(const QString& name) const { return harness.dir.filePath(name); }
  void Queue(const QString& name) { form.Files().Append(Path(name)); }
  QStringList Messages() const {
    QStringList texts;
    for (const auto& m : harness.dialogs.messages) texts << m.text;
    return texts;
  }
  QStringList TempEntries() const {
    return QDir(Path("temp")).entryList(QDir::AllEntries | QDir::Hidden |
                                        QDir::NoDotAndDotDot);
  }

  FormHarness harness;
  Form1& form;
  QByteArray saved_temp;
};

}  // namespace

class BatchRunTest : public QObject {
  Q_OBJECT

 private slots:
  void ConvertsIntoTheChosenFolder() {
    Batch b;
    const QStringList names = {"photo.PNG", "a.b.png", ".png", "pic"};
    for (int i = 0; i < names.size(); ++i) {
      WritePng(b.Path("src/" + names[i]), i);
      b.Queue("src/" + names[i]);
    }
    b.form.Slider1->setValue(62);
    b.form.PushButton2->click();
    QCOMPARE(b.Messages(), QStringList{"Done."});
    const QStringList outputs = {"photo.jpg", "a.b.jpg", ".png.jpg", "pic.jpg"};
    for (int i = 0; i < names.size(); ++i) {
      const QByteArray jpeg = Load(b.Path("out/" + outputs[i]));
      QVERIFY2(!jpeg.isEmpty(), qPrintable(outputs[i]));
      QCOMPARE(jpeg, DirectJpeg(b.Path("src/" + names[i]), 62));
    }
    QCOMPARE(b.form.ProgressBar1->value(), 0);
    QCOMPARE(b.form.ProgressBar1->format(), QString("Progress Bar"));
    QCOMPARE(b.form.Pointer().Get(), WindowPointer::State::kDefault);
    QVERIFY(b.TempEntries().isEmpty());  // the working folder is gone
  }

  void ConvertsBesideTheSource() {
    Batch b;
    WritePng(b.Path("src/one.png"), 1);
    b.Queue("src/one.png");
    b.form.Option2->click();
    b.form.Text2->setText("/no/such/folder");
    b.form.PushButton2->click();
    QCOMPARE(b.Messages(), QStringList{"Done."});
    QVERIFY(!Load(b.Path("src/one.jpg")).isEmpty());
  }

  void RefusesBeforeStarting_data() {
    QTest::addColumn<bool>("queue");
    QTest::addColumn<QString>("folder");
    QTest::addColumn<QString>("message");
    QTest::newRow("empty list") << false << "out" << "No files added.";
    QTest::newRow("missing folder")
        << true << "gone" << "Folder does not exist. Please select another folder.";
  }
  void RefusesBeforeStarting() {
    QFETCH(bool, queue);
    QFETCH(QString, folder);
    QFETCH(QString, message);
    Batch b;
    WritePng(b.Path("src/one.png"), 1);
    if (queue) b.Queue("src/one.png");
    b.form.Text2->setText(b.Path(folder));
    b.form.PushButton2->click();
    QCOMPARE(b.Messages(), QStringList{message});
    QCOMPARE(b.harness.dialogs.messages[0].title, QString("Brisklume"));
    QVERIFY(b.TempEntries().isEmpty());
    QCOMPARE(b.form.Pointer().Get(), WindowPointer::State::kDefault);
    // Not left running: the next click is heard.
    b.form.PushButton2->click();
    QCOMPARE(b.Messages().size(), 2);
  }

  void DoneTellsWhatFailed() {
    Batch b;
    WritePng(b.Path("src/good.png"), 1);
    QFile text(b.Path("src/bad.png"));
    QVERIFY(text.open(QIODevice::WriteOnly));
    text.write("not an image");
    text.close();
    QFile earlier(b.Path("out/good.jpg"));
    QVERIFY(earlier.open(QIODevice::WriteOnly));
    earlier.write("an older result");
    earlier.close();
    b.Queue("src/good.png");
    b.Queue("src/bad.png");
    b.Queue("src/gone.png");
    b.form.PushButton2->click();
    QCOMPARE(b.Messages().size(), 1);
    const QStringList lines = b.Messages()[0].split('\n');
    QCOMPARE(lines.mid(0, 3),
             QStringList({"Done.", "", "2 of 3 files could not be converted:"}));
    QVERIFY2(lines.value(3).startsWith(b.Path("src/bad.png") +
                                       ": the converter failed (exit code 4)"),
             qPrintable(lines.value(3)));
    QVERIFY(lines.value(3).contains("not a PNG"));
    QCOMPARE(lines.value(4), b.Path("src/gone.png") + ": the file is missing");
    // The good file replaced the older result; the bad one got no JPEG,
    // not even the good one's image.
    QCOMPARE(Load(b.Path("out/good.jpg")), DirectJpeg(b.Path("src/good.png"), 85));
    QVERIFY(!QFile::exists(b.Path("out/bad.jpg")));
  }

  void DoneListsTenAndCountsTheRest() {
    QStringList failures;
    for (int i = 0; i < 13; ++i) failures << QString("/f%1.png: gone").arg(i);
    const QString text = BatchRun::DoneMessage(20, failures);
    QVERIFY(text.startsWith("Done.\n\n13 of 20 files could not be converted:\n"
                            "/f0.png: gone\n"));
    QVERIFY(text.endsWith("/f9.png: gone\nand 3 more."));
    QCOMPARE(BatchRun::DoneMessage(20, {}), QString("Done."));
  }

  void QueueHoldsStillAndSecondClickIsIgnored() {
    Batch b;
    for (int i = 0; i < 3; ++i) {
      WritePng(b.Path(QString("src/%1.png").arg(i)), i, 400, 300);
      b.Queue(QString("src/%1.png").arg(i));
    }
    int rows_during = -1;
    QStringList captions;
    QTimer watch;
    connect(&watch, &QTimer::timeout,
            [&] { captions << b.form.ProgressBar1->format(); });
    watch.start(0);
    QTimer::singleShot(0, [&] {
      b.form.ListView1->setCurrentItem(b.form.ListView1->topLevelItem(0));
      b.form.Pointer().Set(WindowPointer::State::kDefault);  // a hover
      QKeyEvent del(QEvent::KeyPress, Qt::Key_Delete, Qt::NoModifier);
      QCoreApplication::sendEvent(b.form.ListView1, &del);
      b.form.PushButton4->click();
      b.form.PushButton2->click();
      rows_during = b.form.Files().Count();
    });
    b.form.PushButton2->click();
    QCOMPARE(rows_during, 3);
    watch.stop();
    for (int i = 0; i < 3; ++i) {
      QVERIFY(captions.contains(QString("Processing: %1.png").arg(i)));
    }
    QCOMPARE(b.Messages(), QStringList{"Done."});
    for (int i = 0; i < 3; ++i) {
      QVERIFY(QFile::exists(b.Path(QString("out/%1.jpg").arg(i))));
    }
  }
};

BRISKLUME_TEST_CLASS(BatchRunTest);
#include "batch_run_test.moc"
