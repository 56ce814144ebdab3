#include "convert/batch_run.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QGuiApplication>
#include <QImage>
#include <QKeyEvent>
#include <QLineEdit>
#include <QMessageBox>
#include <QPaintEvent>
#include <QProcess>
#include <QProgressBar>
#include <QPushButton>
#include <QRadioButton>
#include <QScreen>
#include <QSlider>
#include <QTest>
#include <QTimer>
#include <QTreeWidget>
#include <csignal>

#include "base/qt_dialogs.h"
#include "convert/converter_image.h"
#include "convert/run_messages.h"
#include "filelist/file_list.h"
#include "support/as_ordinary_user.h"
#include "support/bystanders.h"
#include "support/controls.h"
#include "support/fat_mount.h"
#include "support/files.h"
#include "support/form_harness.h"
#include "support/lumeconv.h"
#include "support/png_fixture.h"
#include "support/tmpfs_mount.h"
#include "util/file_queries.h"

namespace {

// A small RGB PNG, distinct per seed.
void WriteSample(const QString& path, int seed, int width = 40,
                 int height = 30) {
  PngRecipe recipe;
  recipe.width = width;
  recipe.height = height;
  recipe.seed = seed;
  WritePng(path, recipe);
}

// What lumeconv alone makes of this PNG at this quality.
QByteArray DirectJpeg(const QString& png, int quality) {
  QTemporaryDir dir;
  QFile::copy(png, dir.filePath("x.png"));
  RunLumeconv({"-q", QString::number(quality), dir.filePath("x.png")});
  return Load(dir.filePath("x.jpg"));
}

// A second file system for the working folder or the results; none where
// /dev/shm is missing or lies on the same one.
std::unique_ptr<QTemporaryDir> OtherFileSystem(const QString& than) {
  auto dir = std::make_unique<QTemporaryDir>("/dev/shm/batch-run-test-XXXXXX");
  if (!dir->isValid() ||
      IdentityOf(dir->path())->device == IdentityOf(than)->device) {
    return nullptr;
  }
  return dir;
}

// The other user's side: moves each new folder away and puts a folder with
// a program of their own in its place.
[[noreturn]] void ReplaceNewFoldersForever(const QByteArray& folder,
                                           const QByteArray& marker) {
  const QByteArray script = "#!/bin/sh\ntouch '" + marker + "'\n";
  for (int round = 0;; ++round) {
    DIR* dir = ::opendir(folder.constData());
    while (dir) {
      const dirent* entry = ::readdir(dir);
      if (!entry) break;
      const QByteArray name(entry->d_name);
      if (name.startsWith('.') || name.startsWith("moved-")) continue;
      const QByteArray path = folder + "/" + name;
      const QByteArray moved =
          folder + "/moved-" + QByteArray::number(round) + "-" + name;
      if (::rename(path.constData(), moved.constData()) != 0) continue;
      ::mkdir(path.constData(), 0777);
      const QByteArray program = path + "/lumeconv";
      const int fd = ::open(program.constData(), O_WRONLY | O_CREAT, 0777);
      if (fd >= 0) {
        if (::write(fd, script.constData(), script.size()) < 0) ::_exit(2);
        ::close(fd);
      }
    }
    if (dir) ::closedir(dir);
    ::usleep(200);
  }
}

QString StripJpg(const QString& png) { return png.chopped(4) + ".jpg"; }

// When a caption was first set on the bar, and when it was first painted.
class PaintClock : public QObject {
  Q_OBJECT

 public:
  PaintClock(QProgressBar* bar, const QString& caption)
      : bar_(bar), caption_(caption) {
    clock_.start();
    bar->installEventFilter(this);
    connect(&watch_, &QTimer::timeout, [this] {
      if (set_at < 0 && bar_->format() == caption_) set_at = clock_.elapsed();
    });
    watch_.start(0);
  }
  bool eventFilter(QObject*, QEvent* event) override {
    if (event->type() == QEvent::Paint && painted_at < 0 &&
        bar_->format() == caption_) {
      painted_at = clock_.elapsed();
    }
    return false;
  }
  qint64 set_at = -1;
  qint64 painted_at = -1;

