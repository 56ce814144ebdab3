#include <png.h>

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>
#include <QtEndian>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <future>

#include "byte_source.h"
#include "conversion_error.h"
#include "convert.h"
#include "jpeg_probe.h"
#include "support/files.h"
#include "support/png_fixture.h"

Q_DECLARE_METATYPE(PngRecipe)

namespace {

struct Error {
  double mean = 0;
  double worst = 0;
};

Error Compare(const PngRecipe& recipe, const JpegProbe& jpeg) {
  Error error;
  double total = 0;
  size_t count = 0;
  for (uint32_t y = 0; y < recipe.height; ++y) {
    for (uint32_t x = 0; x < recipe.width; ++x) {
      const std::vector<double> expected = ExpectedColour(recipe, x, y);
      for (int c = 0; c < jpeg.components; ++c) {
        const double e = std::abs(jpeg.Sample(x, y, c) - expected[c]);
        total += e;
        error.worst = std::max(error.worst, e);
        ++count;
      }
    }
  }
  error.mean = total / count;
  return error;
}

PngRecipe Recipe(int colour, int depth, bool interlaced = false,
                 bool transparent = false) {
  PngRecipe recipe;
  recipe.width = 61;  // not a whole number of blocks
  recipe.height = 37;
  recipe.colour_type = colour;
  recipe.bit_depth = depth;
  recipe.interlaced = interlaced;
  recipe.transparent_colour = transparent;
  return recipe;
}

// A tall grey image whose rows fail to finish at one row, as a damaged row
// would, while the decoding thread still has many rows to go.
class FailingRows : public lumeconv::ImageReader {
 public:
  static constexpr uint32_t kFailAt = 300;

  FailingRows() {
    width_ = 64;
    height_ = 20000;
    components_ = 1;
    row_.assign(width_, 128);
  }
  const uint8_t* NextRawRow() override { return row_.data(); }
  const uint8_t* FinishRow(const uint8_t* raw,
                           std::vector<uint8_t>& scratch) override {
    static_cast<void>(scratch);
    if (++finished_ == kFailAt) {
      throw lumeconv::ConversionError(lumeconv::kExitDamaged, "row refused");
    }
    return raw;
  }
  void Finish() override {}

 private:
  std::vector<uint8_t> row_;
  uint32_t finished_ = 0;
};

std::unique_ptr<lumeconv::ImageReader> OpenFailingRows(lumeconv::ByteSource&) {
  return std::make_unique<FailingRows>();
}

}  // namespace

class ConversionTest : public QObject {
  Q_OBJECT

