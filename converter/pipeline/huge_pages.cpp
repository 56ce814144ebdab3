#include "huge_pages.h"

#include <malloc.h>
#include <sys/mman.h>

#include <algorithm>
#include <cstdint>
#include <cstdlib>

namespace lumeconv {

namespace {

bool g_preferred = false;
bool g_reserved = false;
uintptr_t g_reserve_start = 0;
uintptr_t g_reserve_end = 0;
// Held for the whole run; volatile, so that the allocation is kept.
void* volatile g_head = nullptr;

}  // namespace

void PreferHugePages() {
  // Large blocks come from the heap instead of fresh mappings of their own,
  // freed memory stays there for the next block, and the other threads
  // allocate there too rather than in heaps of small pages of their own.
  mallopt(M_MMAP_THRESHOLD, 1 << 30);
  mallopt(M_TRIM_THRESHOLD, 1 << 30);
  mallopt(M_ARENA_MAX, 1);
  g_preferred = true;
}

void ReserveHugePages() {
  if (!g_preferred || g_reserved) return;
  g_reserved = true;
  // Grow the heap once and mark its aligned part.
  constexpr uintptr_t kHuge = uintptr_t{2} << 20;
  constexpr size_t kReserve = size_t{64} << 20;
  void* block = std::malloc(kReserve);
  if (!block) return;
  const uintptr_t at = reinterpret_cast<uintptr_t>(block);
  const uintptr_t start = (at + kHuge - 1) & ~(kHuge - 1);
  const uintptr_t end = (at + kReserve) & ~(kHuge - 1);
  std::free(block);
  if (end <= start) return;
  ::madvise(reinterpret_cast<void*>(start), end - start, MADV_HUGEPAGE);
  // The part before the first 2 MiB boundary is held by a block never
  // touched or freed, so that what comes next lies on huge pages. Each
  // small page costs a fault on first touch, even when mapped in ahead.
  if (start > at) g_head = std::malloc(start - at);
  g_reserve_start = start;
  g_reserve_end = end;
}

void PrepareWorkingMemory(size_t bytes) {
#ifdef MADV_POPULATE_WRITE
  if (g_reserve_end <= g_reserve_start) return;
  const size_t length =
      std::min<size_t>(bytes, g_reserve_end - g_reserve_start) & ~size_t{4095};
  if (length > 0) {
    ::madvise(reinterpret_cast<void*>(g_reserve_start), length,
              MADV_POPULATE_WRITE);
  }
#else
  static_cast<void>(bytes);
#endif
}

}  // namespace lumeconv
