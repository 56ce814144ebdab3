#include "unfilter.h"

#include <QTest>
#include <random>
#include <vector>

#include "checksums.h"
#include "unfilter_kernels.h"

Q_DECLARE_METATYPE(lumeconv::FilterKernels)

namespace {

// PNG's Paeth predictor, written as its definition reads.
uint8_t Paeth(int a, int b, int c) {
  const int p = a + b - c;
  const int pa = std::abs(p - a);
  const int pb = std::abs(p - b);
  const int pc = std::abs(p - c);
  if (pa <= pb && pa <= pc) return uint8_t(a);
  return uint8_t(pb <= pc ? b : c);
}

// The filters undone byte by byte, straight from their definitions.
std::vector<uint8_t> Reference(int filter, std::vector<uint8_t> row,
                               const std::vector<uint8_t>& prior, int bpp) {
  for (size_t i = 0; i < row.size(); ++i) {
    const int a = i >= size_t(bpp) ? row[i - bpp] : 0;
    const int b = prior[i];
    const int c = i >= size_t(bpp) ? prior[i - bpp] : 0;
    const int add[] = {0, a, b, (a + b) / 2, Paeth(a, b, c)};
    row[i] = uint8_t(row[i] + add[filter]);
  }
  return row;
}

std::vector<uint8_t> Random(size_t size, std::mt19937& random) {
  std::vector<uint8_t> bytes(size);
  for (uint8_t& b : bytes) b = uint8_t(random());
  return bytes;
}

}  // namespace

class UnfilterTest : public QObject {
  Q_OBJECT

 private slots:
  // Every kernel set this machine can run, every filter, every pixel size
  // and rows of one pixel up to odd lengths, against the definitions.
  void KernelsUndoEveryFilter_data() {
    QTest::addColumn<lumeconv::FilterKernels>("kernels");
    QTest::newRow("portable") << lumeconv::PortableKernels();
    if (const lumeconv::FilterKernels* sse2 = lumeconv::Sse2Kernels()) {
      QTest::newRow("sse2") << *sse2;
    }
    if (const lumeconv::FilterKernels* ssse3 = lumeconv::Ssse3Kernels()) {
      QTest::newRow("ssse3") << *ssse3;
    }
  }
  void KernelsUndoEveryFilter() {
    QFETCH(lumeconv::FilterKernels, kernels);
    std::mt19937 random(7);
    const lumeconv::FilterKernel undo[] = {nullptr, kernels.sub, kernels.up,
                                           kernels.average, kernels.paeth};
    for (int bpp : {1, 2, 3, 4, 6, 8}) {
      for (size_t pixels : {1, 2, 5, 16, 333}) {
        const size_t size = pixels * bpp;
        for (int filter = 1; filter <= 4; ++filter) {
          const std::vector<uint8_t> prior = Random(size, random);
          std::vector<uint8_t> row = Random(size, random);
          const std::vector<uint8_t> expected =
              Reference(filter, row, prior, bpp);
          undo[filter](row.data(), prior.data(), size, bpp);
          QVERIFY2(row == expected,
                   qPrintable(QString("filter %1, %2 bytes a pixel, %3 pixels")
                                  .arg(filter)
                                  .arg(bpp)
                                  .arg(pixels)));
        }
      }
    }
  }

  // Two rows undone together, the second below the first, as one after the
  // other would give; lengths around the vector blocks of each pixel size.
  void PairKernelsMatchOneRowAtATime_data() { KernelsUndoEveryFilter_data(); }
  void PairKernelsMatchOneRowAtATime() {
    QFETCH(lumeconv::FilterKernels, kernels);
    std::mt19937 random(11);
    const struct {
      int filter;
      lumeconv::PairKernel undo;
    } pairs[] = {{3, kernels.average_pair}, {4, kernels.paeth_pair}};
    for (const auto& pair : pairs) {
      for (int bpp : {1, 2, 3, 4, 6, 8}) {
        for (size_t pixels : {1, 5, 10, 11, 12, 13, 15, 21, 640}) {
          const size_t size = pixels * bpp;
          const std::vector<uint8_t> prior = Random(size, random);
          std::vector<uint8_t> first = Random(size, random);
          std::vector<uint8_t> second = Random(size, random);
          const std::vector<uint8_t> expected_first =
              Reference(pair.filter, first, prior, bpp);
          const std::vector<uint8_t> expected_second =
              Reference(pair.filter, second, expected_first, bpp);
          pair.undo(first.data(), second.data(), prior.data(), size, bpp);
          QVERIFY2(first == expected_first && second == expected_second,
                   qPrintable(QString("filter %1, %2 bytes a pixel, %3 pixels")
                                  .arg(pair.filter)
                                  .arg(bpp)
                                  .arg(pixels)));
        }
      }
    }
  }

  // Any two filters, the same or not, through the one entry point; a
  // filter PNG does not define, in either row, is refused.
  void PairsOfAnyFilters() {
    std::mt19937 random(13);
    const size_t size = 99 * 3;
    for (int one = 0; one <= 5; ++one) {
      for (int two = 0; two <= 5; ++two) {
        const std::vector<uint8_t> prior = Random(size, random);
        std::vector<uint8_t> first = Random(size, random);
        std::vector<uint8_t> second = Random(size, random);
        const bool defined = one <= 4 && two <= 4;
        const std::vector<uint8_t> expected_first =
            defined ? Reference(one, first, prior, 3) : first;
        const std::vector<uint8_t> expected_second =
            defined ? Reference(two, second, expected_first, 3) : second;
        QCOMPARE(
            lumeconv::UnfilterPair(uint8_t(one), first.data(), uint8_t(two),
                                   second.data(), prior.data(), size, 3),
            defined);
        if (defined) {
          QVERIFY2(first == expected_first && second == expected_second,
                   qPrintable(QString("filters %1 and %2").arg(one).arg(two)));
        }
      }
    }
  }

  void UnknownFilterIsRefused() {
    std::vector<uint8_t> row(6, 1);
    const std::vector<uint8_t> prior(6, 2);
    QVERIFY(!lumeconv::Unfilter(5, row.data(), prior.data(), 6, 3));
    QVERIFY(lumeconv::Unfilter(0, row.data(), prior.data(), 6, 3));
    QCOMPARE(row, std::vector<uint8_t>(6, 1));
  }

  void CrcMatchesPngs() {
    // The CRC of an IEND chunk's type, as every PNG file ends with it.
    const uint8_t iend[] = {'I', 'E', 'N', 'D'};
    QCOMPARE(lumeconv::Crc32(0, iend, 4), 0xae426082u);
    const uint8_t split[] = {'I', 'E'};
    QCOMPARE(lumeconv::Crc32(lumeconv::Crc32(0, split, 2), iend + 2, 2),
             0xae426082u);
  }
};

QTEST_GUILESS_MAIN(UnfilterTest)
#include "unfilter_test.moc"