 private:
  QProgressBar* bar_;
  QString caption_;
  QElapsedTimer clock_;
  QTimer watch_;
};

struct Batch {
  Batch() : form(harness.Load()) {
    QDir(harness.dir.path()).mkpath("src");
    QDir(harness.dir.path()).mkpath("out");
    QDir(harness.dir.path()).mkpath("temp");
    saved_temp = qgetenv("TEMP");
    saved_cache = qgetenv("XDG_CACHE_HOME");
    qputenv("TEMP", Path("temp").toUtf8());
    qputenv("XDG_CACHE_HOME", Path("cache").toUtf8());
    Controls(form).Text2->setText(Path("out"));
    // Each run is watched: it may make and change results, nothing else.
    bystanders = std::make_unique<Bystanders>(
        QStringList{Path("temp"), Path("src"), Path("out")});
    QObject::connect(Controls(form).PushButton2, &QPushButton::pressed, [this] {
      if (watching) return;  // a click during the run
      watching = true;
      bystanders->Record();
    });
    harness.dialogs.on_message = [this] {
      if (!harness.dialogs.messages.last().text.startsWith("Done.")) return;
      watching = false;
      const QString changes = bystanders->Changes(
          [](const QString& path) { return path.endsWith(".jpg"); });
      if (!changes.isEmpty()) bystander_changes << changes;
    };
  }
  ~Batch() {
    qputenv("TEMP", saved_temp);
    qputenv("XDG_CACHE_HOME", saved_cache);
    if (!bystander_changes.isEmpty()) {
      QTest::qFail(qPrintable("the run touched bystanders:\n" +
                              bystander_changes.join('\n')),
                   __FILE__, __LINE__);
    }
  }
  QString Path(const QString& name) const { return harness.dir.filePath(name); }
  void Queue(const QString& name) { form.Files().Append(Path(name)); }
  QStringList Messages() const {
    QStringList texts;
    for (const auto& m : harness.dialogs.messages) texts << m.text;
    return texts;
  }
  // The lines of the one "Done." box, after "Done." and its blank line.
  QStringList DoneLines() const {
    const QStringList all = Messages();
    if (all.size() != 1 || !all[0].startsWith("Done.")) return {"<no Done>"};
    return all[0].split('\n').mid(2);
  }
  // What is in TEMP beside the decoys.
  QStringList TempEntries() const {
    QStringList entries;
    for (const QString& name : QDir(Path("temp"))
                                   .entryList(QDir::AllEntries | QDir::Hidden |
                                              QDir::NoDotAndDotDot)) {
      if (!bystanders->IsDecoy(Path("temp/" + name))) entries << name;
    }
    return entries;
  }

  FormHarness harness;
  Form1& form;
  QByteArray saved_temp;
  QByteArray saved_cache;
  std::unique_ptr<Bystanders> bystanders;
  bool watching = false;
  QStringList bystander_changes;
};

}  // namespace

class BatchRunTest : public QObject {
  Q_OBJECT

 private slots:
  void ConvertsIntoTheChosenFolder() {
    Batch b;
    const QStringList names = {"photo.PNG", "a.b.png", ".png", "pic"};
    for (int i = 0; i < names.size(); ++i) {
      WriteSample(b.Path("src/" + names[i]), i);
      b.Queue("src/" + names[i]);
    }
    Controls(b.form).Slider1->setValue(62);
    Controls(b.form).PushButton2->click();
    QCOMPARE(b.Messages(), QStringList{"Done."});
    const QStringList outputs = {"photo.jpg", "a.b.jpg", ".png.jpg", "pic.jpg"};
    for (int i = 0; i < names.size(); ++i) {
      const QByteArray jpeg = Load(b.Path("out/" + outputs[i]));
      QVERIFY2(!jpeg.isEmpty(), qPrintable(outputs[i]));
      QCOMPARE(jpeg, DirectJpeg(b.Path("src/" + names[i]), 62));
    }
    QCOMPARE(Controls(b.form).ProgressBar1->value(), 0);
    QCOMPARE(Controls(b.form).ProgressBar1->format(), QString("Progress Bar"));
    QCOMPARE(b.form.Pointer().Get(), WindowPointer::State::kDefault);
    QVERIFY(b.TempEntries().isEmpty());  // the working folder is gone
  }

  void ConvertsBesideTheSource() {
    Batch b;
    WriteSample(b.Path("src/one.png"), 1);
    b.Queue("src/one.png");
    Controls(b.form).Option2->click();
    Controls(b.form).Text2->setText("/no/such/folder");
    Controls(b.form).PushButton2->click();
    QCOMPARE(b.Messages(), QStringList{"Done."});
    QVERIFY(!Load(b.Path("src/one.jpg")).isEmpty());
  }

