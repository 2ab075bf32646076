// Turns one camera picture into the frame records the server sends: the record in the camera's
// coding mode (what the stream carries) and a plain mode-0 record of the same picture (what the
// MJPEG view shows). Both are built once per picture; per frame only the time stamp changes.
//
// Coding modes as the records carry them (coding_flags, bits 0 and 1):
//  0  an ordinary JPEG in the record layout, encoded at the camera's quality.
//  1  the table block is left out; the APPn holds 8 extension bytes whose bytes 5..7 are the
//  rebuild
//     parameters (sim/header_params.h); no name items (the receiver drops the segment's rest).
//  2  a whole record with name items whose table block carries the parameters in its bytes 5..7 and
//     the key field in its bytes 12..19 (so the block is useless until rebuilt).
//  3  as 1, with 20 extension bytes: parameters in bytes 5..7, key field in bytes 12..19 -- the
//     receiver finds its header block at offset 60 once it has reserved the table gap there.
// Modes 1..3 are encoded with exactly the tables the receiver's rebuild inserts: the standard
// rebuild for mode 1, and for modes 2 and 3 the "LINUX" variant when the server reports that
// operating system type.
//
// Pure functions; any thread.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "sim/picture_maker.h"

namespace kv4r::sim {

struct CameraCoding {
  int camera_number = 1;
  int mode = 0;
  int quality = 75;            // mode 0
  int factor = 1;              // modes 1..3, 1..4
  bool linux_variant = false;  // the server reports OsType LINUX with a kernel version >= 768
  std::string key;             // modes 2 and 3
  std::string server_name;
  std::optional<std::string> camera_name;
};

struct CodedPicture {
  std::vector<std::uint8_t> wire;   // the record as the stream sends it
  std::vector<std::uint8_t> plain;  // a mode-0 record of the same picture (a complete JPEG)
};

// The key mask the key field is combined with.
inline constexpr char kKeyMask[9] = "QRN_VELA";

// The 8-byte key field of `key` (at most 8 characters, zero-filled): key[i] XOR kKeyMask[i].
[[nodiscard]] std::array<std::uint8_t, 8> keyField(const std::string& key);

// Builds both records of `picture`. Returns the wire record's length, or kSimErrPicture (encoding)
// or kSimErrRecord (record layout, a size the rebuild cannot describe).
[[nodiscard]] int codePicture(const Picture& picture, const CameraCoding& coding,
                              CodedPicture* coded);

// Wraps a ready JPEG (mode 0) into a record for camera `camera_number`. Returns the record's length
// or kSimErrRecord.
[[nodiscard]] int wrapPlainJpeg(std::span<const std::uint8_t> jpeg, const CameraCoding& coding,
                                std::vector<std::uint8_t>* record);

// The eight time stamp bytes of a record (offsets 32..39: year big-endian, month, day, hour,
// minute, second, hundredths) for a moment given as local civil time.
struct StampBytes {
  std::array<std::uint8_t, 8> bytes{};
};
[[nodiscard]] StampBytes stampNow();
[[nodiscard]] StampBytes stampOf(int year, int month, int day, int hour, int minute, int second,
                                 int hundredths);

inline constexpr std::size_t kStampOffset = 32;

}  // namespace kv4r::sim
