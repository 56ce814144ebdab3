#include "huffman_rewrite.h"

#include <jpeglib.h>

#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>
#include <QTest>
#include <cstddef>
#include <cstdio>
#include <random>

#include "conversion_error.h"
#include "jpeg_probe.h"

namespace {

// A JPEG with the standard tables, as the encoder writes a large image.
void WriteStandardJpeg(const QString& path, int width, int height,
                       int components, int luma_sampling, int quality) {
  FILE* file = std::fopen(qPrintable(path), "wb");
  jpeg_compress_struct cinfo{};
  jpeg_error_mgr error{};
  cinfo.err = jpeg_std_error(&error);
  jpeg_create_compress(&cinfo);
  jpeg_stdio_dest(&cinfo, file);
  cinfo.image_width = width;
  cinfo.image_height = height;
  cinfo.input_components = components;
  cinfo.in_color_space = components == 3 ? JCS_RGB : JCS_GRAYSCALE;
  jpeg_set_defaults(&cinfo);
  jpeg_set_quality(&cinfo, quality, TRUE);
  cinfo.comp_info[0].h_samp_factor = luma_sampling;
  cinfo.comp_info[0].v_samp_factor = luma_sampling;
  jpeg_start_compress(&cinfo, TRUE);
  std::mt19937 random(width * 7 + height);
  std::vector<uint8_t> row(size_t(width) * components);
  for (int y = 0; y < height; ++y) {
    for (int x = 0; x < width * components; ++x) {
      row[x] = static_cast<uint8_t>((x * 3 + y * 2) % 256 / 2 + random() % 64);
    }
    JSAMPROW rows[1] = {row.data()};
    jpeg_write_scanlines(&cinfo, rows, 1);
  }
  jpeg_finish_compress(&cinfo);
  jpeg_destroy_compress(&cinfo);
  std::fclose(file);
}

}  // namespace

class HuffmanRewriteTest : public QObject {
  Q_OBJECT

 private slots:
  void SamePixelsSmallerFile_data() {
    QTest::addColumn<int>("width");
    QTest::addColumn<int>("height");
    QTest::addColumn<int>("components");
    QTest::addColumn<int>("sampling");
    QTest::addColumn<int>("quality");
    QTest::newRow("colour 4:2:0, odd size") << 301 << 173 << 3 << 2 << 85;
    QTest::newRow("colour 4:4:4") << 128 << 96 << 3 << 1 << 95;
    QTest::newRow("grey") << 257 << 31 << 1 << 1 << 85;
    QTest::newRow("tiny") << 1 << 1 << 3 << 2 << 50;
    QTest::newRow("low quality") << 200 << 200 << 3 << 2 << 5;
  }
  void SamePixelsSmallerFile() {
    QFETCH(int, width);
    QFETCH(int, height);
    QFETCH(int, components);
    QFETCH(int, sampling);
    QFETCH(int, quality);
    QTemporaryDir dir;
    const QString standard = dir.filePath("standard.jpg");
    const QString optimised = dir.filePath("optimised.jpg");
    WriteStandardJpeg(standard, width, height, components, sampling, quality);
    FILE* in = std::fopen(qPrintable(standard), "rb");
    FILE* out = std::fopen(qPrintable(optimised), "wb");
    lumeconv::OptimiseHuffmanTables(in, out);
    std::fclose(in);
    std::fclose(out);
    const JpegProbe before = ProbeJpeg(standard);
    const JpegProbe after = ProbeJpeg(optimised);
    QVERIFY(before.ok);
    QVERIFY(after.ok);
    QCOMPARE(after.width, before.width);
    QCOMPARE(after.components, before.components);
    QVERIFY(after.pixels == before.pixels);
    QVERIFY(QFileInfo(optimised).size() <= QFileInfo(standard).size());
  }

  // Entropy data cut short, or broken by a marker, is refused, not read on.
  void DamagedEntropyDataIsRefused_data() {
    QTest::addColumn<bool>("marker");
    QTest::addColumn<QString>("said");
    QTest::newRow("cut short") << false << "entropy data ends early";
    QTest::newRow("marker inside") << true << "marker inside entropy data";
  }
  void DamagedEntropyDataIsRefused() {
    QFETCH(bool, marker);
    QFETCH(QString, said);
    QTemporaryDir dir;
    const QString path = dir.filePath("standard.jpg");
    WriteStandardJpeg(path, 64, 64, 3, 2, 85);
    QFile file(path);
    QVERIFY(file.open(QIODevice::ReadWrite));
    QByteArray bytes = file.readAll();
    const qsizetype middle = bytes.indexOf("\xff\xda") + 200;
    if (marker) {
      bytes.insert(middle, "\xff\xd0", 2);
    } else {
      bytes.truncate(middle);
    }
    file.resize(0);
    file.write(bytes);
    file.close();
    FILE* in = std::fopen(qPrintable(path), "rb");
    FILE* out = std::fopen(qPrintable(dir.filePath("out.jpg")), "wb");
    QString refusal;
    try {
      lumeconv::OptimiseHuffmanTables(in, out);
    } catch (const lumeconv::ConversionError& error) {
      refusal = error.what();
    }
    std::fclose(in);
    std::fclose(out);
    QVERIFY2(refusal.contains(said), qPrintable(refusal));
  }
};

QTEST_GUILESS_MAIN(HuffmanRewriteTest)
#include "huffman_rewrite_test.moc"