  // A TEMP that cannot hold the run gives way to the user's cache folder;
  // where programs may not run, the converter installed beside the program
  // runs. Messages name real folders, never the descriptor path.
  void TempThatCannotBeUsed_data() {
    QTest::addColumn<QByteArray>("mount");   // tmpfs options; empty: none
    QTest::addColumn<bool>("cache_inside");  // the cache on the mount too
    QTest::addColumn<bool>("installed");     // lumeconv beside the program
    QTest::addColumn<QString>("said");       // in the error report
    QTest::newRow("missing") << QByteArray() << false << false << "";
    QTest::newRow("full") << QByteArray("size=100k") << false << false << "";
    QTest::newRow("noexec, converter installed")
        << QByteArray("noexec") << true << true << "";
    QTest::newRow("noexec, none installed")
        << QByteArray("noexec") << true << false
        << "programs may not run there, and no converter is installed";
  }
  void TempThatCannotBeUsed() {
    QFETCH(QByteArray, mount);
    QFETCH(bool, cache_inside);
    QFETCH(bool, installed);
    QFETCH(QString, said);
    Batch b;
    std::unique_ptr<TmpfsMount> tmpfs;
    QString temp = b.Path("no/such/folder");
    if (!mount.isEmpty()) {
      tmpfs = std::make_unique<TmpfsMount>(mount);
      if (!tmpfs->Ready()) QSKIP("mounting a tmpfs needs root");
      temp = tmpfs->Path();
    }
    qunsetenv("TEMP");
    const QByteArray saved_tmpdir = qgetenv("TMPDIR");
    qputenv("TMPDIR", temp.toUtf8());
    if (cache_inside) qputenv("XDG_CACHE_HOME", (temp + "/cache").toUtf8());
    if (installed) {
      QVERIFY(QFile::copy(LUMECONV_BINARY,
                          b.harness.ProgramFolder() + "/lumeconv"));
    }
    WriteSample(b.Path("src/one.png"), 1);
    b.Queue("src/one.png");
    Controls(b.form).PushButton2->click();
    qputenv("TMPDIR", saved_tmpdir);
    const auto reports = b.harness.dialogs.ErrorReports();
    for (const QString& text : b.Messages()) {
      QVERIFY2(!text.contains("/proc/"), qPrintable(text));
    }
    if (said.isEmpty()) {
      QCOMPARE(b.Messages(), QStringList{"Done."});
      QCOMPARE(Load(b.Path("out/one.jpg")),
               DirectJpeg(b.Path("src/one.png"), 85));
    } else {
      QCOMPARE(reports.size(), 1);
      QVERIFY2(reports[0].text.contains(said), qPrintable(reports[0].text));
      QVERIFY(reports[0].text.contains(temp + "/cache/brisklume"));
    }
    if (tmpfs) {
      const QStringList left = QDir(temp).entryList(
          QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot);
      QVERIFY(left.isEmpty() || left == QStringList{"cache"});
      QVERIFY(QDir(temp + "/cache/brisklume").isEmpty());
    }
  }

  // A working folder that fills up during the run is named as the place
  // that was full, not taken for the user's destination.
  void WorkingFolderFullForTheJpeg() {
    Batch b;
    WriteSample(b.Path("src/one.png"), 1, 600, 400);
    // Room for the mark, the converter and the working copy, page by page.
    const auto pages = [](qint64 bytes) { return (bytes + 4095) / 4096; };
    const qint64 needed = 1 + pages(ConverterImage().size()) +
                          pages(QFileInfo(b.Path("src/one.png")).size());
    TmpfsMount tmpfs(QString("size=%1k").arg(needed * 4).toUtf8());
    if (!tmpfs.Ready()) QSKIP("mounting a tmpfs needs root");
    qputenv("TEMP", tmpfs.Path().toUtf8());
    b.Queue("src/one.png");
    Controls(b.form).PushButton2->click();
    const QStringList lines = b.DoneLines();
    QVERIFY2(lines.size() == 2, qPrintable(b.Messages().join('|')));
    QVERIFY2(lines[1].startsWith(
                 b.Path("src/one.png") +
                 ": the converter could not write its JPEG in the working "
                 "folder " +
                 tmpfs.Path() + "/brisklume-"),
             qPrintable(lines[1]));
    QVERIFY2(!lines[1].contains("/proc/"), qPrintable(lines[1]));
  }

