// TurboJPEG decompressors that go on working after a picture they refused.
#pragma once

namespace kv4r::formats {

// Frees `handle` (may be null) and returns a fresh decompressor, or null when none can be made.
// Call it after a failed header read or decode: the library leaves a handle whose header read
// failed in the middle of that read, and such a handle refuses every later picture with the same
// error.
[[nodiscard]] void* renewDecompressor(void* handle);

}  // namespace kv4r::formats
