#include "huffman_rewrite.h"

#include <algorithm>
#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "conversion_error.h"
#include "optimal_code.h"

namespace lumeconv {

namespace {

[[noreturn]] void Broken(const std::string& what) {
  throw ConversionError(kExitOutput, "JPEG cannot be rewritten (" + what + ")");
}

// Codes this long or shorter are decoded with one lookup.
constexpr int kPeekBits = 9;

struct Table {
  std::array<uint8_t, 17> bits{};  // bits[n]: number of codes of length n
  std::vector<uint8_t> values;
  // Canonical codes, by symbol.
  std::array<uint16_t, 256> code{};
  std::array<uint8_t, 256> length{};
  // Decoding: the first code and value index of each length.
  std::array<int32_t, 18> max_code{};
  std::array<int32_t, 17> first_index{};
  std::array<int32_t, 17> first_code{};
  // The codes of up to kPeekBits bits, by the next kPeekBits bits: the
  // length times 256 plus the value; 0 for longer codes.
  std::array<uint16_t, 1u << kPeekBits> fast{};

  void Build() {
    int next = 0;
    int index = 0;
    for (int n = 1; n <= 16; ++n) {
      first_index[n] = index;
      first_code[n] = next;
      for (int i = 0; i < bits[n]; ++i, ++index, ++next) {
        if (index >= static_cast<int>(values.size())) Broken("bad table");
        code[values[index]] = static_cast<uint16_t>(next);
        length[values[index]] = static_cast<uint8_t>(n);
        if (n <= kPeekBits) {
          const int spare = kPeekBits - n;
          for (int rest = 0; rest < (1 << spare); ++rest) {
            fast[(next << spare) | rest] =
                static_cast<uint16_t>(n << 8 | values[index]);
          }
        }
      }
      max_code[n] = bits[n] ? next - 1 : -1;
      next <<= 1;
    }
    max_code[17] = 0x7fffffff;
  }
};

Table OptimalTable(const std::array<long, 257>& freq) {
  const std::optional<HuffmanCode> code = OptimalCode(freq.data());
  // libjpeg refuses such counts too.
  if (!code) Broken("Huffman code too long");
  Table table;
  table.bits = code->bits;
  table.values.assign(code->values.begin(), code->values.begin() + code->count);
  table.Build();
  return table;
}

// The entropy-coded bits, read from the file in blocks; 0xFF must be
// followed by a stuffed zero. Damage is told only when a bit beyond it is
// needed, as when the bits were read one by one: looking ahead for a short
// code takes data bytes only, and stops before a marker or the end.
class BitReader {
 public:
  explicit BitReader(FILE* in) : in_(in), block_(kBlock) {}
  int Bit() { return Bits(1); }
  int Bits(int n) {
    while (count_ < n) Fill();
    count_ -= n;
    return static_cast<int>((bits_ >> count_) & ((1u << n) - 1));
  }
  int Decode(const Table& t) {
    while (count_ < kPeekBits && TakeDataByte()) {
    }
    if (count_ >= kPeekBits) {
      const int e =
          t.fast[(bits_ >> (count_ - kPeekBits)) & ((1u << kPeekBits) - 1)];
      if (e != 0) {
        count_ -= e >> 8;
        return e & 0xff;
      }
    }
    int code = Bit();
    int n = 1;
    while (code > t.max_code[n]) {
      code = (code << 1) | Bit();
      if (++n > 16) Broken("bad code");
    }
    return t.values[t.first_index[n] + code - t.first_code[n]];
  }

 private:
  static constexpr size_t kBlock = 64 * 1024;