  // The folder box is read again for each file; emptied during the run, it
  // names no folder, not the root of the file system.
  void FolderBoxEmptiedDuringTheRun() {
    Batch b;
    const QString name = QFileInfo(b.harness.dir.path()).fileName();
    WriteSample(b.Path("src/one.png"), 1);
    WriteSample(b.Path("src/" + name + ".png"), 2);
    b.Queue("src/one.png");
    b.Queue("src/" + name + ".png");
    QObject::connect(Controls(b.form).ProgressBar1, &QProgressBar::valueChanged,
                     [&](int value) {
                       if (value == 100) Controls(b.form).Text2->clear();
                     });
    Controls(b.form).PushButton2->click();
    const bool at_root = QFile::remove("/" + name + ".jpg");
    QVERIFY(!at_root);
    QCOMPARE(b.DoneLines(),
             QStringList({"1 of 2 files could not be converted:",
                          b.Path("src/" + name + ".png") +
                              ": the destination folder does not exist"}));
    QVERIFY(QFile::exists(b.Path("out/one.jpg")));
  }

  void RefusesBeforeStarting_data() {
    QTest::addColumn<bool>("queue");
    QTest::addColumn<QString>("folder");
    QTest::addColumn<QString>("message");
    QTest::newRow("empty list") << false << "out"
                                << "No files added.";
    QTest::newRow("missing folder")
        << true << "gone"
        << "Folder does not exist. Please select another folder.";
  }
  void RefusesBeforeStarting() {
    QFETCH(bool, queue);
    QFETCH(QString, folder);
    QFETCH(QString, message);
    Batch b;
    WriteSample(b.Path("src/one.png"), 1);
    if (queue) b.Queue("src/one.png");
    Controls(b.form).Text2->setText(b.Path(folder));
    Controls(b.form).PushButton2->click();
    QCOMPARE(b.Messages(), QStringList{message});
    QCOMPARE(b.harness.dialogs.messages[0].title, QString("Brisklume"));
    QVERIFY(b.TempEntries().isEmpty());
    QCOMPARE(b.form.Pointer().Get(), WindowPointer::State::kDefault);
    // Not left running: the next click is heard.
    Controls(b.form).PushButton2->click();
    QCOMPARE(b.Messages().size(), 2);
  }

  void DoneTellsWhatFailed() {
    Batch b;
    WriteSample(b.Path("src/good.png"), 1);
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
    Controls(b.form).PushButton2->click();
    QCOMPARE(b.Messages().size(), 1);
    const QStringList lines = b.Messages()[0].split('\n');
    QCOMPARE(
        lines.mid(0, 3),
        QStringList({"Done.", "", "2 of 3 files could not be converted:"}));
    // The user's file is named, never the working copy.
    QCOMPARE(lines.value(3), b.Path("src/bad.png") +
                                 ": the converter failed (exit code 4): the "
                                 "file is not a PNG file");
    QCOMPARE(lines.value(4), b.Path("src/gone.png") + ": the file is missing");
    // The good file replaced the older result; the bad one got no JPEG,
    // not even the good one's image.
    QCOMPARE(Load(b.Path("out/good.jpg")),
             DirectJpeg(b.Path("src/good.png"), 85));
    QVERIFY(!QFile::exists(b.Path("out/bad.jpg")));
  }

  void WorksAcrossFileSystems_data() {
    QTest::addColumn<bool>("temp_elsewhere");
    QTest::newRow("working folder on another file system") << true;
    QTest::newRow("results on another file system") << false;
  }
  void WorksAcrossFileSystems() {
    QFETCH(bool, temp_elsewhere);
    Batch b;
    const auto other = OtherFileSystem(b.Path("src"));
    if (!other) QSKIP("no second file system: /dev/shm is missing or on /");
    if (temp_elsewhere) {
      qputenv("TEMP", other->path().toUtf8());
    } else {
      Controls(b.form).Text2->setText(other->path());
    }
    WriteSample(b.Path("src/one.png"), 1);
    b.Queue("src/one.png");
    Controls(b.form).PushButton2->click();
    QCOMPARE(b.Messages(), QStringList{"Done."});
    const QString out = temp_elsewhere ? b.Path("out") : other->path();
    QCOMPARE(Load(out + "/one.jpg"), DirectJpeg(b.Path("src/one.png"), 85));
    QCOMPARE(
        QDir(other->path())
            .entryList(QDir::Hidden | QDir::AllEntries | QDir::NoDotAndDotDot)
            .size(),
        temp_elsewhere ? 0 : 1);
  }

  // A USB stick holds no file modes; results land there all the same, new
  // and replacing older ones.
  void ResultsOnFat() {
    FatMount fat;
    if (!fat.Ready()) QSKIP("fusefat cannot mount here");
    Batch b;
    WriteSample(b.Path("src/one.png"), 1);
    WriteSample(b.Path("src/two.png"), 2);
    Save(fat.Path() + "/two.jpg", "an older result");
    b.Queue("src/one.png");
    b.Queue("src/two.png");
    Controls(b.form).Text2->setText(fat.Path());
    Controls(b.form).PushButton2->click();
    QCOMPARE(b.Messages(), QStringList{"Done."});
    QCOMPARE(Load(fat.Path() + "/one.jpg"),
             DirectJpeg(b.Path("src/one.png"), 85));
    QCOMPARE(Load(fat.Path() + "/two.jpg"),
             DirectJpeg(b.Path("src/two.png"), 85));
  }

