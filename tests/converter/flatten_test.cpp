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

  // Every colour over every alpha, in rows whose lengths end a vector step
  // early, exactly, or late.
  void EightBitAlphaMatchesTheDefinition_data() {
    QTest::addColumn<int>("channels");
    QTest::addColumn<int>("pixels");
    for (int channels : {2, 4}) {
      for (int pixels : {1, 7, 8, 9, 15, 16, 17, 31, 33, 65536, 65543}) {
        QTest::addRow("%d channels, %d pixels", channels, pixels)
            << channels << pixels;
      }
    }
  }
  void EightBitAlphaMatchesTheDefinition() {
    QFETCH(int, channels);
    QFETCH(int, pixels);
    const auto colour = [](int i, int c) {
      return static_cast<uint8_t>((i + 85 * c) * (c + 1));
    };
    // Alpha moves from pixel to pixel, and 65536 pixels meet every pair.
    const auto alpha_at = [](int i) {
      return static_cast<uint8_t>((i >> 8) + 97 * i);
    };
    std::vector<uint8_t> in;
    for (int i = 0; i < pixels; ++i) {
      for (int c = 0; c + 1 < channels; ++c) in.push_back(colour(i, c));
      in.push_back(alpha_at(i));
    }
    const int components = channels - 1;
    std::vector<uint8_t> out(size_t(pixels) * components);
    lumeconv::FlattenRow(in.data(), out.data(), pixels, channels, 8);
    for (int i = 0; i < pixels; ++i) {
      const int alpha = alpha_at(i);
      for (int c = 0; c < components; ++c) {
        // Over white, rounded to nearest; 255 is odd, so there is no tie.
        const int mixed = colour(i, c) * alpha + 255 * (255 - alpha);
        const int expected = (2 * mixed + 255) / 510;
        if (out[size_t(i) * components + c] != expected) {
          QFAIL(qPrintable(QString("pixel %1 channel %2: %3, expected %4")
                               .arg(i)
                               .arg(c)
                               .arg(out[size_t(i) * components + c])
                               .arg(expected)));
        }
      }
    }
  }

  // Every 16-bit value, grey and RGB, in rows that end a vector step early,
  // exactly, or late.
  void SixteenBitMatchesTheDefinition_data() {
    QTest::addColumn<int>("channels");
    QTest::addColumn<int>("pixels");
    for (int pixels : {1, 15, 16, 17, 65536, 65543}) {
      QTest::addRow("grey, %d pixels", pixels) << 1 << pixels;
    }
    QTest::addRow("rgb, 21846 pixels") << 3 << 21846;
  }
  void SixteenBitMatchesTheDefinition() {
    QFETCH(int, channels);
    QFETCH(int, pixels);
    const size_t samples = size_t(pixels) * channels;
    std::vector<uint16_t> in(samples);
    for (size_t i = 0; i < samples; ++i) in[i] = uint16_t(i * 40503);
    std::vector<uint8_t> out(samples);
    lumeconv::FlattenRow(reinterpret_cast<const uint8_t*>(in.data()),
                         out.data(), pixels, channels, 16);
    for (size_t i = 0; i < samples; ++i) {
      const int expected = (in[i] * 255 + 32767) / 65535;
      if (out[i] != expected) {
        QFAIL(qPrintable(QString("sample %1 (%2): %3, expected %4")
                             .arg(i)
                             .arg(in[i])
                             .arg(out[i])
                             .arg(expected)));
      }
    }
  }
};

QTEST_GUILESS_MAIN(FlattenTest)
#include "flatten_test.moc"
