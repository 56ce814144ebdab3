#include <fcntl.h>
#include <png.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>
#include <cstdio>
#include <functional>

#include "huffman_rewrite.h"
#include "support/as_ordinary_user.h"
#include "support/fat_mount.h"
#include "support/files.h"
#include "support/lumeconv.h"
#include "support/png_fixture.h"

namespace {

// A 4 x 4 RGB image, written by hand so that each part can be broken.
QByteArray SmallPng(const QByteArray& extra_before_idat = {},
                    const QByteArray& idat_data = {}) {
  QByteArray raw;
  for (int y = 0; y < 4; ++y) raw += QByteArray(1, '\0') + QByteArray(12, 'x');
  return PngSignature() + Ihdr(4, 4, 8, 2, 0) + extra_before_idat +
         Chunk("IDAT", idat_data.isNull() ? Zlib(raw) : idat_data) +
         Chunk("IEND", {});
}

QByteArray FlipByte(QByteArray bytes, qsizetype at) {
  bytes[at] = static_cast<char>(bytes[at] ^ 0x5a);
  return bytes;
}

}  // namespace

using Maker = std::function<void(const QString& png)>;
Q_DECLARE_METATYPE(Maker)

class BadInputTest : public QObject {
  Q_OBJECT

 private slots:
  void ValidHandMadeFileConverts() {
    QTemporaryDir dir;
    Save(dir.filePath("ok.png"), SmallPng());
    QCOMPARE(RunLumeconv({dir.filePath("ok.png")}).code, 0);
    QVERIFY(QFile::exists(dir.filePath("ok.jpg")));
  }

