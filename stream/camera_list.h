// The camera list of the stream requests: "1,3" for cameras 1 and 3. Pure functions; any thread.
#pragma once

#include <string>

namespace kv4r::stream {

// The 1-based numbers of the set bits among bits 0 to 5 of `mask` (bit i = camera i + 1),
// ascending, separated by commas without blanks; the empty mask gives an empty text. Higher bits
// are ignored. The longest result, "1,2,3,4,5,6", is 11 characters.
[[nodiscard]] std::string formatCameraList(int mask);

}  // namespace kv4r::stream
