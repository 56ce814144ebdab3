#pragma once

#include <cstddef>

namespace lumeconv {

// Lets the large buffers of one conversion (the JPEG coefficients above all)
// sit on 2 MiB pages where the system offers them on request. Each buffer is
// written once, so with 4 KiB pages a third of a conversion's time went to
// page faults. Call once, at the start of the process.
void PreferHugePages();

// Maps in, with one call, the first `bytes` of the memory PreferHugePages
// set aside, where the next allocations will lie: faulting each page in on
// first write costs several times more. Does nothing without
// PreferHugePages, or where the system cannot do it.
void PrepareWorkingMemory(size_t bytes);

}  // namespace lumeconv