  // FAT folds case, and fusefat gives each spelling its own inode number:
  // a PNG named SHOT.JPG is its own result's name, and A.png and a.png
  // give one result.
  void CaseFoldingOnFat() {
    FatMount fat;
    if (!fat.Ready()) QSKIP("fusefat cannot mount here");
    Batch b;
    QVERIFY(QDir(fat.Path()).mkpath("a") && QDir(fat.Path()).mkpath("b"));
    WriteSample(fat.Path() + "/SHOT.JPG", 1);
    WriteSample(fat.Path() + "/a/A.png", 2);
    WriteSample(fat.Path() + "/b/a.png", 3);
    const QByteArray shot = Load(fat.Path() + "/SHOT.JPG");
    b.form.Files().Append(fat.Path() + "/SHOT.JPG");
    b.form.Files().Append(fat.Path() + "/a/A.png");
    b.form.Files().Append(fat.Path() + "/b/a.png");
    Controls(b.form).Text2->setText(fat.Path());
    Controls(b.form).PushButton2->click();
    QCOMPARE(Load(fat.Path() + "/SHOT.JPG"), shot);
    QCOMPARE(b.DoneLines(),
             QStringList({"1 of 3 files could not be converted:",
                          fat.Path() +
                              "/SHOT.JPG: its JPEG would overwrite "
                              "the queued file " +
                              fat.Path() + "/SHOT.jpg",
                          "",
                          "1 of 3 results were replaced by a later file "
                          "with the same name:",
                          fat.Path() + "/a/A.png: its JPEG " + fat.Path() +
                              "/a.jpg was replaced by that of " + fat.Path() +
                              "/b/a.png"}));
    QCOMPARE(Load(fat.Path() + "/a.jpg"),
             DirectJpeg(fat.Path() + "/b/a.png", 85));
    // lumeconv alone keeps its input as well.
    QVERIFY(QFile::copy(fat.Path() + "/b/a.png", fat.Path() + "/CLI.JPG"));
    const LumeconvRun run = RunLumeconv({fat.Path() + "/CLI.JPG"});
    QCOMPARE(run.code, 7);
    QCOMPARE(Load(fat.Path() + "/CLI.JPG"), Load(fat.Path() + "/b/a.png"));
  }

  // No result is ever written over a queued file, whatever names lead there.
  void QueuedFilesAreNeverOverwritten_data() {
    QTest::addColumn<QStringList>("queue");
    QTest::addColumn<bool>("beside");
    QTest::addColumn<QStringList>("kept");
    QTest::newRow("a PNG named like its own JPEG")
        << QStringList{"src/photo.jpg"} << true << QStringList{"src/photo.jpg"};
    QTest::newRow("the JPEG name of another queued file")
        << QStringList{"src/b.png", "out/b.jpg"} << false
        << QStringList{"out/b.jpg"};
    QTest::newRow("a link to a queued file")
        << QStringList{"src/keep.png", "src/c.png"} << false
        << QStringList{"src/keep.png"};
  }
  void QueuedFilesAreNeverOverwritten() {
    QFETCH(QStringList, queue);
    QFETCH(bool, beside);
    QFETCH(QStringList, kept);
    Batch b;
    for (int i = 0; i < queue.size(); ++i) {
      WriteSample(b.Path(queue[i]), i);
      b.Queue(queue[i]);
    }
    if (QFile::exists(b.Path("src/keep.png"))) {
      QCOMPARE(::link(qPrintable(b.Path("src/keep.png")),
                      qPrintable(b.Path("out/c.jpg"))),
               0);
    }
    QByteArray before = Load(b.Path(kept[0]));
    if (beside) Controls(b.form).Option2->click();
    Controls(b.form).PushButton2->click();
    QCOMPARE(Load(b.Path(kept[0])), before);
    const QStringList lines = b.DoneLines();
    QVERIFY2(lines.join('\n').contains(": its JPEG would overwrite the queued "
                                       "file "),
             qPrintable(lines.join('\n')));
  }

