#include "jpeg_writer.h"

// jpeglib.h needs the definitions of FILE and size_t first.
#include <jpeglib.h>

#include <QTest>
#include <algorithm>
#include <atomic>
#include <bit>
#include <chrono>
#include <csetjmp>
#include <cstddef>
#include <cstdio>
#include <cstdlib>
#include <exception>
#include <optional>
#include <random>
#include <thread>
#include <vector>

#include "image_reader.h"
#include "optimal_code.h"
#include "output_halves.h"
#include "spare_thread.h"
#include "symbol_counts.h"

// Exported by libjpeg, declared in its private headers.
extern "C" const int jpeg_natural_order[];
extern "C" void jpeg_gen_optimal_table(j_compress_ptr cinfo, JHUFF_TBL* htbl,
                                       long freq[]);

namespace {

using Bytes = std::vector<uint8_t>;

Bytes Written(int width, int height, int components, int quality, int noise,
              lumeconv::SpareThread* spare = nullptr) {
  char* data = nullptr;
  size_t size = 0;
  FILE* out = open_memstream(&data, &size);
  {
    lumeconv::JpegWriter writer(out, width, height, components, quality,
                                lumeconv::PngMetadata{}, spare);
    std::mt19937 random(width * 31 + height);
    Bytes row(size_t(width) * components);
    for (int y = 0; y < height; ++y) {
      for (int x = 0; x < width * components; ++x) {
        // Flat squares between gradients and noise: long zero runs beside
        // full blocks.
        const bool flat = (x / components / 40 + y / 40) % 3 == 0;
        const int value = (x * 3 + y * 2) % 256 / 2 + random() % (noise + 1);
        row[x] = flat ? 128 : static_cast<uint8_t>(std::min(value, 255));
      }
      writer.WriteRow(row.data());
    }
    writer.Finish();
  }
  std::fclose(out);
  Bytes bytes(data, data + size);
  std::free(data);
  return bytes;
}

// libjpeg's errors and warnings end the transcoding, not the test program
// (its own handler calls exit, which a test program does not survive).
struct Refusal {
  jpeg_error_mgr manager;
  std::jmp_buf jump;
};

void Refuse(j_common_ptr cinfo) {
  std::longjmp(reinterpret_cast<Refusal*>(cinfo->err)->jump, 1);
}

void RefuseWarnings(j_common_ptr cinfo, int level) {
  if (level < 0) Refuse(cinfo);
}

// libjpeg's state lives with the caller: what it changes between setjmp
// and longjmp must not be a local of the function that calls setjmp.
struct Transcoding {
  jpeg_decompress_struct in;
  jpeg_compress_struct out;
  Refusal refusal;
};

// The same coefficients with the tables libjpeg itself finds optimal;
// false when libjpeg cannot read them. Holds no C++ objects: libjpeg
// leaves by longjmp.
bool Transcode(Transcoding* t, const Bytes* jpeg, unsigned char** data,
               unsigned long* size) {
  t->in.err = jpeg_std_error(&t->refusal.manager);
  t->out.err = t->in.err;
  t->refusal.manager.error_exit = Refuse;
  t->refusal.manager.emit_message = RefuseWarnings;
  jpeg_create_decompress(&t->in);
  jpeg_create_compress(&t->out);
  if (setjmp(t->refusal.jump) != 0) {
    jpeg_destroy_compress(&t->out);
    jpeg_destroy_decompress(&t->in);
    return false;
  }
  jpeg_mem_src(&t->in, jpeg->data(), jpeg->size());
  jpeg_read_header(&t->in, TRUE);
  jvirt_barray_ptr* coefficients = jpeg_read_coefficients(&t->in);
  jpeg_mem_dest(&t->out, data, size);
  jpeg_copy_critical_parameters(&t->in, &t->out);
  t->out.optimize_coding = TRUE;
  jpeg_write_coefficients(&t->out, coefficients);
  jpeg_finish_compress(&t->out);
  jpeg_finish_decompress(&t->in);
  jpeg_destroy_compress(&t->out);
  jpeg_destroy_decompress(&t->in);
  return true;
}

Bytes OptimisedByLibjpeg(const Bytes& jpeg) {
  Transcoding transcoding{};
  unsigned char* data = nullptr;
  unsigned long size = 0;
  Bytes bytes;
  if (Transcode(&transcoding, &jpeg, &data, &size)) {
    bytes.assign(data, data + size);
  }
  std::free(data);
  return bytes;
}

// libjpeg's code for the counts; false where it refuses them.
bool LibjpegCode(std::vector<long> counts, JHUFF_TBL* table) {
  jpeg_compress_struct cinfo{};
  Refusal refusal;
  cinfo.err = jpeg_std_error(&refusal.manager);
  refusal.manager.error_exit = Refuse;
  jpeg_create_compress(&cinfo);
  const bool built = setjmp(refusal.jump) == 0;
  if (built) jpeg_gen_optimal_table(&cinfo, table, counts.data());
  jpeg_destroy_compress(&cinfo);
  return built;
}

// Coefficient by coefficient, in the words of the JPEG standard (F.1.2).
void CountPlainly(const int16_t* block, int last_dc, long* dc, long* ac) {
  ++dc[std::bit_width(unsigned(std::abs(block[0] - last_dc)))];
  int run = 0;
  for (int k = 1; k < 64; ++k) {
    const int value = block[jpeg_natural_order[k]];
    if (value == 0) {
      ++run;
      continue;
    }
    for (; run > 15; run -= 16) ++ac[0xf0];
    ++ac[run * 16 + std::bit_width(unsigned(std::abs(value)))];
    run = 0;
  }
  if (run > 0) ++ac[0];
}

}  // namespace

