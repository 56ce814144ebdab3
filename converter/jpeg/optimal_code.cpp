#include "optimal_code.h"

#include <algorithm>
#include <functional>

namespace lumeconv {

namespace {

// A reserved symbol of count 1 keeps the all-ones code free.
constexpr int kReserved = 256;
constexpr int kLongest = 32;

// Smaller counts first; of equal counts, the higher symbol first, as the
// standard's search for the smallest keeps the last it finds.
uint64_t Key(uint64_t count, int symbol) {
  return count << 9 | static_cast<uint64_t>(kReserved - symbol);
}
int SymbolOf(uint64_t key) { return kReserved - static_cast<int>(key & 511); }

}  // namespace

std::optional<HuffmanCode> OptimalCode(const long* counts) {
  std::array<uint64_t, kReserved + 1> heap;
  int in_heap = 0;
  for (int s = 0; s < kReserved; ++s) {
    if (counts[s] > 0) heap[in_heap++] = Key(uint64_t(counts[s]), s);
  }
  if (in_heap == 0) return HuffmanCode{};
  heap[in_heap++] = Key(1, kReserved);
  const auto first = heap.begin();
  std::make_heap(first, first + in_heap, std::greater<>());
  std::array<int, kReserved + 1> size{};
  std::array<int, kReserved + 1> others;
  others.fill(-1);
  while (in_heap > 1) {
    std::pop_heap(first, first + in_heap--, std::greater<>());
    std::pop_heap(first, first + in_heap--, std::greater<>());
    const uint64_t smallest = heap[in_heap + 1];
    const uint64_t next = heap[in_heap];
    int c1 = SymbolOf(smallest);
    int c2 = SymbolOf(next);
    heap[in_heap++] = Key((smallest >> 9) + (next >> 9), c1);
    std::push_heap(first, first + in_heap, std::greater<>());
    // Every symbol under either gets one bit longer; c2's list joins c1's.
    for (++size[c1]; others[c1] >= 0; ++size[c1]) c1 = others[c1];
    others[c1] = c2;
    for (++size[c2]; others[c2] >= 0; ++size[c2]) c2 = others[c2];
  }
  std::array<int, kLongest + 1> of_length{};
  for (int s = 0; s <= kReserved; ++s) {
    if (size[s] > kLongest) return std::nullopt;
    if (size[s]) of_length[size[s]]++;
  }
  // Lengths over 16: two codes at the longest length move up a bit, and a
  // shorter code splits to make room (Figure K.3).
  for (int n = kLongest; n > 16; --n) {
    while (of_length[n] > 0) {
      int j = n - 2;
      while (of_length[j] == 0) --j;
      of_length[n] -= 2;
      of_length[n - 1]++;
      of_length[j + 1] += 2;
      of_length[j]--;
    }
  }
  int longest = 16;
  while (of_length[longest] == 0) --longest;
  of_length[longest]--;  // the reserved symbol's code
  HuffmanCode code;
  for (int n = 1; n <= 16; ++n) {
    code.bits[n] = static_cast<uint8_t>(of_length[n]);
  }
  // The symbols by their lengths before the limit, each length in symbol
  // order.
  std::array<int, kLongest + 2> at{};
  for (int s = 0; s < kReserved; ++s) at[size[s] + 1]++;
  at[1] = 0;
  for (int n = 1; n <= kLongest; ++n) at[n + 1] += at[n];
  for (int s = 0; s < kReserved; ++s) {
    if (size[s]) code.values[at[size[s]]++] = static_cast<uint8_t>(s);
  }
  code.count = at[kLongest];
  return code;
}

}  // namespace lumeconv