  // The same file queued twice (a folder dropped with its parent) replaces
  // nothing of its own.
  void ReplacedResultsAreTold() {
    Batch b;
    const QStringList queue = {"src/a/photo.png", "src/b/photo.png",
                               "src/a/photo.PNG", "src/a/photo.PNG"};
    QDir(b.Path("src")).mkpath("a");
    QDir(b.Path("src")).mkpath("b");
    for (int i = 0; i < queue.size(); ++i) {
      WriteSample(b.Path(queue[i]), i);
      b.Queue(queue[i]);
    }
    Controls(b.form).PushButton2->click();
    QCOMPARE(Load(b.Path("out/photo.jpg")),
             DirectJpeg(b.Path("src/a/photo.PNG"), 85));
    const QString out = b.Path("out/photo.jpg");
    QCOMPARE(b.DoneLines(),
             QStringList({"2 of 4 results were replaced by a later file with "
                          "the same name:",
                          b.Path(queue[0]) + ": its JPEG " + out +
                              " was replaced by that of " + b.Path(queue[1]),
                          b.Path(queue[1]) + ": its JPEG " + out +
                              " was replaced by that of " + b.Path(queue[2])}));
  }

  // Another program moves a result of this run under the name the next
  // file's result takes: what is replaced then is not as this run wrote it,
  // and is not reported as replaced.
  void ResultChangedByAnotherProgramIsNotCalledReplaced() {
    Batch b;
    WriteSample(b.Path("src/a.png"), 1);
    WriteSample(b.Path("src/b.png"), 2);
    b.Queue("src/a.png");
    b.Queue("src/b.png");
    QTimer watch;
    connect(&watch, &QTimer::timeout, [&] {
      if (Controls(b.form).ProgressBar1->format() == "Processing: b.png") {
        watch.stop();
        QFile::rename(b.Path("out/a.jpg"), b.Path("out/b.jpg"));
      }
    });
    watch.start(0);
    Controls(b.form).PushButton2->click();
    QCOMPARE(b.Messages(), QStringList{"Done."});
    QCOMPARE(Load(b.Path("out/b.jpg")), DirectJpeg(b.Path("src/b.png"), 85));
  }

  // A full disk where the working copy goes is not an unreadable source.
  // The limit leaves room for the converter, not for the file.
  void WorkingCopyThatCannotBeWritten() {
    constexpr rlim_t kLimit = 16 << 20;
    QCOMPARE(InChild([] { return QString(); },
                     []() -> QString {
                       Batch b;
                       Save(b.Path("src/big.png"), QByteArray(kLimit + 1, 'x'));
                       std::signal(SIGXFSZ, SIG_IGN);
                       const rlimit limit{kLimit, kLimit};
                       ::setrlimit(RLIMIT_FSIZE, &limit);
                       b.Queue("src/big.png");
                       Controls(b.form).PushButton2->click();
                       const QString line = b.DoneLines().value(1);
                       if (!line.endsWith(" (File too large)")) return line;
                       CHILD_CHECK(line.startsWith(
                           b.Path("src/big.png") +
                           ": its working copy could not be written in " +
                           b.Path("temp/brisklume-")));
                       return {};
                     }),
             QString());
  }

  void FailuresComeFirstAndListsAreCut() {
    QStringList failures;
    QStringList replaced;
    for (int i = 0; i < 12; ++i) failures << QString("/f%1.png: gone").arg(i);
    for (int i = 0; i < 2; ++i) replaced << QString("/r%1.png: over").arg(i);
    QCOMPARE(DoneMessage(30, failures, replaced).split('\n').mid(12),
             QStringList({"/f9.png: gone", "and 2 more.", "",
                          "2 of 30 results were replaced by a later file with "
                          "the same name:",
                          "/r0.png: over", "/r1.png: over"}));
  }

  void SpecialFilesAreRefusedWithoutWaiting() {
    Batch b;
    QCOMPARE(::mkfifo(qPrintable(b.Path("src/x.png")), 0600), 0);
    WriteSample(b.Path("src/good.png"), 1);
    b.Queue("src/x.png");
    b.Queue("src/good.png");
    Controls(b.form).PushButton2->click();
    QCOMPARE(b.DoneLines(),
             QStringList({"1 of 2 files could not be converted:",
                          b.Path("src/x.png") + ": it is not a regular file"}));
    QVERIFY(QFile::exists(b.Path("out/good.jpg")));
  }

