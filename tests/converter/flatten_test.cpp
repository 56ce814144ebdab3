#include "flatten.h"

#include <QTest>
#include <vector>

using Samples = std::vector<int>;
Q_DECLARE_METATYPE(Samples)

class FlattenTest : public QObject {
  Q_OBJECT

 private slots:
  void ExactValues_data() {
    QTest::addColumn<int>("channels");
    QTest::addColumn<int>("depth");
    QTest::addColumn<Samples>("in");
    QTest::addColumn<Samples>("out");
    QTest::newRow("grey 8 copied")
        << 1 << 8 << Samples{0, 128, 255} << Samples{0, 128, 255};
    QTest::newRow("grey+alpha 8: opaque, clear, half")
        << 2 << 8 << Samples{10, 255, 10, 0, 0, 128} << Samples{10, 255, 127};
    QTest::newRow("rgba 8: hidden colour never shows")
        << 4 << 8 << Samples{255, 0, 0, 0, 0, 0, 255, 255}
        << Samples{255, 255, 255, 0, 0, 255};
    QTest::newRow("grey 16 rounds to nearest")
        << 1 << 16 << Samples{0, 128, 129, 385, 32767, 65535}
        << Samples{0, 0, 1, 1, 127, 255};
    QTest::newRow("rgb 16")
        << 3 << 16 << Samples{65535, 257, 0} << Samples{255, 1, 0};
    QTest::newRow("grey+alpha 16: full precision")
        << 2 << 16 << Samples{0, 65535, 0, 0, 0, 32768, 65535, 1}
        << Samples{0, 255, 127, 255};
    // Alpha 255/65535 is below an 8-bit step: black shows only slightly.
    QTest::newRow("rgba 16: faint alpha")
        << 4 << 16 << Samples{0, 0, 0, 255} << Samples{254, 254, 254};
  }
  void ExactValues() {
    QFETCH(int, channels);
    QFETCH(int, depth);
    QFETCH(Samples, in);
    QFETCH(Samples, out);
    std::vector<uint8_t> bytes;
    for (int v : in) {
      if (depth == 16) {
        const uint16_t s = static_cast<uint16_t>(v);
        bytes.insert(bytes.end(), reinterpret_cast<const uint8_t*>(&s),
                     reinterpret_cast<const uint8_t*>(&s) + 2);
      } else {
        bytes.push_back(static_cast<uint8_t>(v));
      }
    }
    const size_t pixels = in.size() / channels;
    const int components = channels >= 3 ? 3 : 1;
    std::vector<uint8_t> result(pixels * components);
    lumeconv::FlattenRow(bytes.data(), result.data(), pixels, channels, depth);
    QCOMPARE(Samples(result.begin(), result.end()), out);
  }
};

QTEST_GUILESS_MAIN(FlattenTest)
#include "flatten_test.moc"
