#include "reader_agreement.h"

#include <zlib.h>

#include <QDir>
#include <QTemporaryDir>
#include <QTest>
#include <QtEndian>
#include <cstdio>
#include <random>
#include <vector>

#include "byte_source.h"
#include "conversion_error.h"
#include "convert.h"
#include "inflater.h"
#include "libpng_reader.h"
#include "support/as_ordinary_user.h"
#include "support/files.h"
#include "support/lumeconv.h"
#include "support/png_fixture.h"

Q_DECLARE_METATYPE(PngRecipe)

namespace {

// With the inflate in one thread and split over two, the same.
QString Disagreement(const QByteArray& png, bool* accepted) {
  QString found[2];
  for (bool split : {false, true}) {
    lumeconv::ForceSplitInflate(split);
    found[split] = QString::fromStdString(lumeconv::ReaderDisagreement(
        reinterpret_cast<const uint8_t*>(png.constData()), size_t(png.size()),
        accepted));
  }
  lumeconv::ForceSplitInflate(false);
  return found[0].isEmpty() ? found[1] : found[0];
}

QByteArray Jpeg(const QByteArray& png, lumeconv::ImageOpener open) {
  char* buffer = nullptr;
  size_t size = 0;
  FILE* out = open_memstream(&buffer, &size);
  lumeconv::MemorySource source(reinterpret_cast<const uint8_t*>(png.data()),
                                size_t(png.size()));
  lumeconv::ConvertStream(source, out, 85, QDir::tempPath().toStdString(),
                          open);
  std::fclose(out);
  QByteArray jpeg(buffer, qsizetype(size));
  std::free(buffer);
  return jpeg;
}

// Stored rows of `row_bytes` samples, each after a filter byte, with a
// pattern that repeats only every 256 bytes.
QByteArray Rows(int rows, int row_bytes, char filter = 0) {
  QByteArray raw;
  for (int y = 0; y < rows; ++y) {
    raw += filter;
    for (int x = 0; x < row_bytes; ++x) raw += char((x * 7 + y * 13) & 0xff);
  }
  return raw;
}

// The stored passes of a size x size interlaced RGB image, every row with
// `filter`, so that each pass's first row is undone against zeros; the
// middle row of pass `bad_pass` (1 to 7) has filter type 5 instead.
QByteArray InterlacedRows(char filter, int size = 8, int bad_pass = 0) {
  const int x0[7] = {0, 4, 0, 2, 0, 1, 0}, y0[7] = {0, 0, 4, 0, 2, 0, 1};
  const int dx[7] = {8, 8, 4, 4, 2, 2, 1}, dy[7] = {8, 8, 8, 4, 4, 2, 2};
  QByteArray raw;
  for (int p = 0; p < 7; ++p) {
    const int lines = (size - y0[p] + dy[p] - 1) / dy[p];
    const int row_bytes = (size - x0[p] + dx[p] - 1) / dx[p] * 3;
    QByteArray pass = Rows(lines, row_bytes, filter);
    if (p + 1 == bad_pass) pass[lines / 2 * (row_bytes + 1)] = 5;
    raw += pass;
  }
  return raw;
}

QByteArray Rgb(const QByteArray& before, const QByteArray& image_data,
               const QByteArray& after = {}) {
  return PngSignature() + Ihdr(4, 4, 8, 2, 0) + before + image_data + after +
         Chunk("IEND", {});
}

QByteArray Idat(const QByteArray& data) { return Chunk("IDAT", data); }

QByteArray Flip(QByteArray bytes, qsizetype at) {
  bytes[at] = char(bytes[at] ^ 0x5a);
  return bytes;
}

// A zlib stream whose header claims a window of 2^bits bytes, or a preset
// dictionary.
QByteArray WithHeader(QByteArray stream, int bits, bool dictionary) {
  const int cmf = ((bits - 8) << 4) | 8;
  int flg = dictionary ? 0x20 : 0;
  flg += 31 - ((cmf << 8) | flg) % 31;
  stream[0] = char(cmf);
  stream[1] = char(flg);
  return stream;
}

// Deflate's bits, first bit lowest; Huffman codes go first bit first.
struct Bits {
  QByteArray bytes;
  int used = 8;
  void Put(uint32_t value, int count) {
    for (int i = 0; i < count; ++i, ++used) {
      if (used == 8) {
        bytes += '\0';
        used = 0;
      }
      bytes[bytes.size() - 1] = char(bytes.back() | ((value >> i) & 1) << used);
    }
  }
  void PutCode(uint32_t code, int length) {
    for (int i = length - 1; i >= 0; --i) Put(code >> i, 1);
  }
};

// The canonical code of each symbol, from the lengths.
std::vector<uint32_t> Codes(const std::vector<int>& lengths) {
  int count[16] = {};
  for (int length : lengths) ++count[length];
  count[0] = 0;
  uint32_t next[16] = {};
  for (int length = 1, code = 0; length < 16; ++length) {
    code = (code + count[length - 1]) << 1;
    next[length] = uint32_t(code);
  }
  std::vector<uint32_t> codes(lengths.size());
  for (size_t s = 0; s < lengths.size(); ++s) {
    if (lengths[s] != 0) codes[s] = next[lengths[s]]++;
  }
  return codes;
}

// `raw` as literals in one dynamic block of the code lengths given, each
// length sent as it is, in a zlib stream with a 32 KiB window and a right
// checksum: where a set leaves codes unassigned, only the codes in use
// decide whether a decoder that does not check the set accepts it.
QByteArray ZlibWithCodes(const QByteArray& raw, const std::vector<int>& lit,
                         const std::vector<int>& dist,
                         const std::vector<int>& code_lengths) {
  static constexpr int kOrder[19] = {16, 17, 18, 0, 8,  7, 9,  6, 10, 5,
                                     11, 4,  12, 3, 13, 2, 14, 1, 15};
  Bits bits;
  bits.Put(1, 1);
  bits.Put(2, 2);
  bits.Put(uint32_t(lit.size() - 257), 5);
  bits.Put(uint32_t(dist.size() - 1), 5);
  bits.Put(19 - 4, 4);
  for (int symbol : kOrder) bits.Put(uint32_t(code_lengths[symbol]), 3);
  const std::vector<uint32_t> length_codes = Codes(code_lengths);
  for (const std::vector<int>* set : {&lit, &dist}) {
    for (int length : *set) {
      bits.PutCode(length_codes[length], code_lengths[length]);
    }
  }
  const std::vector<uint32_t> lit_codes = Codes(lit);
  for (char c : raw) bits.PutCode(lit_codes[uint8_t(c)], lit[uint8_t(c)]);
  bits.PutCode(lit_codes[256], lit[256]);
  const uLong adler = adler32(adler32(0, nullptr, 0),
                              reinterpret_cast<const Bytef*>(raw.constData()),
                              uInt(raw.size()));
  QByteArray check(4, '\0');
  qToBigEndian(quint32(adler), check.data());
  return QByteArray("\x78\x01", 2) + bits.bytes + check;
}

QByteArray Be16(quint16 v) {
  QByteArray b(2, '\0');
  qToBigEndian(v, b.data());
  return b;
}

// 256 pixels wide, `rows` high, of noise that does not compress, in IDAT
// chunks of 8000 bytes: about 770 bytes a row.
QByteArray NoisyPng(int rows) {
  std::mt19937 random(3);
  QByteArray raw;
  for (int y = 0; y < rows; ++y) {
    raw += char(y % 5);
    for (int x = 0; x < 256 * 3; ++x) raw += char(random());
  }
  const QByteArray z = Zlib(raw);
  QByteArray png = PngSignature() + Ihdr(256, rows, 8, 2, 0);
  for (qsizetype at = 0; at < z.size(); at += 8000)
    png += Idat(z.mid(at, 8000));
  return png + Chunk("IEND", {});
}

}  // namespace

