#include "deflate_stream.h"

#include <zlib.h>

#include <QTest>
#include <algorithm>
#include <cstring>
#include <random>
#include <vector>

#include "byte_source.h"
#include "idat_ahead.h"
#include "inflater.h"
#include "support/png_fixture.h"

namespace {

using Bytes = std::vector<uint8_t>;

// Noise, runs, and repeats at every short distance and far back: what
// filtered rows of photos, screenshots and flat art give a compressor.
Bytes Picture() {
  std::mt19937 random(7);
  Bytes out;
  while (out.size() < 600000) {
    const size_t n = 1 + random() % 3000;
    const unsigned kind = random() % 4;
    const size_t back = 1 + random() % 40000;
    for (size_t i = 0; i < n; ++i) {
      if (kind == 0 || out.size() < back) {
        out.push_back(uint8_t(random()));
      } else if (kind == 1) {
        out.push_back(uint8_t(n));
      } else {
        out.push_back(out[out.size() - (kind == 2 ? 1 + n % 9 : back)]);
      }
    }
  }
  return out;
}

Bytes Compress(const Bytes& data, int level, int window_bits, int strategy,
               int memory = 9) {
  z_stream z{};
  deflateInit2(&z, level, Z_DEFLATED, window_bits, memory, strategy);
  Bytes out(deflateBound(&z, data.size()));
  z.next_in = const_cast<Bytef*>(data.data());
  z.avail_in = uInt(data.size());
  z.next_out = out.data();
  z.avail_out = uInt(out.size());
  deflate(&z, Z_FINISH);
  out.resize(z.total_out);
  deflateEnd(&z);
  return out;
}

// The stream fed and drained in pieces of random sizes: after its two-byte
// header to the engine, or whole to an Inflater whose second thread
// decodes parts ahead (`ahead` counts their bytes). Returns whether it
// ended well; `taken` counts the input.
bool Decode(const Bytes& stream, uint32_t window, Bytes* out, size_t* taken,
            std::mt19937& random, uint64_t* ahead = nullptr) {
  lumeconv::DeflateStream deflate(window);
  lumeconv::Inflater split(
      false,
      ahead ? std::make_unique<lumeconv::AheadFromMemory>(stream) : nullptr);
  out->clear();
  *taken = ahead ? 0 : 2;
  Bytes piece;
  for (int calls = 0; calls < 100000; ++calls) {
    const size_t in = std::min<size_t>(random() % 9000, stream.size() - *taken);
    piece.resize(1 + random() % 70000);
    const lumeconv::InflateStep step =
        ahead ? split.Inflate(stream.data() + *taken, in, piece.data(),
                              piece.size())
              : deflate.Decode(stream.data() + *taken, in, piece.data(),
                               piece.size());
    if (ahead) *ahead = split.BytesAhead();
    *taken += step.consumed;
    out->insert(out->end(), piece.begin(), piece.begin() + step.produced);
    if (step.status != lumeconv::InflateStatus::kOk) {
      return step.status == lumeconv::InflateStatus::kEnded;
    }
  }
  return false;
}

}  // namespace

class DeflateStreamTest : public QObject {
  Q_OBJECT

 private slots:
  void EveryKindOfStream_data() {
    QTest::addColumn<int>("level");
    QTest::addColumn<int>("strategy");
    const struct {
      const char* name;
      int level, strategy;
    } kinds[] = {
        {"default", 6, Z_DEFAULT_STRATEGY},  {"best", 9, Z_FILTERED},
        {"Huffman only", 6, Z_HUFFMAN_ONLY}, {"run-length", 6, Z_RLE},
        {"fixed codes", 6, Z_FIXED},         {"stored", 0, Z_DEFAULT_STRATEGY}};
    for (const auto& kind : kinds) {
      QTest::newRow(kind.name) << kind.level << kind.strategy;
    }
  }

  // Every window zlib writes, the bytes exactly, the input taken up to the
  // checksum and not past it; and with a byte changed, never an ending
  // zlib would not give with the same bytes.
  void EveryKindOfStream() {
    QFETCH(int, level);
    QFETCH(int, strategy);
    const Bytes picture = Picture();
    std::mt19937 random(11);
    for (int bits = 9; bits <= 15; bits += 3) {
      Bytes stream = Compress(picture, level, bits, strategy);
      const size_t length = stream.size();
      stream.insert(stream.end(), {1, 2, 3});
      Bytes out;
      size_t taken = 0;
      QVERIFY(Decode(stream, 1u << bits, &out, &taken, random));
      QVERIFY(out == picture);
      QCOMPARE(taken, length);

      for (int damage = 0; damage < 40; ++damage) {
        Bytes bad(stream.begin(), stream.begin() + length);
        bad[2 + random() % (length - 2)] ^= uint8_t(1 + random() % 255);
        if (!Decode(bad, 1u << bits, &out, &taken, random)) continue;
        Bytes expected(out.size() + 1);
        uLongf size = expected.size();
        QCOMPARE(uncompress(expected.data(), &size, bad.data(), length), Z_OK);
        expected.resize(size);
        QVERIFY(out == expected);
      }
    }
  }