 private slots:
  void EveryKindOfPng_data() {
    QTest::addColumn<PngRecipe>("recipe");
    QTest::addColumn<int>("components");
    const struct {
      const char* name;
      int colour;
      std::vector<int> depths;
      int components;
    } kinds[] = {
        {"grey", PNG_COLOR_TYPE_GRAY, {1, 2, 4, 8, 16}, 1},
        {"grey+alpha", PNG_COLOR_TYPE_GRAY_ALPHA, {8, 16}, 1},
        {"rgb", PNG_COLOR_TYPE_RGB, {8, 16}, 3},
        {"rgba", PNG_COLOR_TYPE_RGB_ALPHA, {8, 16}, 3},
        {"palette", PNG_COLOR_TYPE_PALETTE, {1, 2, 4, 8}, 3},
    };
    for (const auto& kind : kinds) {
      for (int depth : kind.depths) {
        for (bool interlaced : {false, true}) {
          const QByteArray name = QByteArray(kind.name) + " " +
                                  QByteArray::number(depth) +
                                  (interlaced ? " adam7" : "");
          QTest::newRow(name.constData())
              << Recipe(kind.colour, depth, interlaced) << kind.components;
        }
      }
    }
    for (int depth : {1, 2, 4, 8}) {
      QTest::newRow(qPrintable(QString("palette %1 tRNS").arg(depth)))
          << Recipe(PNG_COLOR_TYPE_PALETTE, depth, false, true) << 3;
    }
    for (int depth : {1, 8, 16}) {
      QTest::newRow(qPrintable(QString("grey %1 tRNS").arg(depth)))
          << Recipe(PNG_COLOR_TYPE_GRAY, depth, false, true) << 1;
    }
    for (int depth : {8, 16}) {
      QTest::newRow(qPrintable(QString("rgb %1 tRNS adam7").arg(depth)))
          << Recipe(PNG_COLOR_TYPE_RGB, depth, true, true) << 3;
    }
    // Taller than a band of rows: the row above each band comes from the
    // band before, whichever thread undoes the filters.
    for (int colour : {PNG_COLOR_TYPE_GRAY, PNG_COLOR_TYPE_RGB}) {
      PngRecipe tall = Recipe(colour, 8);
      tall.height = 300;
      const bool grey = colour == PNG_COLOR_TYPE_GRAY;
      QTest::newRow(grey ? "grey 8 tall" : "rgb 8 tall")
          << tall << (grey ? 1 : 3);
    }
  }
  void EveryKindOfPng() {
    QFETCH(PngRecipe, recipe);
    QFETCH(int, components);
    QTemporaryDir dir;
    const QString png = dir.filePath("image.png");
    WritePng(png, recipe);
    const std::string jpg = lumeconv::ConvertFile(png.toStdString(), 100);
    QCOMPARE(QString::fromStdString(jpg), dir.filePath("image.jpg"));
    const JpegProbe probe = ProbeJpeg(dir.filePath("image.jpg"));
    QVERIFY(probe.ok);
    QCOMPARE(probe.width, recipe.width);
    QCOMPARE(probe.height, recipe.height);
    QCOMPARE(probe.components, components);
    QVERIFY(!probe.progressive);
    const Error error = Compare(recipe, probe);
    // Quality 100 with full chroma: only rounding and the colour transform
    // separate the result from the flattened source. Sharp palette edges
    // ring a little more.
    QVERIFY2(error.mean < 1.5, qPrintable(QString::number(error.mean)));
    QVERIFY2(error.worst < 24, qPrintable(QString::number(error.worst)));
  }

  void TransparentPixelsBecomeWhite() {
    QTemporaryDir dir;
    PngRecipe recipe;
    recipe.width = 32;
    recipe.height = 32;
    recipe.colour_type = PNG_COLOR_TYPE_RGB_ALPHA;
    recipe.bit_depth = 16;
    // Every sample of this image is its ramp; alpha 0 where the ramp is 0,
    // so the top-left corner is a black pixel made invisible.
    WritePng(dir.filePath("clear.png"), recipe);
    lumeconv::ConvertFile(dir.filePath("clear.png").toStdString(), 95);
    const JpegProbe probe = ProbeJpeg(dir.filePath("clear.jpg"));
    QVERIFY(probe.ok);
    for (int c = 0; c < 3; ++c) QVERIFY(probe.Sample(0, 0, c) > 235);
  }

  void QualityAndChroma_data() {
    QTest::addColumn<int>("quality");
    QTest::addColumn<int>("luma_sampling");
    QTest::newRow("10") << 10 << 2;
    QTest::newRow("89") << 89 << 2;
    QTest::newRow("90") << 90 << 1;
    QTest::newRow("100") << 100 << 1;
  }
  void QualityAndChroma() {
    QFETCH(int, quality);
    QFETCH(int, luma_sampling);
    QTemporaryDir dir;
    PngRecipe recipe = Recipe(PNG_COLOR_TYPE_RGB, 8);
    WritePng(dir.filePath("q.png"), recipe);
    lumeconv::ConvertFile(dir.filePath("q.png").toStdString(), quality);
    const JpegProbe probe = ProbeJpeg(dir.filePath("q.jpg"));
    QVERIFY(probe.ok);
    QCOMPARE(probe.luma_sampling, luma_sampling);
    const Error error = Compare(recipe, probe);
    QVERIFY2(error.mean < (quality < 50 ? 12 : 4),
             qPrintable(QString::number(error.mean)));
  }