// The converter's own PNG reader against libpng, the reference: on every
// kind of image and on damaged files they must accept the same files and
// give the same pixels and side data, so that the JPEG files are the same.
class ReaderAgreementTest : public QObject {
  Q_OBJECT

 private slots:
  void EveryKindGivesTheSameJpeg_data() {
    QTest::addColumn<PngRecipe>("recipe");
    const struct {
      int colour;
      std::vector<int> depths;
    } kinds[] = {{0, {1, 2, 4, 8, 16}},
                 {2, {8, 16}},
                 {3, {1, 2, 4, 8}},
                 {4, {8, 16}},
                 {6, {8, 16}}};
    const QSize sizes[] = {{1, 1}, {61, 37}, {300, 7}};
    for (const auto& kind : kinds) {
      for (int depth : kind.depths) {
        for (bool interlaced : {false, true}) {
          for (const QSize& size : sizes) {
            PngRecipe recipe;
            recipe.colour_type = kind.colour;
            recipe.bit_depth = depth;
            recipe.interlaced = interlaced;
            recipe.width = uint32_t(size.width());
            recipe.height = uint32_t(size.height());
            recipe.transparent_colour = kind.colour != 4 && kind.colour != 6;
            recipe.seed = uint32_t(depth + size.width());
            QTest::addRow("colour %d depth %d%s %dx%d", kind.colour, depth,
                          interlaced ? " interlaced" : "", size.width(),
                          size.height())
                << recipe;
          }
        }
      }
    }
    // Passes longer than the rows inflated at a time.
    PngRecipe tall;
    tall.width = 1500;
    tall.height = 400;
    tall.interlaced = true;
    QTest::newRow("colour 2 depth 8 interlaced 1500x400") << tall;
    PngRecipe side;
    side.width = 40;
    side.height = 30;
    side.exif = QByteArray("MM\0*\0\0\0\x08\0\0", 10);
    side.ppm_x = 3780;
    side.ppm_y = 2835;
    QTest::newRow("exif and density") << side;
  }
  void EveryKindGivesTheSameJpeg() {
    QFETCH(PngRecipe, recipe);
    QTemporaryDir dir;
    WritePng(dir.filePath("in.png"), recipe);
    const QByteArray png = Load(dir.filePath("in.png"));
    bool accepted = false;
    QCOMPARE(Disagreement(png, &accepted), QString());
    QVERIFY(accepted);
    QCOMPARE(Jpeg(png, lumeconv::OpenPng), Jpeg(png, lumeconv::OpenWithLibpng));
  }

