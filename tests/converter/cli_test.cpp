#include <QDir>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>

#include "jpeg_probe.h"
#include "support/files.h"
#include "support/lumeconv.h"
#include "support/png_fixture.h"

class CliTest : public QObject {
  Q_OBJECT

 private slots:
  void Arguments_data() {
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<int>("code");
    QTest::addColumn<int>("quality");  // of the JPEG written, 0 for none
    QTest::newRow("as the program calls it")
        << QStringList{"-q", "85", "-out", "jpeg", "@"} << 0 << 85;
    QTest::newRow("input first")
        << QStringList{"@", "-out", "jpg", "-q", "30"} << 0 << 30;
    QTest::newRow("default quality") << QStringList{"@"} << 0 << 85;
    QTest::newRow("quality 1") << QStringList{"-q", "1", "@"} << 0 << 1;
    QTest::newRow("quality 0") << QStringList{"-q", "0", "@"} << 2 << 0;
    QTest::newRow("quality 101") << QStringList{"-q", "101", "@"} << 2 << 0;
    QTest::newRow("quality fraction")
        << QStringList{"-q", "8.5", "@"} << 2 << 0;
    QTest::newRow("quality signed") << QStringList{"-q", "+5", "@"} << 2 << 0;
    QTest::newRow("quality missing") << QStringList{"@", "-q"} << 2 << 0;
    QTest::newRow("other format") << QStringList{"-out", "png", "@"} << 2 << 0;
    QTest::newRow("unknown option") << QStringList{"-x", "@"} << 2 << 0;
    QTest::newRow("two inputs") << QStringList{"@", "@"} << 2 << 0;
    QTest::newRow("no input") << QStringList{"-q", "50"} << 2 << 0;
    QTest::newRow("empty name") << QStringList{"-q", "50", ""} << 2 << 0;
    QTest::newRow("end of options")
        << QStringList{"-q", "40", "--", "@"} << 0 << 40;
    QTest::newRow("two inputs after the end of options")
        << QStringList{"--", "@", "@"} << 2 << 0;
  }
  void NameBeginningWithADash() {
    QTemporaryDir dir;
    WritePng(dir.filePath("-in.png"), PngRecipe{});
    QCOMPARE(RunLumeconv({"-q", "70", "--", "-in.png"}, dir.path()).code, 0);
    QVERIFY(QFile::exists(dir.filePath("-in.jpg")));
  }

  void Arguments() {
    QFETCH(QStringList, arguments);
    QFETCH(int, code);
    QFETCH(int, quality);
    QTemporaryDir dir;
    PngRecipe recipe;
    recipe.width = 64;
    recipe.height = 64;
    WritePng(dir.filePath("in.png"), recipe);
    arguments.replaceInStrings("@", dir.filePath("in.png"));
    const LumeconvRun result = RunLumeconv(arguments);
    QCOMPARE(result.code, code);
    QCOMPARE(QFile::exists(dir.filePath("in.jpg")), quality > 0);
    if (code == 2) QVERIFY(result.error.contains("usage: lumeconv"));
    if (arguments.contains("")) {
      QVERIFY(result.error.contains("the input file name is empty"));
    }
    if (quality == 0) return;
    // The same image through the same quality gives the same bytes.
    QTemporaryDir again;
    WritePng(again.filePath("in.png"), recipe);
    RunLumeconv({"-q", QString::number(quality), again.filePath("in.png")});
    QFile a(dir.filePath("in.jpg"));
    QFile b(again.filePath("in.jpg"));
    QVERIFY(a.open(QIODevice::ReadOnly) && b.open(QIODevice::ReadOnly));
    QCOMPARE(a.readAll(), b.readAll());
  }

  void HelpNamesEveryOptionAndCode() {
    const LumeconvRun result = RunLumeconv({"--help"});
    QCOMPARE(result.code, 0);
    for (const char* text : {"-q QUALITY", "(default 85)", "-out FORMAT",
                             "(default jpeg)", "--version", "Exit codes"}) {
      QVERIFY2(result.out.contains(text), text);
    }
    for (int code : {0, 1, 2, 3, 4, 5, 6, 7}) {
      QVERIFY(result.out.contains(QString("  %1  ").arg(code)));
    }
  }

  void Version() {
    const LumeconvRun result = RunLumeconv({"--version"});
    QCOMPARE(result.code, 0);
    QVERIFY(result.out.startsWith("lumeconv "));
  }

  // What a JPEG cannot carry is left out with a warning, and the JPEG is
  // still written.
  void LeftOutMetadataIsAWarning() {
    QTemporaryDir dir;
    QByteArray rows;
    for (int y = 0; y < 8; ++y)
      rows += QByteArray(1, '\0') + QByteArray(8, 'd');
    QVERIFY(Save(dir.filePath("exif.png"),
                 PngSignature() + Ihdr(8, 8, 8, 0, 0) +
                     Chunk("eXIf", QByteArray("MM\0*\0\0\0\x08", 8) +
                                       QByteArray(70000, 'x')) +
                     Chunk("IDAT", Zlib(rows)) + Chunk("IEND", {})));
    const LumeconvRun run = RunLumeconv({dir.filePath("exif.png")});
    QCOMPARE(run.code, 0);
    QCOMPARE(run.error, "lumeconv: " + dir.filePath("exif.png") +
                            ": warning: its Exif data (70008 bytes) is larger "
                            "than a JPEG can carry (65527 bytes) and was left "
                            "out\n");
    QVERIFY(QFile::exists(dir.filePath("exif.jpg")));
  }

  // Killed outright while writing, lumeconv leaves nothing beside its
  // input: the JPEG has no name until it is complete.
  void KilledLeavesNothing() {
    QTemporaryDir dir;
    PngRecipe recipe;
    recipe.width = 6000;
    recipe.height = 6000;
    WritePng(dir.filePath("big.png"), recipe);
    QProcess process;
    process.start(LumeconvPath(), {dir.filePath("big.png")});
    QVERIFY(process.waitForStarted());
    QTest::qWait(150);
    QVERIFY2(process.state() == QProcess::Running, "converted too soon");
    process.kill();
    QVERIFY(process.waitForFinished(10000));
    QCOMPARE(QDir(dir.path()).entryList(QDir::Files | QDir::Hidden),
             QStringList{"big.png"});
  }

  // A text that cannot be written out is a failure.
  void FullStandardOutputFails_data() {
    QTest::addColumn<QString>("option");
    QTest::newRow("help") << "--help";
    QTest::newRow("version") << "--version";
  }
  void FullStandardOutputFails() {
    QFETCH(QString, option);
    QProcess process;
    process.setStandardOutputFile("/dev/full");
    process.start(LumeconvPath(), {option});
    QVERIFY(process.waitForFinished(30000));
    QCOMPARE(process.exitCode(), 1);
    QVERIFY(process.readAllStandardError().contains("No space left"));
  }
};

QTEST_GUILESS_MAIN(CliTest)
#include "cli_test.moc"
