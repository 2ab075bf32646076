// The receiving side of coded frames, written independently of the server for its tests: how a
// client turns a frame of the stream into an ordinary JPEG (the table gap of frames without table
// block, the key check, and the rebuild of the 603-byte header from the fixed template).
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace kv4r::simtest {

// What the receiver makes of a record that arrived without table block (coding_flags bit 0): the
// extension bytes stay at offset 60 at the start of a 603-byte gap, the scan follows the gap,
// app_length becomes 56 and record_length grows by 603 minus the extension length. Records with
// bit 0 clear come back unchanged.
std::vector<std::uint8_t> insertTableGap(const std::vector<std::uint8_t>& wire);

// The 603-byte header the receiver writes over block B (which must hold at least 8 bytes): read
// s, r, q from B[5..7], copy the template, fill in tables and size. Empty when s, r or q lie
// outside the tables of the chosen rebuild.
std::vector<std::uint8_t> rebuildHeader(const std::uint8_t* block, bool linux_variant);

// Unlocks a record (after insertTableGap) as the receiver does: mode 1 rebuilds at offset 60 with
// the standard rebuild; modes 2 and 3 check the key field at 12 bytes into the block at
// 4 + app_length against `key` and rebuild with the variant or the standard rebuild. Returns the
// mode-0 record, or an empty vector when the key is wrong or the parameters are unusable.
std::vector<std::uint8_t> unlockRecord(const std::vector<std::uint8_t>& record, bool linux_variant,
                                       const std::string& key);

struct Decoded {
  int width = 0;
  int height = 0;
  std::vector<std::uint8_t> rgb;
};
// Decodes a JPEG with TurboJPEG; width 0 on failure.
Decoded decodeRecord(const std::vector<std::uint8_t>& jpeg);

}  // namespace kv4r::simtest