  // The converter reads files through a buffer of its own; as an ordinary
  // user, on the disk and on a tmpfs, it must read exactly what libpng reads,
  // and still refuse a file it may not read.
  // A small file's chunks are walked after decoding, a large one's beside
  // it, on a second cursor over the same descriptor.
  void ReadsFilesAsAnOrdinaryUser_data() {
    QTest::addColumn<QString>("base");
    QTest::addColumn<int>("rows");
    QStringList bases{QDir::tempPath()};
    if (QDir("/dev/shm").exists()) bases << "/dev/shm";
    for (const QString& base : bases) {
      QTest::addRow("%s, 600 KiB", qPrintable(base)) << base << 800;
      QTest::addRow("%s, over 1 MiB", qPrintable(base)) << base << 1400;
    }
  }
  void ReadsFilesAsAnOrdinaryUser() {
    QFETCH(QString, base);
    QFETCH(int, rows);
    const QByteArray png = NoisyPng(rows);
    // Larger than the reader's buffer, so that reading goes past it.
    QVERIFY(png.size() > 512 * 1024);
    const QByteArray expected = Jpeg(png, lumeconv::OpenWithLibpng);
    QCOMPARE(AsOrdinaryUser([&]() -> QString {
               QTemporaryDir dir(base + "/reader-XXXXXX");
               CHILD_CHECK(dir.isValid());
               Save(dir.filePath("noise.png"), png);
               const LumeconvRun run = RunLumeconv({dir.filePath("noise.png")});
               CHILD_CHECK(run.code == 0);
               CHILD_CHECK(Load(dir.filePath("noise.jpg")) == expected);
               Save(dir.filePath("secret.png"), png);
               QFile::setPermissions(dir.filePath("secret.png"),
                                     QFile::WriteOwner);
               CHILD_CHECK(RunLumeconv({dir.filePath("secret.png")}).code == 3);
               return {};
             }),
             QString());
  }

  void SamplesAndFuzzFindingsAgree() {
    QStringList files;
    for (const QString& folder : {QStringLiteral(BUILD_DIR "/Samples"),
                                  QStringLiteral(FUZZ_CRASHERS)}) {
      for (const QString& name : QDir(folder).entryList(QDir::Files)) {
        files << folder + "/" + name;
      }
    }
    QVERIFY(files.size() > 7);
    for (const QString& file : files) {
      bool accepted = false;
      QCOMPARE(Disagreement(Load(file), &accepted), QString());
    }
  }

