#include "base/shutdown.h"

#include <cstdio>
#include <cstdlib>
#include <map>

namespace {

std::map<int, std::function<void()>>& Cleanups() {
  static std::map<int, std::function<void()>> cleanups;
  return cleanups;
}

}  // namespace

void EndProcess() {
  auto& cleanups = Cleanups();
  for (auto it = cleanups.rbegin(); it != cleanups.rend(); ++it) it->second();
  std::fflush(nullptr);
  std::_Exit(0);
}

int AddExitCleanup(std::function<void()> cleanup) {
  static int next = 0;
  Cleanups().emplace(++next, std::move(cleanup));
  return next;
}

void RemoveExitCleanup(int token) { Cleanups().erase(token); }
