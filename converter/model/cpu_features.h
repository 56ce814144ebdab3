#pragma once

#if defined(__x86_64__)
#include <cpuid.h>

namespace lumeconv {

// Asked of the processor once, when first needed. The compiler's own check
// asks it about a dozen questions at every start, and in a virtual machine
// each question is a trip to the hypervisor.
inline bool HasSsse3() {
  static const bool has = [] {
    unsigned eax = 0, ebx = 0, ecx = 0, edx = 0;
    __cpuid(1, eax, ebx, ecx, edx);
    return (ecx & bit_SSSE3) != 0;
  }();
  return has;
}

}  // namespace lumeconv

#endif