class JpegWriterTest : public QObject {
  Q_OBJECT

 private slots:
  void TablesAreTheOnesLibjpegFinds_data() {
    QTest::addColumn<int>("width");
    QTest::addColumn<int>("height");
    QTest::addColumn<int>("components");
    QTest::addColumn<int>("quality");
    QTest::addColumn<int>("noise");
    QTest::newRow("colour 4:2:0, odd size") << 301 << 173 << 3 << 85 << 40;
    QTest::newRow("colour 4:4:4, full noise") << 128 << 96 << 3 << 100 << 255;
    QTest::newRow("grey, sparse") << 257 << 131 << 1 << 50 << 6;
    QTest::newRow("lowest quality") << 200 << 120 << 3 << 1 << 255;
    QTest::newRow("one pixel") << 1 << 1 << 3 << 85 << 0;
  }
  void TablesAreTheOnesLibjpegFinds() {
    QFETCH(int, width);
    QFETCH(int, height);
    QFETCH(int, components);
    QFETCH(int, quality);
    QFETCH(int, noise);
    const Bytes written = Written(width, height, components, quality, noise);
    QVERIFY(written == OptimisedByLibjpeg(written));
  }

  // The data written in two halves, on a lent thread or one after the
  // other, joins into the bytes of one pass: the halves meet at every bit
  // of a byte and beside stuffed bytes, and the lower half's DCs go on from
  // the upper half's. Full noise has more symbols than the tokens have
  // room for, so libjpeg writes its halves; the others are written from
  // the tokens.
  void HalvesJoinAsOnePass_data() {
    QTest::addColumn<int>("width");
    QTest::addColumn<int>("height");
    QTest::addColumn<int>("components");
    QTest::addColumn<int>("quality");
    QTest::addColumn<int>("noise");
    QTest::newRow("colour 4:2:0") << 301 << 173 << 3 << 85 << 40;
    QTest::newRow("colour 4:4:4, full noise") << 128 << 96 << 3 << 100 << 255;
    QTest::newRow("grey, one row of blocks") << 1000 << 8 << 1 << 75 << 20;
    QTest::newRow("two blocks") << 16 << 8 << 1 << 85 << 3;
    QTest::newRow("flat") << 640 << 480 << 3 << 60 << 0;
  }
  void HalvesJoinAsOnePass() {
    QFETCH(int, width);
    QFETCH(int, height);
    QFETCH(int, components);
    QFETCH(int, quality);
    QFETCH(int, noise);
    const Bytes one_pass = Written(width, height, components, quality, noise);
    for (const bool lent : {false, true}) {
      lumeconv::SpareThread spare;
      std::thread lender;
      if (lent) {
        lender = std::thread([&] { spare.Lend(std::chrono::seconds(5)); });
      }
      lumeconv::ForceOutputHalves(true);
      Bytes halves;
      try {
        halves = Written(width, height, components, quality, noise,
                         lent ? &spare : nullptr);
      } catch (const std::exception& error) {
        qWarning("%s", error.what());
      }
      lumeconv::ForceOutputHalves(false);
      spare.Decline();
      if (lender.joinable()) lender.join();
      QVERIFY(halves == one_pass);
    }
  }

