// The frame record: one camera picture as the video server sends it and as clips store it. A record
// is a complete JPEG file whose first application segment carries the picture's source, camera,
// capture time, total length, coding flags and the server and camera names. The byte layout is in
// formats/README.md.
//
// All functions here are pure: any thread may call them at any time; nothing is kept. Every read is
// checked against the length of the span it is given, so a lying record can never make them read
// past its bytes.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>

namespace kv4r::formats {

inline constexpr std::size_t kRecordFixedSize = 60;       // fixed part, read first
inline constexpr std::size_t kRecordBufferSize = 102400;  // largest record a reader accepts
inline constexpr std::size_t kTableBlockSize = 603;       // tables + frame header after the APPn
inline constexpr std::uint16_t kMinAppLength = 56;        // APPn that ends with the fixed part
inline constexpr std::uint8_t kServerNameItem = 4;
inline constexpr std::uint8_t kCameraNameItem = 5;
inline constexpr std::uint16_t kCodingModeMask = 0x0003;  // bits 0 and 1 of coding_flags
inline constexpr std::size_t kTitleCapacity = 128;        // title output: 127 characters + zero

// Field offsets in the fixed part (all multi-byte fields big-endian).
inline constexpr std::size_t kOffAppMarker = 2;
inline constexpr std::size_t kOffAppLength = 4;
inline constexpr std::size_t kOffSourceNumber = 28;
inline constexpr std::size_t kOffCameraNumber = 30;
inline constexpr std::size_t kOffYear = 32;
inline constexpr std::size_t kOffMonth = 34;
inline constexpr std::size_t kOffDay = 35;
inline constexpr std::size_t kOffHour = 36;
inline constexpr std::size_t kOffMinute = 37;
inline constexpr std::size_t kOffSecond = 38;
inline constexpr std::size_t kOffHundredths = 39;
inline constexpr std::size_t kOffRecordLength = 48;
inline constexpr std::size_t kOffCodingFlags = 58;

// Big-endian access at `offset`. Readers return 1, or kFormatsErrTooShort (and leave *value alone)
// when the field does not lie wholly inside `bytes`; writers likewise.
[[nodiscard]] int readBe16(std::span<const std::uint8_t> bytes, std::size_t offset,
                           std::uint16_t* value);
[[nodiscard]] int readBe32(std::span<const std::uint8_t> bytes, std::size_t offset,
                           std::uint32_t* value);
[[nodiscard]] int writeBe16(std::span<std::uint8_t> bytes, std::size_t offset, std::uint16_t value);
[[nodiscard]] int writeBe32(std::span<std::uint8_t> bytes, std::size_t offset, std::uint32_t value);

// The fields of the fixed part, as they stand (no range checks on the values).
struct FrameHeader {
  std::uint8_t app_marker = 0;   // second byte of the APPn marker (0xE0..0xEF when valid)
  std::uint16_t app_length = 0;  // APPn length, counts its own two bytes; segment ends at 4 + it
  std::uint16_t source_number = 0;
  std::uint16_t camera_number = 0;  // 1-based; 0 means no camera
  std::uint16_t year = 0;
  std::uint8_t month = 0;
  std::uint8_t day = 0;
  std::uint8_t hour = 0;
  std::uint8_t minute = 0;
  std::uint8_t second = 0;
  std::uint8_t hundredths = 0;
  std::uint32_t record_length = 0;  // whole record, fixed part included
  std::uint16_t coding_flags = 0;
};

// Reads the fixed part. 1, or kFormatsErrTooShort when `record` holds fewer than 60 bytes. Checks
// nothing else (see checkFrameRecord).
[[nodiscard]] int parseFrameHeader(std::span<const std::uint8_t> record, FrameHeader* header);

// Whether `lead`, the first bytes of a record (up to four: as many as there are), begins as every
// record does: FF D8 (start of image), then FF E0..EF (its application segment). Only the bytes
// given are compared; an empty span gives false.
[[nodiscard]] bool startsLikeRecord(std::span<const std::uint8_t> lead);

// A whole-record check for tools: start-of-image and APPn markers, 56 <= app_length, record_length
// equal to the span's size and at least 60 + app_length - 56 + 2, end-of-image marker at the end,
// coding bits 0-1 clear. 1 when sound, else kFormatsErrTooShort or kFormatsErrBadRecord; `why`
// (optional) receives a short English reason.
[[nodiscard]] int checkFrameRecord(std::span<const std::uint8_t> record,
                                   std::string* why = nullptr);

// Seconds since 1970-01-01 00:00:00 of a civil date and time taken as UTC. Computed arithmetically
// (no C library time-zone state), valid for any year 0..65535; out-of-range fields (month 13, ...)
// are carried arithmetically rather than rejected.
[[nodiscard]] std::int64_t stampSeconds(int year, int month, int day, int hour, int minute,
                                        int second);

// The civil date and time of `seconds` since 1970 taken as UTC (inverse of stampSeconds).
struct CivilTime {
  int year = 1970;
  int month = 1;
  int day = 1;
  int hour = 0;
  int minute = 0;
  int second = 0;
};
[[nodiscard]] CivilTime civilFromSeconds(std::int64_t seconds);

// "YYYY-MM-DD HH:MM:SS" of `seconds` taken as UTC (the stamp as the server wrote it).
[[nodiscard]] std::string formatStampSeconds(std::int64_t seconds);

// Parses "YYYY-MM-DD HH:MM:SS" (as stamped, no time-zone shift) into seconds since 1970. 1, or
// kFormatsErrArgument for any other text or an impossible date or time.
[[nodiscard]] int parseStampText(const std::string& text, std::int64_t* seconds);

// The record's capture time in whole seconds since 1970, the stamp taken as UTC; hundredths
// ignored.
[[nodiscard]] std::int64_t RecordTime(const FrameHeader& header);

// One record's time stamp as the player paces with it: RecordTime (32-bit, as the index stores it)
// and hundredths.
struct RecordStamp {
  std::int32_t time_seconds = 0;
  std::int32_t hundredths = 0;
};

// ((later.time_seconds - earlier.time_seconds) * 100 + later.hundredths - earlier.hundredths) * 10;
// negative when `later` is in fact earlier.
[[nodiscard]] std::int64_t stampDifferenceMs(const RecordStamp& earlier, const RecordStamp& later);

// The positions of the name items. The scan looks at every byte from offset 0 up to (not including)
// offset app_length (and never past the record's end): a byte 4 marks the server-name item, a byte
// 5 the camera-name item, and the last of each kind wins. Because the scan starts at 0, bytes of
// the fixed part can count as markers when no later item exists (a month of 5 reads as a camera
// item at offset 34). -1 when not found; a record shorter than 6 bytes or with app_length 0 has no
// items.
struct RecordItems {
  std::ptrdiff_t server_offset = -1;  // offset of the marking byte; the text starts 2 bytes later
  std::ptrdiff_t camera_offset = -1;
};
[[nodiscard]] RecordItems FindRecordItems(std::span<const std::uint8_t> record);

// The text of the item whose marking byte is at `item_offset`: from item_offset + 2 up to the first
// zero byte or the record's end, whichever comes first. Empty when the text would start past the
// end.
[[nodiscard]] std::string recordItemText(std::span<const std::uint8_t> record,
                                         std::ptrdiff_t item_offset);

// The one-line title "%s %s %04d/%02d/%02d %02d:%02d:%02d" (server name, camera name, year, month,
// day, hour, minute, second), cut to 127 characters. Returns 1 with *title set, or 0 with *title
// untouched when either item is missing or the fixed part is incomplete.
[[nodiscard]] int FormatRecordTitle(std::span<const std::uint8_t> record, std::string* title);

}  // namespace kv4r::formats