  void DamagedAndOddFilesAgree_data() {
    QTest::addColumn<QByteArray>("png");
    QTest::addColumn<bool>("accepted");
    const QByteArray raw = Rows(4, 12);
    const QByteArray z = Zlib(raw);
    const QByteArray bad_check = Flip(z, z.size() - 1);
    QByteArray bytewise;
    for (char c : z) bytewise += Idat(QByteArray(1, c));

    QTest::newRow("plain") << Rgb({}, Idat(z)) << true;
    QTest::newRow("image data one byte per chunk") << Rgb({}, bytewise) << true;
    QTest::newRow("empty image data chunks around")
        << Rgb({}, Idat({}) + Idat(z) + Idat({})) << true;
    QTest::newRow("bad checksum beside the last row")
        << Rgb({}, Idat(bad_check)) << false;
    QTest::newRow("bad checksum in a chunk of its own")
        << Rgb({},
               Idat(bad_check.left(z.size() - 4)) + Idat(bad_check.right(4)))
        << true;
    QTest::newRow("checksum missing")
        << Rgb({}, Idat(z.left(z.size() - 4))) << false;
    QTest::newRow("bytes after the stream")
        << Rgb({}, Idat(z + "junk")) << true;
    QTest::newRow("image data chunk after the stream")
        << Rgb({}, Idat(z) + Idat("xx")) << true;
    QTest::newRow("extra chunk with a bad CRC")
        << Rgb({}, Idat(z) + Flip(Idat("xx"), 9)) << false;
    QTest::newRow("image data with a bad CRC")
        << Rgb({}, Flip(Idat(z), 12)) << false;
    QTest::newRow("stream ends a row early")
        << Rgb({}, Idat(Zlib(Rows(3, 12)))) << false;
    QTest::newRow("filter type 5")
        << Rgb({}, Idat(Zlib(Rows(4, 12, 5)))) << false;
    QTest::newRow("every filter type")
        << Rgb({}, Idat(Zlib(Rows(1, 12, 1) + Rows(1, 12, 2) + Rows(1, 12, 3) +
                             Rows(1, 12, 4))))
        << true;
    for (char filter : {2, 3, 4}) {
      QTest::addRow("interlaced, every row with filter %d", filter)
          << PngSignature() + Ihdr(8, 8, 8, 2, 1) +
                 Idat(Zlib(InterlacedRows(filter))) + Chunk("IEND", {})
          << true;
    }
    // Passes large enough to be inflated on a thread of their own.
    const QByteArray large = PngSignature() + Ihdr(1024, 1024, 8, 2, 1);
    const QByteArray passes = InterlacedRows(2, 1024);
    QTest::newRow("large interlaced")
        << large + Idat(Zlib(passes)) + Chunk("IEND", {}) << true;
    QTest::newRow("large interlaced, filter type 5 in the sixth pass")
        << large + Idat(Zlib(InterlacedRows(2, 1024, 6))) + Chunk("IEND", {})
        << false;
    QTest::newRow("large interlaced, stream ends in the fifth pass")
        << large + Idat(Zlib(passes.left(passes.size() / 5))) +
               Chunk("IEND", {})
        << false;

    // Rows of 600 bytes repeat, so matches reach back 601 bytes.
    const QByteArray wide = PngSignature() + Ihdr(200, 4, 8, 2, 0);
    QByteArray repeating;
    for (int y = 0; y < 4; ++y) repeating += Rows(1, 600);
    const QByteArray far = Zlib(repeating);
    QTest::newRow("window as large as needed")
        << wide + Idat(WithHeader(far, 10, false)) + Chunk("IEND", {}) << true;
    QTest::newRow("window smaller than a match reaches")
        << wide + Idat(WithHeader(far, 8, false)) + Chunk("IEND", {}) << false;
    QTest::newRow("preset dictionary")
        << Rgb({}, Idat(WithHeader(z, 15, true))) << false;

    // Code sets that leave codes unassigned, the data using none of those;
    // refused however the stream goes on.
    std::vector<int> all_nine(257, 9);
    std::vector<int> complete(257, 8);
    complete[255] = complete[256] = 9;
    std::vector<int> lengths_9_1(19, 0), lengths_8_9_2(19, 0),
        lengths_8_9_1(19, 0), short_of_one(19, 0);
    lengths_9_1[9] = lengths_9_1[1] = 1;
    lengths_8_9_2[8] = lengths_8_9_1[8] = 1;
    lengths_8_9_2[9] = lengths_8_9_2[2] = lengths_8_9_1[9] = lengths_8_9_1[1] =
        2;
    short_of_one[8] = short_of_one[9] = short_of_one[1] = 2;
    QTest::newRow("literal and length codes incomplete")
        << Rgb({}, Idat(ZlibWithCodes(raw, all_nine, {1}, lengths_9_1)))
        << false;
    QTest::newRow("distance codes incomplete")
        << Rgb({}, Idat(ZlibWithCodes(raw, complete, {2, 2}, lengths_8_9_2)))
        << false;
    QTest::newRow("code length codes incomplete")
        << Rgb({}, Idat(ZlibWithCodes(raw, complete, {1}, short_of_one)))
        << false;
    QTest::newRow("a single distance code of one bit")
        << Rgb({}, Idat(ZlibWithCodes(raw, complete, {1}, lengths_8_9_1)))
        << true;

    QTest::newRow("unknown critical chunk before the image")
        << Rgb(Chunk("ABCD", "x"), Idat(z)) << false;
    // Past the image data only CRCs of critical chunks are checked.
    QTest::newRow("unknown critical chunk after it")
        << Rgb({}, Idat(z), Chunk("ABCD", "x")) << true;
    QTest::newRow("that chunk with a bad CRC")
        << Rgb({}, Idat(z), Flip(Chunk("ABCD", "x"), 8)) << false;
    QTest::newRow("a second header after it")
        << Rgb({}, Idat(z), Ihdr(4, 4, 8, 2, 0)) << false;
    QTest::newRow("side chunk with a bad CRC")
        << Rgb(Flip(Chunk("pHYs", QByteArray(9, '\1')), 10), Idat(z)) << true;
    QTest::newRow("IEND with data")
        << PngSignature() + Ihdr(4, 4, 8, 2, 0) + Idat(z) + Chunk("IEND", "x")
        << true;
    QTest::newRow("bit depth 3")
        << PngSignature() + Ihdr(4, 4, 3, 0, 0) + Idat(z) + Chunk("IEND", {})
        << false;
    QTest::newRow("transparency before a palette voids it")
        << Rgb(Chunk("tRNS", Be16(7) + Be16(14) + Be16(21)) +
                   Chunk("PLTE", QByteArray(6, '\3')),
               Idat(z))
        << true;
    QTest::newRow("palette after the image, RGB")
        << Rgb({}, Idat(z), Chunk("PLTE", QByteArray(3, '\0'))) << true;

    const QByteArray indexed = PngSignature() + Ihdr(4, 4, 8, 3, 0);
    const QByteArray palette = Chunk("PLTE", QByteArray("\xff\0\0\0\xff\0", 6));
    QTest::newRow("index beyond the palette")
        << indexed + palette + Idat(Zlib(Rows(4, 4))) + Chunk("IEND", {})
        << true;
    QTest::newRow("second palette after the image")
        << indexed + palette + Idat(Zlib(Rows(4, 4))) + palette +
               Chunk("IEND", {})
        << true;
    QTest::newRow("no palette")
        << indexed + Idat(Zlib(Rows(4, 4))) + Chunk("IEND", {}) << false;
    QTest::newRow("grey with a 2-bit transparent key")
        << PngSignature() + Ihdr(16, 4, 2, 0, 0) + Chunk("tRNS", Be16(2)) +
               Idat(Zlib(Rows(4, 4))) + Chunk("IEND", {})
        << true;
    QTest::newRow("grey with a 16-bit transparent key")
        << PngSignature() + Ihdr(4, 4, 16, 0, 0) + Chunk("tRNS", Be16(0x0d07)) +
               Idat(Zlib(Rows(4, 8))) + Chunk("IEND", {})
        << true;
  }
  void DamagedAndOddFilesAgree() {
    QFETCH(QByteArray, png);
    QFETCH(bool, accepted);
    bool both = false;
    QCOMPARE(Disagreement(png, &both), QString());
    QCOMPARE(both, accepted);
  }

