// Unlocking coded frames before they are decoded. The two low bits of a record's coding_flags give
// its coding mode:
//   0  a plain JPEG, passed on unchanged;
//   1  the table block (at offset 60, where the receiver left a gap for it) is rebuilt with the
//      standard rebuild, then coding_flags becomes 0;
//   2, 3  the table block starts at 4 + app_length; the 8-byte key field 12 bytes into it must
//      match the stored key; then the block is rebuilt (the "LINUX" rebuild for servers that report
//      that operating system type, else the standard one) and the two mode bits are cleared.
// The rebuild itself is formats/header_template.h.
//
// Threads: the delivering thread only.
#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <span>
#include <string>

#include "formats/header_template.h"

namespace kv4r::viewer {

// What a key request came back with.
enum class KeyAnswer {
  kTyped,      // the user answered; the text (maybe empty) is in `typed`
  kNobody,     // nobody can be asked: the frame's key counts as wrong
  kWithdrawn,  // the request ended unanswered because the stream stops: the frame is only dropped
};

// The window's key state for protected frames. The stored key is touched only by the delivering
// thread; `request_key` runs there too and blocks until the user has answered.
struct FrameKey {
  std::array<char, formats::kKeyFieldSize> stored{};  // zero at start
  // Asks the user for the key (the control's key dialog). Optional.
  std::function<KeyAnswer(std::string* typed)> request_key;
};

// Copies at most 8 characters of `typed` into the stored key (the rest zero).
void storeKey(FrameKey& key, const std::string& typed);

// The key check of a frame's key field: compares with the stored key, asks once through
// `request_key` when it differs and compares again. Returns 1 when the frame may be shown,
// kDecodeErrKeyRefused when the key is wrong, kDecodeErrDropped when the request was withdrawn
// (the stored key is then left as it was).
[[nodiscard]] int checkFrameKey(FrameKey& key,
                                std::span<const std::uint8_t, formats::kKeyFieldSize> field);

// Unlocks `record` (the first `record.size()` bytes of the receive buffer) in place. Returns 1
// (now a plain JPEG record), kDecodeErrKeyRefused (key check failed; nothing changed),
// kDecodeErrDropped (the key request was withdrawn; nothing changed),
// kDecodeErrParameters (parameter bytes outside the rebuild's tables), kDecodeErrRecord (too short
// for its fixed part or its table block, or a mode 2/3 app_length below 56).
[[nodiscard]] int unlockFrame(std::span<std::uint8_t> record, bool linux_variant, FrameKey& key);

}  // namespace kv4r::viewer
