#pragma once

namespace lumeconv {

// Lets the large buffers of one conversion (the JPEG coefficients above all)
// sit on 2 MiB pages where the system offers them on request. Each buffer is
// written once, so with 4 KiB pages a third of a conversion's time went to
// page faults. Call once, at the start of the process.
void PreferHugePages();

}  // namespace lumeconv