  // TEMP and the cache folder name files: the failure is reported once and
  // nothing is touched anywhere else, least of all at the root of the file
  // system.
  void NoWorkingFolderTouchesNothing() {
    Batch b;
    Save(b.Path("not-a-folder"), "x");
    qputenv("TEMP", b.Path("not-a-folder").toUtf8());
    qputenv("XDG_CACHE_HOME", b.Path("not-a-folder").toUtf8());
    WriteSample(b.Path("src/one.png"), 1);
    b.Queue("src/one.png");
    const bool root_had_temp = QFile::exists("/temp.png");
    Controls(b.form).PushButton2->click();
    const auto reports = b.harness.dialogs.ErrorReports();
    QCOMPARE(reports.size(), 1);
    QVERIFY(reports[0].text.contains("at line 114"));
    QCOMPARE(b.harness.dialogs.messages.last().text,
             "Done.\n\n1 of 1 files could not be converted:\n" +
                 b.Path("src/one.png") + ": no working folder could be made");
    QCOMPARE(QFile::exists("/temp.png"), root_had_temp);
    QVERIFY(!QFile::exists(b.Path("out/one.jpg")));
  }

  void ReplacedResultKeepsItsMode() {
    Batch b;
    WriteSample(b.Path("src/photo.png"), 1);
    Save(b.Path("out/photo.jpg"), "private");
    QFile::setPermissions(b.Path("out/photo.jpg"),
                          QFile::ReadOwner | QFile::WriteOwner);
    b.Queue("src/photo.png");
    Controls(b.form).PushButton2->click();
    QCOMPARE(b.Messages(), QStringList{"Done."});
    QCOMPARE(QFile::permissions(b.Path("out/photo.jpg")) & 0x0777,
             QFile::ReadUser | QFile::WriteUser);
  }

  // Names with characters that mean something elsewhere convert like any
  // other, and the bar shows them as they are, with the file's share.
  void OddNamesConvertAndShowAsTheyAre() {
    Batch b;
    const QStringList names = {"100%more.png", "what?.png", "star*.png",
                               "a %p %v %m ü 日本.png"};
    for (int i = 0; i < names.size(); ++i) {
      WriteSample(b.Path("src/" + names[i]), i);
      b.Queue("src/" + names[i]);
    }
    QStringList shown;
    QTimer watch;
    connect(&watch, &QTimer::timeout, [&] {
      const QString now =
          Controls(b.form).ProgressBar1->text() + " " +
          QString::number(Controls(b.form).ProgressBar1->value());
      if (shown.value(shown.size() - 1) != now) shown << now;
    });
    watch.start(0);
    Controls(b.form).PushButton2->click();
    watch.stop();
    QCOMPARE(b.Messages(), QStringList{"Done."});
    for (int i = 0; i < names.size(); ++i) {
      QVERIFY(shown.contains("Processing: " + names[i] + " " +
                             QString::number(25 * (i + 1))));
      QVERIFY(QFile::exists(b.Path("out/" + StripJpg(names[i]))));
    }
  }

  // After a quick file the bar shows the next one at once, not only when
  // that one is done.
  void BarShowsEachFileWithinAFrame() {
    Batch b;
    WriteSample(b.Path("src/small.png"), 1);
    WriteSample(b.Path("src/large.png"), 2, 3000, 3000);
    b.Queue("src/small.png");
    b.Queue("src/large.png");
    b.form.show();
    QVERIFY(QTest::qWaitForWindowExposed(&b.form));
    PaintClock clock(Controls(b.form).ProgressBar1, "Processing: large.png");
    Controls(b.form).PushButton2->click();
    QVERIFY(clock.set_at >= 0);
    QVERIFY2(clock.painted_at >= 0 && clock.painted_at - clock.set_at < 150,
             qPrintable(QString("shown %1 ms after it was set")
                            .arg(clock.painted_at - clock.set_at)));
  }

  // As an ordinary user: root may replace a read-only file.
  void ReadOnlyResultIsRefused() {
    QCOMPARE(AsOrdinaryUser([]() -> QString {
               QTemporaryDir cache;
               qputenv("XDG_CACHE_HOME", cache.path().toUtf8());
               Batch b;
               WriteSample(b.Path("src/photo.png"), 1);
               Save(b.Path("out/photo.jpg"), "kept");
               QFile::setPermissions(b.Path("out/photo.jpg"), QFile::ReadOwner);
               b.Queue("src/photo.png");
               Controls(b.form).PushButton2->click();
               CHILD_CHECK(Load(b.Path("out/photo.jpg")) == "kept");
               CHILD_CHECK(b.DoneLines().value(1) ==
                           b.Path("src/photo.png") +
                               ": the JPEG could not be written as " +
                               b.Path("out/photo.jpg") +
                               " (Permission denied)");
               return {};
             }),
             QString());
  }

