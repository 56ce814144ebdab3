#pragma once

#include <cstdint>
#include <vector>

namespace lumeconv {

enum class ProfileVerdict {
  kKept,     // the profile is good and replaces any earlier one
  kIgnored,  // the chunk is too short to mean anything; nothing changes
  kInvalid,  // the profile is unusable, and so is any colour information
};

// Unpacks and checks the ICC profile of one iCCP chunk's data (keyword,
// compression method, zlib stream) for an image of `colour_type`, with the
// checks of the reference decoder.
ProfileVerdict ReadIccProfile(const std::vector<uint8_t>& chunk,
                              int colour_type, std::vector<uint8_t>* profile);

}  // namespace lumeconv
