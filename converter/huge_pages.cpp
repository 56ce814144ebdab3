#include "huge_pages.h"

#include <malloc.h>
#include <sys/mman.h>

#include <cstdint>
#include <cstdlib>

namespace lumeconv {

void PreferHugePages() {
  // Large blocks come from the heap instead of fresh mappings of their own,
  // and freed memory stays there for the next block.
  mallopt(M_MMAP_THRESHOLD, 1 << 30);
  mallopt(M_TRIM_THRESHOLD, 1 << 30);
  // Grow the heap once and mark the aligned part of it; pages are still
  // only taken when touched.
  constexpr uintptr_t kHuge = uintptr_t{2} << 20;
  constexpr size_t kReserve = size_t{64} << 20;
  void* block = std::malloc(kReserve);
  if (!block) return;
  const uintptr_t at = reinterpret_cast<uintptr_t>(block);
  const uintptr_t start = (at + kHuge - 1) & ~(kHuge - 1);
  const uintptr_t end = (at + kReserve) & ~(kHuge - 1);
  if (end > start) {
    ::madvise(reinterpret_cast<void*>(start), end - start, MADV_HUGEPAGE);
  }
  std::free(block);
}

}  // namespace lumeconv