  // A writer that will not use the lent thread lets it go at once, rather
  // than keeping it spinning until the end.
  void SpareThreadLetGoWhenUnused() {
    lumeconv::SpareThread spare;
    std::atomic<bool> gone{false};
    std::thread lender([&] {
      spare.Lend(std::chrono::seconds(5));
      gone = true;
    });
    const Bytes small = Written(64, 64, 3, 85, 40, &spare);
    bool let_go = false;
    for (int waited = 0; waited < 100 && !(let_go = gone); ++waited) {
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    spare.Decline();
    lender.join();
    QVERIFY(!small.empty());
    QVERIFY(let_go);
  }

  // Ties, a single symbol, codes cut down to 16 bits and codes too long
  // for libjpeg.
  void CodesAreLibjpegs_data() {
    QTest::addColumn<int>("shape");
    QTest::newRow("photo-like") << 0;
    QTest::newRow("ties") << 1;
    QTest::newRow("a few symbols") << 2;
    QTest::newRow("longer than 16 bits") << 3;
    QTest::newRow("up to and over 32 bits") << 4;
  }
  void CodesAreLibjpegs() {
    QFETCH(int, shape);
    std::mt19937 random(shape);
    for (int round = 0; round < 200; ++round) {
      std::vector<long> counts(257);
      // Counts that grow as Fibonacci's numbers give the longest codes; kept
      // under 10^9, beyond which libjpeg does not look.
      const int used = shape == 4 ? 30 + random() % 8 : 1 + random() % 256;
      for (int i = 0; i < used; ++i) {
        const int s = shape == 2 ? random() % 256 : i;
        const long fibonacci = i < 2 ? 1 : counts[i - 1] + counts[i - 2];
        counts[s] = shape == 0   ? 1 + (random() % 100000 >> random() % 17)
                    : shape == 1 ? 1 + round % 3 + random() % 2
                    : shape == 2 ? 1 + random() % 4
                    : shape == 3 ? std::min<long>(fibonacci, 3000000)
                                 : fibonacci + 1 + random() % 2;
      }
      JHUFF_TBL table{};
      const std::optional<lumeconv::HuffmanCode> code =
          lumeconv::OptimalCode(counts.data());
      QCOMPARE(code.has_value(), LibjpegCode(counts, &table));
      if (!code) continue;
      QVERIFY(std::equal(table.bits, table.bits + 17, code->bits.begin()));
      QVERIFY(std::equal(code->values.begin(),
                         code->values.begin() + code->count, table.huffval));
    }
  }

  void BlockCountsAreLibjpegs() {
    std::mt19937 random(7);
    long dc[2][257] = {};
    long ac[2][257] = {};
    int last_dc = 0;
    for (int b = 0; b < 3000; ++b) {
      // From almost empty to full, so that runs of every length end
      // anywhere, the last one at 62 and at 63 too.
      static constexpr unsigned kZeros[] = {63, 60, 48, 32, 8, 0};
      int16_t block[64];
      for (int16_t& c : block) {
        const int magnitude = 1 + random() % (1 << random() % 10);
        c = random() % 64 < kZeros[b % 6] ? 0
            : random() % 2                ? magnitude
                                          : -magnitude;
      }
      QVERIFY(lumeconv::CountBlock(block, last_dc, 10, dc[0], ac[0]));
      CountPlainly(block, last_dc, dc[1], ac[1]);
      last_dc = block[0];
    }
    QVERIFY(std::equal(dc[0], dc[0] + 257, dc[1]));
    QVERIFY(std::equal(ac[0], ac[0] + 257, ac[1]));
    int16_t too_large[64] = {};
    too_large[1] = 1024;
    QVERIFY(!lumeconv::CountBlock(too_large, 0, 10, dc[0], ac[0]));
    too_large[1] = 0;
    QVERIFY(!lumeconv::CountBlock(too_large, 2048, 10, dc[0], ac[0]));
  }
};

QTEST_GUILESS_MAIN(JpegWriterTest)
#include "jpeg_writer_test.moc"