  // Our reader walks the chunk layout only when asked, when decoding fails
  // or when it finishes; a cut-off file is still refused as truncated, not
  // for the damage the decoder met first, as the reference refuses it.
  void LayoutFaultsComeFirst_data() {
    QTest::addColumn<QByteArray>("png");
    const QByteArray z = Zlib(Rows(4, 12));
    QTest::newRow("header damaged, no IEND")
        << Flip(Rgb({}, Idat(z)), 20).chopped(12);
    QTest::newRow("image data damaged, no IEND")
        << Rgb({}, Idat(QByteArray("\x78\x9c\xff\xff\xff\xff\x00", 7)))
               .chopped(12);
    // Over 1 MiB: walked on a thread of its own.
    const QByteArray large = NoisyPng(1400).chopped(12);
    QTest::newRow("large, image data damaged, no IEND")
        << Flip(large, large.size() / 2);
  }
  void LayoutFaultsComeFirst() {
    QFETCH(QByteArray, png);
    for (const lumeconv::ImageOpener open :
         {lumeconv::OpenPng, lumeconv::OpenWithLibpng}) {
      lumeconv::MemorySource source(
          reinterpret_cast<const uint8_t*>(png.constData()), png.size());
      QString refusal;
      try {
        const auto reader = open(source);
        for (uint32_t y = 0; y < reader->Height(); ++y) reader->NextRow();
        reader->Finish();
      } catch (const lumeconv::ConversionError& error) {
        refusal = error.what();
      }
      QCOMPARE(refusal, QString("is truncated (no IEND chunk)"));
    }
  }
};

QTEST_GUILESS_MAIN(ReaderAgreementTest)
#include "reader_agreement_test.moc"