  // The byte `ahead` places on, EOF past the end; at least two are kept at
  // hand, so that a 0xFF and what follows it are seen together.
  int Peek(size_t ahead) {
    if (end_ - at_ <= ahead) {
      std::copy(block_.begin() + at_, block_.begin() + end_, block_.begin());
      end_ -= at_;
      at_ = 0;
      end_ += std::fread(block_.data() + end_, 1, block_.size() - end_, in_);
      if (end_ <= ahead) return EOF;
    }
    return block_[at_ + ahead];
  }
  // Adds the next byte if it is data (a stuffed 0xFF counts), else false.
  bool TakeDataByte() {
    const int c = Peek(0);
    if (c == EOF || (c == 0xff && Peek(1) != 0)) return false;
    at_ += c == 0xff ? 2 : 1;
    bits_ = (bits_ << 8) | static_cast<uint32_t>(c);
    count_ += 8;
    return true;
  }
  void Fill() {
    if (TakeDataByte()) return;
    Broken(Peek(0) == EOF ? "entropy data ends early"
                          : "marker inside entropy data");
  }
  FILE* in_;
  std::vector<uint8_t> block_;
  size_t at_ = 0;
  size_t end_ = 0;
  uint64_t bits_ = 0;
  int count_ = 0;
};

// Bits out, most significant first, with a zero stuffed after each 0xFF,
// written in blocks.
class BitWriter {
 public:
  explicit BitWriter(FILE* out) : out_(out) { block_.reserve(kBlock + 2); }
  void Put(uint32_t bits, int n) {
    bits_ = (bits_ << n) | (bits & ((uint64_t{1} << n) - 1));
    count_ += n;
    while (count_ >= 8) {
      count_ -= 8;
      Emit(static_cast<uint8_t>(bits_ >> count_));
    }
  }
  void Flush() {
    if (count_ != 0) Put((1u << (8 - count_)) - 1, 8 - count_);  // ones
    std::fwrite(block_.data(), 1, block_.size(), out_);
    block_.clear();
  }

 private:
  static constexpr size_t kBlock = 64 * 1024;

