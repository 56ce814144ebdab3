#pragma once

#include <algorithm>
#include <vector>

// The middle of the values (the upper one of an even count): one slow or
// one lucky run does not move it.
inline double Median(std::vector<double> values) {
  std::sort(values.begin(), values.end());
  return values[values.size() / 2];
}
