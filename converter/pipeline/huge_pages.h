#pragma once

#include <cstddef>

namespace lumeconv {

// Lets the large buffers of one conversion (the JPEG coefficients above all)
// sit on 2 MiB pages where the system offers them on request. Each buffer is
// written once, so with 4 KiB pages a third of a conversion's time went to
// page faults. Call once, at the start of the process; the pages are taken
// only by ReserveHugePages.
void PreferHugePages();

// Sets the memory aside, on 2 MiB pages, where the allocations from now on
// will lie. The first touch clears a whole 2 MiB page, more than a small
// image needs in all, so call it only once the work is known to be large.
// Does nothing without PreferHugePages, or a second time.
void ReserveHugePages();

// Maps in, with one call, the first `bytes` of the memory PreferHugePages
// set aside, where the next allocations will lie: faulting each page in on
// first write costs several times more. Does nothing without
// ReserveHugePages, or where the system cannot do it.
void PrepareWorkingMemory(size_t bytes);

}  // namespace lumeconv