  void Emit(uint8_t byte) {
    block_.push_back(byte);
    if (byte == 0xff) block_.push_back(0);
    if (block_.size() >= kBlock) {
      std::fwrite(block_.data(), 1, block_.size(), out_);
      block_.clear();
    }
  }
  FILE* out_;
  std::vector<uint8_t> block_;
  uint64_t bits_ = 0;
  int count_ = 0;
};

struct Layout {
  uint32_t width = 0;
  uint32_t height = 0;
  struct Component {
    int id, h, v, dc, ac;
  };
  std::vector<Component> components;
  std::array<Table, 4> tables;  // DC0, DC1, AC0, AC1
  std::vector<uint8_t> header;  // everything before SOS but the DHTs
  std::vector<uint8_t> sos;
  long data_start = 0;
};

int Read16(FILE* in) {
  const int a = std::getc(in);
  const int b = std::getc(in);
  if (a == EOF || b == EOF) Broken("truncated header");
  return (a << 8) | b;
}

Layout ReadLayout(FILE* in) {
  Layout layout;
  std::rewind(in);
  if (std::getc(in) != 0xff || std::getc(in) != 0xd8) Broken("no SOI");
  layout.header = {0xff, 0xd8};
  for (;;) {
    if (std::getc(in) != 0xff) Broken("bad marker");
    const int marker = std::getc(in);
    const int length = Read16(in);
    std::vector<uint8_t> body(length - 2);
    if (std::fread(body.data(), 1, body.size(), in) != body.size()) {
      Broken("truncated segment");
    }
    if (marker == 0xc4) {
      for (size_t p = 0; p < body.size();) {
        const int cls = body[p] >> 4;
        const int id = body[p] & 15;
        if (id > 1) Broken("table id");
        Table& t = layout.tables[cls * 2 + id];
        int total = 0;
        for (int n = 1; n <= 16; ++n) total += (t.bits[n] = body[p + n]);
        t.values.assign(body.begin() + p + 17, body.begin() + p + 17 + total);
        t.Build();
        p += 17 + total;
      }
      continue;
    }
    if (marker == 0xc0) {
      layout.height = (body[1] << 8) | body[2];
      layout.width = (body[3] << 8) | body[4];
      for (int c = 0; c < body[5]; ++c) {
        layout.components.push_back({body[6 + c * 3], body[7 + c * 3] >> 4,
                                     body[7 + c * 3] & 15, 0, 0});
      }
    }
    if (marker == 0xda) {
      for (int c = 0; c < body[0]; ++c) {
        layout.components[c].dc = body[2 + c * 2] >> 4;
        layout.components[c].ac = body[2 + c * 2] & 15;
      }
      layout.sos = {0xff, 0xda, static_cast<uint8_t>(length >> 8),
                    static_cast<uint8_t>(length)};
      layout.sos.insert(layout.sos.end(), body.begin(), body.end());
      layout.data_start = std::ftell(in);
      return layout;
    }
    if (marker == 0xdd || (marker >= 0xc1 && marker <= 0xcf)) {
      Broken("not a plain baseline JPEG");
    }
    layout.header.insert(
        layout.header.end(),
        {0xff, static_cast<uint8_t>(marker), static_cast<uint8_t>(length >> 8),
         static_cast<uint8_t>(length)});
    layout.header.insert(layout.header.end(), body.begin(), body.end());
  }
}

// Walks every block's symbols in stream order. `visit(table, symbol,
// extra_bits, extra_count)` sees each one.
template <typename Visit>
void WalkSymbols(const Layout& layout, BitReader& reader, Visit visit) {
  int hmax = 1;
  int vmax = 1;
  for (const auto& c : layout.components) {
    hmax = std::max(hmax, c.h);
    vmax = std::max(vmax, c.v);
  }
  const bool single = layout.components.size() == 1;
  const uint64_t mcus_x = single ? (layout.width + 7) / 8
                                 : (layout.width + 8 * hmax - 1) / (8 * hmax);
  const uint64_t mcus_y = single ? (layout.height + 7) / 8
                                 : (layout.height + 8 * vmax - 1) / (8 * vmax);
  for (uint64_t m = 0; m < mcus_x * mcus_y; ++m) {
    for (const auto& c : layout.components) {
      const int blocks = single ? 1 : c.h * c.v;
      const int dc = c.dc;
      const int ac = 2 + c.ac;
      for (int b = 0; b < blocks; ++b) {
        int s = reader.Decode(layout.tables[dc]);
        visit(dc, s, reader.Bits(s), s);
        for (int k = 1; k < 64; ++k) {
          const int rs = reader.Decode(layout.tables[ac]);
          const int size = rs & 15;
          visit(ac, rs, reader.Bits(size), size);
          if (size == 0) {
            if ((rs >> 4) != 15) break;  // end of block
            k += 15;
          } else {
            k += rs >> 4;
          }
        }
      }
    }
  }
}

void WriteTable(FILE* out, int class_and_id, const Table& t) {
  const int length = 2 + 17 + static_cast<int>(t.values.size());
  std::fputc(0xff, out);
  std::fputc(0xc4, out);
  std::fputc(length >> 8, out);
  std::fputc(length & 0xff, out);
  std::fputc(class_and_id, out);
  for (int n = 1; n <= 16; ++n) std::fputc(t.bits[n], out);
  std::fwrite(t.values.data(), 1, t.values.size(), out);
}

}  // namespace

void OptimiseHuffmanTables(FILE* in, FILE* out, const SymbolCounts* counted) {
  Layout layout = ReadLayout(in);
  SymbolCounts freq{};
  if (counted) {
    freq = *counted;
  } else {
    BitReader reader(in);
    WalkSymbols(layout, reader, [&](int table, int symbol, int, int) {
      freq[table][symbol]++;
    });
  }
  std::array<Table, 4> optimal;
  std::array<bool, 4> used{};
  for (int t = 0; t < 4; ++t) {
    for (long f : freq[t]) used[t] = used[t] || f > 0;
    optimal[t] = used[t] ? OptimalTable(freq[t]) : layout.tables[t];
  }
  std::fwrite(layout.header.data(), 1, layout.header.size(), out);
  for (int t = 0; t < 4; ++t) {
    if (used[t]) WriteTable(out, (t / 2) << 4 | (t % 2), optimal[t]);
  }
  std::fwrite(layout.sos.data(), 1, layout.sos.size(), out);
  std::fseek(in, layout.data_start, SEEK_SET);
  BitReader reader(in);
  BitWriter writer(out);
  WalkSymbols(layout, reader, [&](int table, int symbol, int extra, int count) {
    // Counts that missed a symbol would leave it without a code.
    if (optimal[table].length[symbol] == 0) Broken("symbol not counted");
    writer.Put(optimal[table].code[symbol], optimal[table].length[symbol]);
    writer.Put(static_cast<uint32_t>(extra), count);
  });
  writer.Flush();
  std::fputc(0xff, out);
  std::fputc(0xd9, out);
  if (std::ferror(out)) Broken("write error");
}

}  // namespace lumeconv
