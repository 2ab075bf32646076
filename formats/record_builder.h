// Builds frame records around JPEG pictures, for the development server and for tests.
//
// The input is an ordinary JPEG file (for instance from libjpeg-turbo, with its own APP0/JFIF,
// DQT, SOF0, DHT and SOS segments in the encoder's order). The builder drops the encoder's
// application and comment segments, splits multi-table DQT/DHT segments into one segment per table
// and re-emits the tables in the record's fixed order:
//   SOI, one APPn (60-byte fixed part + extension bytes + name items), the 603-byte table block
//   (DQT table 0, DQT table 1, SOF0, DHT DC 0, DHT AC 0, DHT DC 1, DHT AC 1, SOS), scan data, EOI.
// A colour baseline picture with 8-bit quantisation tables and the standard Huffman tables (the
// encoder's default: not optimised) always fits. Anything else (greyscale, optimised Huffman
// tables, progressive coding, restart intervals, 12-bit tables) fails with kFormatsErrTableLayout,
// unless `allow_other_tables` is set: the tables are then emitted in the encoder's order, without
// the fixed 603-byte layout (such records decode, but a receiver that rebuilds or skips the table
// block by size cannot handle them).
//
// Pure functions: any thread, no state.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "formats/frame_record.h"

namespace kv4r::formats {

struct RecordSpec {
  std::uint8_t app_marker = 0xE2;   // 0xE0..0xEF; no reader checks it
  std::uint16_t source_number = 0;  // a clip's first record needs a value below 256
  std::uint16_t camera_number = 1;  // 1..6 in a valid clip
  std::uint16_t year = 2004;
  std::uint8_t month = 1;
  std::uint8_t day = 1;
  std::uint8_t hour = 0;
  std::uint8_t minute = 0;
  std::uint8_t second = 0;
  std::uint8_t hundredths = 0;
  std::uint16_t coding_flags = 0;  // written as given
  // Bytes placed at offset 60, at the start of the APPn's item area, before the name items (the
  // server puts the header parameters of a frame without table block here).
  std::vector<std::uint8_t> extension;
  // Name items; an empty name leaves its item out. Texts must not contain a zero byte.
  std::string server_name;
  std::string camera_name;
  // Leave the 603-byte table block out (a frame whose tables the receiver rebuilds). The record
  // then is SOI, APPn, scan data, EOI, and is not a decodable JPEG on its own.
  bool omit_table_block = false;
  // See the file comment.
  bool allow_other_tables = false;
};

// Sets the record spec's time stamp fields from a stamp in seconds since 1970 (taken as UTC) and
// hundredths.
void setRecordStamp(RecordSpec* spec, std::int64_t time_seconds, int hundredths);

// Builds a record from `jpeg` into *record (replaced). Returns the record's length (> 60), or:
// kFormatsErrBadJpeg when `jpeg` is not a parsable JPEG (no SOI, a segment running past the end,
// no SOS, no EOI after the scan), kFormatsErrTableLayout as described above, kFormatsErrTooLarge
// when the APPn would pass 65,535 bytes or the record 4 GiB, kFormatsErrArgument for a name holding
// a zero byte or a marker outside 0xE0..0xEF. On failure *record is left empty.
[[nodiscard]] int buildFrameRecord(const RecordSpec& spec, std::span<const std::uint8_t> jpeg,
                                   std::vector<std::uint8_t>* record);

// Offset of the table block (or, with omit_table_block, of the scan data) in a record: 4 +
// app_length. kFormatsErrTooShort when the record holds fewer than 6 bytes.
[[nodiscard]] int tableBlockOffset(std::span<const std::uint8_t> record);

}  // namespace kv4r::formats