  void LowerQualityGivesSmallerFile() {
    QTemporaryDir dir;
    WritePng(dir.filePath("a.png"), Recipe(PNG_COLOR_TYPE_RGB, 8));
    qint64 sizes[2];
    const int qualities[2] = {20, 95};
    for (int i = 0; i < 2; ++i) {
      lumeconv::ConvertFile(dir.filePath("a.png").toStdString(), qualities[i]);
      sizes[i] = QFileInfo(dir.filePath("a.jpg")).size();
    }
    QVERIFY(sizes[0] < sizes[1]);
  }

  void MetadataIsCarriedOver() {
    QTemporaryDir dir;
    PngRecipe recipe = Recipe(PNG_COLOR_TYPE_RGB, 8);
    // A made-up monitor profile: a sound header, no tags, filler after it.
    QByteArray profile(3000, '\0');
    for (int i = 132; i < profile.size(); ++i) profile[i] = char(i * 31);
    qToBigEndian<quint32>(3000, profile.data());
    qToBigEndian<quint32>(0x02100000, profile.data() + 8);
    std::memcpy(profile.data() + 12, "mntrRGB XYZ ", 12);
    std::memcpy(profile.data() + 36, "acsp", 4);
    qToBigEndian<quint32>(0xF6D6, profile.data() + 68);  // D50 white
    qToBigEndian<quint32>(0x10000, profile.data() + 72);
    qToBigEndian<quint32>(0xD32D, profile.data() + 76);
    recipe.icc_profile = profile;
    recipe.exif = QByteArray("MM\0*\0\0\0\x08\0\0\0\0\0\0", 14);
    recipe.ppm_x = 11811;  // 300 dpi
    recipe.ppm_y = 5906;   // 150 dpi
    WritePng(dir.filePath("meta.png"), recipe);
    lumeconv::ConvertFile(dir.filePath("meta.png").toStdString(), 85);
    const JpegProbe probe = ProbeJpeg(dir.filePath("meta.jpg"));
    QVERIFY(probe.ok);
    QCOMPARE(probe.icc_profile, profile);
    QCOMPARE(probe.exif, recipe.exif);
    QCOMPARE(probe.density_unit, 1);
    QCOMPARE(probe.x_density, 300);
    QCOMPARE(probe.y_density, 150);
  }

  // Dots per metre become whichever of dots per inch or per centimetre
  // keeps them closest.
  void DensityInTheClosestUnit_data() {
    QTest::addColumn<int>("per_metre");
    QTest::addColumn<int>("unit");
    QTest::addColumn<int>("density");
    QTest::newRow("72 dpi") << 2835 << 1 << 72;
    QTest::newRow("300 dpi") << 11811 << 1 << 300;
    QTest::newRow("1 per cm") << 100 << 2 << 1;
    QTest::newRow("50 per cm") << 5000 << 2 << 50;
    QTest::newRow("beyond JFIF") << 2000000000 << 2 << 65535;
  }
  void DensityInTheClosestUnit() {
    QFETCH(int, per_metre);
    QFETCH(int, unit);
    QFETCH(int, density);
    QTemporaryDir dir;
    PngRecipe recipe = Recipe(PNG_COLOR_TYPE_GRAY, 8);
    recipe.ppm_x = recipe.ppm_y = uint32_t(per_metre);
    WritePng(dir.filePath("d.png"), recipe);
    lumeconv::ConvertFile(dir.filePath("d.png").toStdString(), 85);
    const JpegProbe probe = ProbeJpeg(dir.filePath("d.jpg"));
    QCOMPARE(probe.density_unit, unit);
    QCOMPARE(probe.x_density, density);
    QCOMPARE(probe.y_density, density);
  }

