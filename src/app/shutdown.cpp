#include "app/shutdown.h"

#include <cstdio>
#include <cstdlib>

void EndProcess() {
  std::fflush(nullptr);
  std::_Exit(0);
}