  // Another user owns the folder TEMP names and keeps replacing every new
  // folder in it with one of their own that holds their own "lumeconv".
  // Nothing of theirs may ever run.
  void AnotherUsersTempFolderIsNotUsed() {
    if (::geteuid() != 0) QSKIP("a second user needs root to set up");
    Batch b;
    QTemporaryDir attack("/tmp/batch-run-attack-XXXXXX");
    QVERIFY(::chmod(qPrintable(attack.path()), 0777) == 0);
    QVERIFY(::chown(qPrintable(attack.path()), 65534, 65534) == 0);
    const QByteArray marker = (attack.path() + "/their-code-ran").toUtf8();
    const pid_t attacker = ::fork();
    if (attacker == 0) {
      if (::setgid(65534) != 0 || ::setuid(65534) != 0) ::_exit(1);
      ReplaceNewFoldersForever(attack.path().toUtf8(), marker);
    }
    qputenv("TEMP", attack.path().toUtf8());
    qputenv("XDG_CACHE_HOME", b.Path("cache").toUtf8());
    for (int i = 0; i < 3; ++i) {
      WriteSample(b.Path(QString("src/%1.png").arg(i)), i);
      b.Queue(QString("src/%1.png").arg(i));
    }
    Controls(b.form).PushButton2->click();
    ::kill(attacker, SIGKILL);
    ::waitpid(attacker, nullptr, 0);
    QVERIFY(!QFile::exists(QString::fromUtf8(marker)));
    QCOMPARE(b.Messages(), QStringList{"Done."});
    for (int i = 0; i < 3; ++i) {
      QCOMPARE(Load(b.Path(QString("out/%1.jpg").arg(i))),
               DirectJpeg(b.Path(QString("src/%1.png").arg(i)), 85));
    }
  }

  // 19,000 failures, some under 4,000-byte paths: the box fits the screen
  // and every failure can be read and copied in its details.
  void DoneBoxFitsTheScreenAndHoldsEveryFailure() {
    QStringList failures;
    for (int i = 0; i < 12; ++i) {
      failures << "/" + QString(4000, 'd') + QString("/f%1.png: gone").arg(i);
    }
    for (int i = 0; i < 19000; ++i)
      failures << QString("/g%1.png: gone").arg(i);
    QtDialogs dialogs(nullptr);
    QSize shown;
    QString details;
    QTimer::singleShot(0, [&] {
      auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
      if (!box) return;
      shown = box->frameGeometry().size();
      details = box->detailedText();
      box->accept();
    });
    dialogs.ShowMessageWithDetails("Brisklume", DoneMessage(20000, failures),
                                   DoneDetails(failures, {}));
    const QSize screen =
        QGuiApplication::primaryScreen()->availableGeometry().size();
    QVERIFY2(
        shown.isValid() && shown.height() <= screen.height() &&
            shown.width() <= screen.width(),
        qPrintable(QString("%1x%2").arg(shown.width()).arg(shown.height())));
    QCOMPARE(details, "Not converted:\n" + failures.join('\n'));
  }

  void DoneListsTenAndCountsTheRest() {
    QStringList failures;
    for (int i = 0; i < 13; ++i) failures << QString("/f%1.png: gone").arg(i);
    const QString text = DoneMessage(20, failures);
    QVERIFY(
        text.startsWith("Done.\n\n13 of 20 files could not be converted:\n"
                        "/f0.png: gone\n"));
    QVERIFY(text.endsWith("/f9.png: gone\nand 3 more."));
    QCOMPARE(DoneMessage(20, {}), QString("Done."));
  }

  void QueueHoldsStillAndSecondClickIsIgnored() {
    Batch b;
    for (int i = 0; i < 3; ++i) {
      WriteSample(b.Path(QString("src/%1.png").arg(i)), i, 400, 300);
      b.Queue(QString("src/%1.png").arg(i));
    }
    int rows_during = -1;
    QStringList captions;
    QTimer watch;
    connect(&watch, &QTimer::timeout,
            [&] { captions << Controls(b.form).ProgressBar1->format(); });
    watch.start(0);
    QTimer::singleShot(0, [&] {
      Controls(b.form).ListView1->setCurrentItem(
          Controls(b.form).ListView1->topLevelItem(0));
      b.form.Pointer().Set(WindowPointer::State::kDefault);  // a hover
      QKeyEvent del(QEvent::KeyPress, Qt::Key_Delete, Qt::NoModifier);
      QCoreApplication::sendEvent(Controls(b.form).ListView1, &del);
      Controls(b.form).PushButton4->click();
      Controls(b.form).PushButton2->click();
      rows_during = b.form.Files().Count();
    });
    Controls(b.form).PushButton2->click();
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

QTEST_MAIN(BatchRunTest)
#include "batch_run_test.moc"