  // A profile over 255 APP2 segments or Exif over one APP1 segment cannot
  // be carried: it is left out whole, and said to be.
  void MetadataTooLargeIsLeftOutAndTold() {
    QTemporaryDir dir;
    // Written chunk by chunk: libpng will not write such a profile.
    QByteArray profile(16778216, '\0');
    qToBigEndian<quint32>(16778216, profile.data());
    std::memcpy(profile.data() + 12, "mntrGRAYXYZ ", 12);
    std::memcpy(profile.data() + 36, "acsp", 4);
    const QByteArray exif =
        QByteArray("MM\0*\0\0\0\x08", 8) + QByteArray(70000, 'x');
    QByteArray rows;
    for (int y = 0; y < 16; ++y)
      rows += QByteArray(1, '\0') + QByteArray(16, 'd');
    QVERIFY(Save(dir.filePath("big.png"),
                 PngSignature() + Ihdr(16, 16, 8, 0, 0) +
                     Chunk("iCCP", QByteArray("icc\0\0", 5) + Zlib(profile)) +
                     Chunk("eXIf", exif) + Chunk("IDAT", Zlib(rows)) +
                     Chunk("IEND", {})));
    std::vector<std::string> left_out;
    lumeconv::ConvertFile(dir.filePath("big.png").toStdString(), 85,
                          lumeconv::OpenPng, &left_out);
    QCOMPARE(left_out,
             std::vector<std::string>(
                 {"its colour profile (16778216 bytes) is larger than a JPEG "
                  "can carry (16707345 bytes) and was left out",
                  "its Exif data (70008 bytes) is larger than a JPEG can "
                  "carry (65527 bytes) and was left out"}));
    const JpegProbe probe = ProbeJpeg(dir.filePath("big.jpg"));
    QVERIFY(probe.ok);
    QVERIFY(probe.icc_profile.isEmpty());
    QVERIFY(probe.exif.isEmpty());
  }

  void NothingInventedWithoutMetadata() {
    QTemporaryDir dir;
    WritePng(dir.filePath("plain.png"), Recipe(PNG_COLOR_TYPE_GRAY, 8));
    lumeconv::ConvertFile(dir.filePath("plain.png").toStdString(), 85);
    const JpegProbe probe = ProbeJpeg(dir.filePath("plain.jpg"));
    QVERIFY(probe.icc_profile.isEmpty());
    QVERIFY(probe.exif.isEmpty());
    QCOMPARE(probe.density_unit, 0);
    QCOMPARE(probe.x_density, 1);
    QCOMPARE(probe.y_density, 1);
  }

  // The decoding thread must stop when the encoding side gives up;
  // otherwise the conversion never returns.
  void EncodingFailureStopsTheDecoding() {
    std::FILE* out = std::tmpfile();
    QVERIFY(out);
    auto conversion = std::async(std::launch::async, [out] {
      lumeconv::MemorySource none(nullptr, 0);
      try {
        lumeconv::ConvertStream(none, out, 85, QDir::tempPath().toStdString(),
                                OpenFailingRows);
      } catch (const lumeconv::ConversionError& error) {
        return std::string(error.what());
      }
      return std::string("no error");
    });
    if (conversion.wait_for(std::chrono::seconds(30)) !=
        std::future_status::ready) {
      std::fputs("FAIL: the conversion still runs after its error\n", stderr);
      std::abort();
    }
    QCOMPARE(conversion.get(), std::string("row refused"));
    std::fclose(out);
  }

  void OutputNaming_data() {
    QTest::addColumn<QString>("input");
    QTest::addColumn<QString>("output");
    QTest::newRow("upper-case extension") << "/d/photo.PNG"
                                          << "/d/photo.jpg";
    QTest::newRow("two dots") << "/d/a.b.png"
                              << "/d/a.b.jpg";
    QTest::newRow("only a leading dot") << "/d/.png"
                                        << "/d/.png.jpg";
    QTest::newRow("no extension") << "/d/pic"
                                  << "/d/pic.jpg";
    QTest::newRow("dot in the folder") << "/d.x/pic"
                                       << "/d.x/pic.jpg";
    QTest::newRow("relative") << "temp.png"
                              << "temp.jpg";
  }
  void OutputNaming() {
    QFETCH(QString, input);
    QFETCH(QString, output);
    QCOMPARE(
        QString::fromStdString(lumeconv::OutputPathFor(input.toStdString())),
        output);
  }
};

QTEST_GUILESS_MAIN(ConversionTest)
#include "conversion_test.moc"