  void RefusedWithoutTouchingTheJpeg_data() {
    QTest::addColumn<Maker>("make");
    QTest::addColumn<int>("code");
    QTest::addColumn<QString>("says");
    const auto bytes = [](QByteArray b) {
      return Maker([b](const QString& p) { Save(p, b); });
    };
    QTest::newRow("missing")
        << Maker([](const QString&) {}) << 3 << "no such file";
    QTest::newRow("a folder")
        << Maker([](const QString& p) { QDir().mkdir(p); }) << 3 << "folder";
    // Opened the ordinary way, a FIFO would wait for a writer forever.
    QTest::newRow("a FIFO") << Maker([](const QString& p) {
      ::mkfifo(QFile::encodeName(p).constData(), 0600);
    }) << 3 << "not a regular file";
    QTest::newRow("empty") << bytes({}) << 4 << "empty";
    QTest::newRow("text") << bytes("hello, this is not an image\n") << 4
                          << "not a PNG";
    QTest::newRow("a JPEG named .png")
        << bytes(QByteArray("\xff\xd8\xff\xe0", 4) + QByteArray(100, 'j')) << 4
        << "not a PNG";
    QTest::newRow("signature only")
        << bytes(PngSignature()) << 5 << "truncated";
    QTest::newRow("cut inside IDAT")
        << bytes(SmallPng().left(60)) << 5 << "truncated";
    QTest::newRow("no IEND")
        << bytes(SmallPng().chopped(12)) << 5 << "truncated";
    QTest::newRow("IHDR checksum")
        << bytes(FlipByte(SmallPng(), 29)) << 5 << "damaged";
    QTest::newRow("IDAT checksum")
        << bytes(FlipByte(SmallPng(), SmallPng().size() - 14)) << 5
        << "damaged";
    QTest::newRow("bad zlib stream")
        << bytes(SmallPng({}, QByteArray("\x78\x9c\xff\xff\xff\xff\x00", 7)))
        << 5 << "damaged";
    // The data is judged before the CRC of the chunk that holds it.
    const QByteArray bad_data = Chunk("IDAT", QByteArray("\xff\xff\xff", 3));
    QTest::newRow("bad zlib stream in a chunk with a bad CRC")
        << bytes(PngSignature() + Ihdr(4, 4, 8, 2, 0) + Chunk("IDAT", "\x78") +
                 Chunk("IDAT", "\x9c") +
                 FlipByte(bad_data, bad_data.size() - 1) + Chunk("IEND", {}))
        << 5 << "invalid data";
    // The chunk walk runs beside the decoder, which fails first here; the
    // walk's verdict is still the one given.
    QTest::newRow("bad zlib stream, and no IEND")
        << bytes(SmallPng({}, QByteArray("\x78\x9c\xff\xff\xff\xff\x00", 7))
                     .chopped(12))
        << 5 << "truncated";
    QTest::newRow("IHDR checksum, and no IEND")
        << bytes(FlipByte(SmallPng(), 29).chopped(12)) << 5 << "truncated";
    QTest::newRow("too little image data")
        << bytes(SmallPng({}, Zlib(QByteArray(20, '\0')))) << 5 << "damaged";
    QTest::newRow("zero width")
        << bytes(PngSignature() + Ihdr(0, 4, 8, 2, 0) + Chunk("IEND", {})) << 5
        << "damaged";
    QTest::newRow("width beyond PNG")
        << bytes(PngSignature() + Ihdr(0x80000000u, 4, 8, 2, 0) +
                 Chunk("IEND", {}))
        << 5 << "damaged";
    QTest::newRow("bad bit depth")
        << bytes(PngSignature() + Ihdr(4, 4, 3, 2, 0) + Chunk("IEND", {})) << 5
        << "damaged";
    QTest::newRow("wider than JPEG")
        << bytes(PngSignature() + Ihdr(65501, 1, 8, 2, 0) +
                 Chunk("IDAT", Zlib(QByteArray(10, '\0'))) + Chunk("IEND", {}))
        << 6 << "65500";
    QTest::newRow("interlaced beyond 1 GiB")
        << bytes(PngSignature() + Ihdr(30000, 30000, 16, 6, 1) +
                 Chunk("IDAT", Zlib(QByteArray(10, '\0'))) + Chunk("IEND", {}))
        << 6 << "1024 MiB";
    QTest::newRow("huge ancillary chunk")
        << bytes(SmallPng(Chunk("zTXt", QByteArray((16 << 20) + 1, 'z')))) << 6
        << "16 MiB";
    QTest::newRow("chunk length out of range")
        << bytes(PngSignature() + QByteArray("\xff\xff\xff\xf0IHDR", 8) +
                 QByteArray(32, '\0'))
        << 5 << "damaged";
    QTest::newRow("unknown critical chunk")
        << bytes(SmallPng(Chunk("ABCD", "x"))) << 5 << "damaged";
  }
  void RefusedWithoutTouchingTheJpeg() {
    QFETCH(Maker, make);
    QFETCH(int, code);
    QFETCH(QString, says);
    QTemporaryDir dir;
    const QString png = dir.filePath("input.png");
    make(png);
    const QByteArray earlier("an earlier JPEG that must survive");
    Save(dir.filePath("input.jpg"), earlier);
    const LumeconvRun run = RunLumeconv({"-q", "85", "-out", "jpeg", png});
    QCOMPARE(run.code, code);
    QVERIFY2(run.error.contains(png) && run.error.contains(says),
             qPrintable(run.error));
    QCOMPARE(run.error.count('\n'), 1);
    QCOMPARE(Load(dir.filePath("input.jpg")), earlier);
    QStringList left =
        QDir(dir.path())
            .entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot);
    left.removeAll("input.png");
    QCOMPARE(left, QStringList{"input.jpg"});
  }

  void RefusesToReplaceItsOwnInput() {
    QTemporaryDir dir;
    Save(dir.filePath("odd.jpg"), SmallPng());
    const LumeconvRun run = RunLumeconv({dir.filePath("odd.jpg")});
    QCOMPARE(run.code, 7);
    QCOMPARE(Load(dir.filePath("odd.jpg")), SmallPng());
  }

  // As an ordinary user: root may write in any folder.
  void UnwritableFolder() {
    QCOMPARE(AsOrdinaryUser([]() -> QString {
               QTemporaryDir dir;
               Save(dir.filePath("ok.png"), SmallPng());
               QFile::setPermissions(dir.path(),
                                     QFile::ReadOwner | QFile::ExeOwner);
               const LumeconvRun run = RunLumeconv({dir.filePath("ok.png")});
               QFile::setPermissions(dir.path(), QFile::ReadOwner |
                                                     QFile::WriteOwner |
                                                     QFile::ExeOwner);
               CHILD_CHECK(run.code == 7);
               CHILD_CHECK(!QFile::exists(dir.filePath("ok.jpg")));
               return {};
             }),
             QString());
  }

  // A header that promises a 1 GB interlaced image, and no data: the rows
  // get memory only as data arrives.
  void TruncatedInterlacedCostsLittle() {
    QTemporaryDir dir;
    const QByteArray png = PngSignature() + Ihdr(16000, 16000, 8, 6, 1) +
                           Chunk("IDAT", {}) + Chunk("IEND", {});
    QVERIFY(png.size() < 80);
    Save(dir.filePath("short.png"), png);
    const QByteArray path = QFile::encodeName(dir.filePath("short.png"));
    const QByteArray program = QFile::encodeName(LumeconvPath());
    const pid_t pid = ::fork();
    if (pid == 0) {
      const int null = ::open("/dev/null", O_WRONLY);
      ::dup2(null, STDERR_FILENO);
      ::execl(program.constData(), "lumeconv", path.constData(), nullptr);
      ::_exit(127);
    }
    int status = 0;
    rusage usage{};
    QCOMPARE(::wait4(pid, &status, 0, &usage), pid);
    QVERIFY(WIFEXITED(status));
    QCOMPARE(WEXITSTATUS(status), 5);
    QVERIFY2(usage.ru_maxrss < 200 * 1024,
             qPrintable(QString("peak %1 KiB").arg(usage.ru_maxrss)));
  }

  // Past a file-size limit the write fails with a message, not in silence.
  void FileSizeLimitIsReported() {
    QTemporaryDir dir;
    PngRecipe recipe;
    recipe.width = 300;
    recipe.height = 300;
    WritePng(dir.filePath("big.png"), recipe);
    const LumeconvRun run = RunLumeconv({dir.filePath("big.png")}, {}, [] {
      const rlimit limit{2000, 2000};
      ::setrlimit(RLIMIT_FSIZE, &limit);
    });
    QCOMPARE(run.code, 7);
    QVERIFY2(run.error.contains("cannot be written"), qPrintable(run.error));
    QVERIFY(!QFile::exists(dir.filePath("big.jpg")));
  }

  // A large image's scratch file lies beside its output, where the result
  // has room, not in the system's temporary folder.
  void ScratchFileLiesBesideTheOutput() {
    QTemporaryDir dir;
    PngRecipe recipe;
    recipe.width = 4500;
    recipe.height = 4500;
    recipe.colour_type = 0;
    WritePng(dir.filePath("large.png"), recipe);
    QProcess process;
    process.start(LumeconvPath(), {dir.filePath("large.png")});
    QVERIFY(process.waitForStarted());
    const QString fds = "/proc/" + QString::number(process.processId()) + "/fd";
    QStringList scratch;
    while (scratch.isEmpty() && !process.waitForFinished(1)) {
      for (const QFileInfo& fd :
           QDir(fds).entryInfoList(QDir::AllEntries | QDir::System)) {
        const QString target = fd.symLinkTarget();
        // ThreadSanitizer keeps a deleted file of its own open.
        if (target.endsWith("(deleted)") && !target.contains("/tsan.")) {
          scratch << target;
        }
      }
    }
    QVERIFY(process.state() == QProcess::NotRunning ||
            process.waitForFinished(30000));
    QCOMPARE(process.exitCode(), 0);
    // The unfinished result, unnamed too, may be seen beside it.
    QVERIFY(!scratch.isEmpty() && scratch.size() <= 2);
    for (const QString& file : scratch) {
      QVERIFY2(file.startsWith(dir.path() + "/"), qPrintable(file));
    }
    // Its tables are those of its own symbols, counted as they were
    // written: optimising them once more changes no byte.
    FILE* in = std::fopen(qPrintable(dir.filePath("large.jpg")), "rb");
    FILE* out = std::fopen(qPrintable(dir.filePath("again.jpg")), "wb");
    lumeconv::OptimiseHuffmanTables(in, out);
    std::fclose(in);
    std::fclose(out);
    QCOMPARE(Load(dir.filePath("again.jpg")), Load(dir.filePath("large.jpg")));
  }

  // On FAT through fusefat, which leaves a file unlinked while open behind
  // and reads it back wrong: a large image still converts, and nothing but
  // its result is left beside it.
  void LargeImageConvertsOnFat() {
    FatMount fat;
    if (!fat.Ready()) QSKIP("no FUSE or no fusefat here");
    QTemporaryDir dir;
    PngRecipe recipe;
    recipe.width = 3500;
    recipe.height = 3500;
    WritePng(dir.filePath("large.png"), recipe);
    QVERIFY(QFile::copy(dir.filePath("large.png"), fat.Path() + "/large.png"));
    QCOMPARE(RunLumeconv({dir.filePath("large.png")}).code, 0);
    const LumeconvRun run = RunLumeconv({fat.Path() + "/large.png"});
    QVERIFY2(run.code == 0, qPrintable(run.error));
    QCOMPARE(Load(fat.Path() + "/large.jpg"), Load(dir.filePath("large.jpg")));
    QCOMPARE(QDir(fat.Path())
                 .entryList(QDir::AllEntries | QDir::Hidden | QDir::System |
                            QDir::NoDotAndDotDot),
             QStringList({"large.jpg", "large.png"}));
  }

  void LongestNamesConvert() {
    QTemporaryDir dir;
    const QString name = QString(251, 'n');  // 255 bytes with ".png"
    Save(dir.filePath(name + ".png"), SmallPng());
    QCOMPARE(RunLumeconv({dir.filePath(name + ".png")}).code, 0);
    QVERIFY(QFile::exists(dir.filePath(name + ".jpg")));
  }

  // The findings are damaged files, or odd ones the readers once disagreed
  // on: each is converted or refused cleanly, with a JPEG exactly when it
  // is converted.
  void FuzzFindingsEndCleanly() {
    const QDir crashers(QStringLiteral(FUZZ_CRASHERS));
    const QStringList names = crashers.entryList(QDir::Files);
    for (const QString& name : names) {
      QTemporaryDir dir;
      QFile::copy(crashers.filePath(name), dir.filePath("case.png"));
      const LumeconvRun run = RunLumeconv({dir.filePath("case.png")});
      QVERIFY2(run.code == 0 || (run.code >= 3 && run.code <= 7),
               qPrintable(name + ": " + QString::number(run.code)));
      QCOMPARE(QFile::exists(dir.filePath("case.jpg")), run.code == 0);
    }
  }
};

QTEST_GUILESS_MAIN(BadInputTest)
#include "bad_input_test.moc"