  // Parts decoded ahead from every few blocks of streams of every kind and
  // window, with a block every 256 or 1024 symbols: zlib's bytes, and bytes
  // taken from the parts; with a byte changed, zlib's bytes or a refusal.
  void SplitStreams() {
    QFETCH(int, level);
    QFETCH(int, strategy);
    lumeconv::ForceSplitInflate(true);
    std::mt19937 random(13);
    // Noise repeated from 200 bytes back: a part's first match reaches
    // into the made-up window, every later one copies that, and the part
    // never comes right.
    Bytes repeated(200);
    for (uint8_t& byte : repeated) byte = uint8_t(random());
    while (repeated.size() < 300000) {
      repeated.push_back(repeated[repeated.size() - 200]);
    }
    const Bytes picture = Picture();
    uint64_t ahead_in_all = 0;
    for (int bits = 9; bits <= 15; bits += 3) {
      for (int memory : {1, 4}) {
        const Bytes& data = bits == 9 && memory == 1 ? repeated : picture;
        const Bytes stream = Compress(data, level, bits, strategy, memory);
        Bytes out;
        size_t taken = 0;
        uint64_t ahead = 0;
        QVERIFY(Decode(stream, 0, &out, &taken, random, &ahead));
        QVERIFY(out == data);
        QCOMPARE(taken, stream.size());
        ahead_in_all += ahead;
        for (int damage = 0; damage < 10; ++damage) {
          Bytes bad = stream;
          bad[2 + random() % (bad.size() - 2)] ^= uint8_t(1 + random() % 255);
          if (!Decode(bad, 0, &out, &taken, random, &ahead)) continue;
          Bytes expected(out.size() + 1);
          uLongf size = expected.size();
          QCOMPARE(uncompress(expected.data(), &size, bad.data(), bad.size()),
                   Z_OK);
          expected.resize(size);
          QVERIFY(out == expected);
        }
      }
    }
    lumeconv::ForceSplitInflate(false);
    // Parts start at blocks with codes of their own.
    if (level > 0 && strategy != Z_FIXED) QVERIFY(ahead_in_all > 0);
  }
  void SplitStreams_data() { EveryKindOfStream_data(); }

  // The thread that decodes ahead reads the stream from the IDAT chunks
  // itself: from any offset, in either direction, across chunks of every
  // size and empty ones, after the chunks before them, and not past the
  // first other chunk after them.
  void IdatBytesFromAnyOffset() {
    std::mt19937 random(17);
    QByteArray stream(5000, '\0');
    for (char& byte : stream) byte = char(random());
    QByteArray png = PngSignature() + Chunk("IHDR", QByteArray(13, '\1')) +
                     Chunk("tEXt", QByteArray("a\0b", 3));
    int at = 0;
    for (int size : {1, 0, 700, 3, 0, 2000, 2296}) {
      png += Chunk("IDAT", stream.mid(at, size));
      at += size;
    }
    png += Chunk("tEXt", "c") + Chunk("IDAT", "after") + Chunk("IEND", {});
    lumeconv::MemorySource source(reinterpret_cast<const uint8_t*>(png.data()),
                                  size_t(png.size()));
    lumeconv::IdatAhead ahead(source.SecondCursor());
    for (int read = 0; read < 200; ++read) {
      const int offset = int(random() % 5100);
      QByteArray got(int(random() % 3000), '\0');
      const size_t n =
          ahead.ReadAt(uint64_t(offset), reinterpret_cast<uint8_t*>(got.data()),
                       size_t(got.size()));
      QCOMPARE(got.left(int(n)), stream.mid(offset, got.size()));
    }
  }

  // zlib allows a match past the window when it lands in what one call
  // wrote; here it is refused, whatever the pieces.
  void MatchesPastTheWindowAreRefused() {
    std::mt19937 random(5);
    Bytes data(3000);
    for (size_t i = 0; i < data.size(); ++i) {
      data[i] = i < 1000 ? uint8_t(random()) : data[i - 1000];
    }
    const Bytes stream = Compress(data, 9, 15, Z_DEFAULT_STRATEGY);
    Bytes out;
    size_t taken = 0;
    QVERIFY(!Decode(stream, 512, &out, &taken, random));
    QVERIFY(Decode(stream, 1024, &out, &taken, random));
    QVERIFY(out == data);
  }
};

QTEST_GUILESS_MAIN(DeflateStreamTest)
#include "deflate_stream_test.moc"
