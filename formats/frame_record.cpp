#include "formats/frame_record.h"

#include <algorithm>
#include <cstdio>

#include "formats/formats_codes.h"

namespace kv4r::formats {

namespace {

bool fits(std::size_t size, std::size_t offset, std::size_t width) {
  return offset <= size && width <= size - offset;
}

// Days since 1970-01-01 of a proleptic Gregorian date (month 1..12, any day).
std::int64_t daysFromCivil(std::int64_t year, std::int64_t month, std::int64_t day) {
  year -= month <= 2 ? 1 : 0;
  const std::int64_t era = (year >= 0 ? year : year - 399) / 400;
  const std::int64_t year_of_era = year - era * 400;
  const std::int64_t day_of_year = (153 * (month + (month > 2 ? -3 : 9)) + 2) / 5 + day - 1;
  const std::int64_t day_of_era =
      year_of_era * 365 + year_of_era / 4 - year_of_era / 100 + day_of_year;
  return era * 146097 + day_of_era - 719468;
}

std::int64_t floorDiv(std::int64_t a, std::int64_t b) {
  std::int64_t q = a / b;
  if ((a % b != 0) && ((a < 0) != (b < 0))) --q;
  return q;
}

bool isLeap(int year) {
  return (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
}

int daysInMonth(int year, int month) {
  static constexpr int kDays[12] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  return month == 2 && isLeap(year) ? 29 : kDays[month - 1];
}

}  // namespace

int readBe16(std::span<const std::uint8_t> bytes, std::size_t offset, std::uint16_t* value) {
  if (!fits(bytes.size(), offset, 2)) return kFormatsErrTooShort;
  *value = static_cast<std::uint16_t>((bytes[offset] << 8) | bytes[offset + 1]);
  return 1;
}

int readBe32(std::span<const std::uint8_t> bytes, std::size_t offset, std::uint32_t* value) {
  if (!fits(bytes.size(), offset, 4)) return kFormatsErrTooShort;
  *value = (std::uint32_t{bytes[offset]} << 24) | (std::uint32_t{bytes[offset + 1]} << 16) |
           (std::uint32_t{bytes[offset + 2]} << 8) | std::uint32_t{bytes[offset + 3]};
  return 1;
}

int writeBe16(std::span<std::uint8_t> bytes, std::size_t offset, std::uint16_t value) {
  if (!fits(bytes.size(), offset, 2)) return kFormatsErrTooShort;
  bytes[offset] = static_cast<std::uint8_t>(value >> 8);
  bytes[offset + 1] = static_cast<std::uint8_t>(value);
  return 1;
}

int writeBe32(std::span<std::uint8_t> bytes, std::size_t offset, std::uint32_t value) {
  if (!fits(bytes.size(), offset, 4)) return kFormatsErrTooShort;
  for (int i = 0; i < 4; ++i) bytes[offset + i] = static_cast<std::uint8_t>(value >> (24 - 8 * i));
  return 1;
}

int parseFrameHeader(std::span<const std::uint8_t> record, FrameHeader* header) {
  if (record.size() < kRecordFixedSize) return kFormatsErrTooShort;
  FrameHeader h;
  h.app_marker = record[kOffAppMarker + 1];
  (void)readBe16(record, kOffAppLength, &h.app_length);
  (void)readBe16(record, kOffSourceNumber, &h.source_number);
  (void)readBe16(record, kOffCameraNumber, &h.camera_number);
  (void)readBe16(record, kOffYear, &h.year);
  h.month = record[kOffMonth];
  h.day = record[kOffDay];
  h.hour = record[kOffHour];
  h.minute = record[kOffMinute];
  h.second = record[kOffSecond];
  h.hundredths = record[kOffHundredths];
  (void)readBe32(record, kOffRecordLength, &h.record_length);
  (void)readBe16(record, kOffCodingFlags, &h.coding_flags);
  *header = h;
  return 1;
}

bool startsLikeRecord(std::span<const std::uint8_t> lead) {
  if (lead.empty()) return false;
  if (lead[0] != 0xFF) return false;
  if (lead.size() > 1 && lead[1] != 0xD8) return false;
  if (lead.size() > 2 && lead[2] != 0xFF) return false;
  return lead.size() < 4 || (lead[3] & 0xF0) == 0xE0;
}

int checkFrameRecord(std::span<const std::uint8_t> record, std::string* why) {
  auto fail = [why](int code, const char* reason) {
    if (why) *why = reason;
    return code;
  };
  FrameHeader h;
  if (parseFrameHeader(record, &h) != 1) return fail(kFormatsErrTooShort, "shorter than 60 bytes");
  if (record[0] != 0xFF || record[1] != 0xD8) return fail(kFormatsErrBadRecord, "no start marker");
  if (record[2] != 0xFF || (h.app_marker & 0xF0) != 0xE0) {
    return fail(kFormatsErrBadRecord, "no application segment");
  }
  if (h.app_length < kMinAppLength) return fail(kFormatsErrBadRecord, "app_length below 56");
  if (h.record_length != record.size()) {
    return fail(kFormatsErrBadRecord, "record_length differs from the record's size");
  }
  if (std::size_t{4} + h.app_length + 2 > record.size()) {
    return fail(kFormatsErrBadRecord, "application segment runs past the record");
  }
  if (record[record.size() - 2] != 0xFF || record[record.size() - 1] != 0xD9) {
    return fail(kFormatsErrBadRecord, "no end marker");
  }
  if ((h.coding_flags & kCodingModeMask) != 0) {
    return fail(kFormatsErrBadRecord, "coding bits 0-1 set");
  }
  return 1;
}

std::int64_t stampSeconds(int year, int month, int day, int hour, int minute, int second) {
  // Carry months outside 1..12 into the year, as a calendar normaliser would.
  std::int64_t y = year + floorDiv(month - 1, 12);
  const std::int64_t m = month - 1 - floorDiv(month - 1, 12) * 12 + 1;
  const std::int64_t days = daysFromCivil(y, m, 1) + (day - 1);
  return days * 86400 + std::int64_t{hour} * 3600 + std::int64_t{minute} * 60 + second;
}

CivilTime civilFromSeconds(std::int64_t seconds) {
  const std::int64_t days = floorDiv(seconds, 86400);
  const std::int64_t rest = seconds - days * 86400;
  const std::int64_t z = days + 719468;
  const std::int64_t era = (z >= 0 ? z : z - 146096) / 146097;
  const std::int64_t day_of_era = z - era * 146097;
  const std::int64_t year_of_era =
      (day_of_era - day_of_era / 1460 + day_of_era / 36524 - day_of_era / 146096) / 365;
  const std::int64_t day_of_year =
      day_of_era - (365 * year_of_era + year_of_era / 4 - year_of_era / 100);
  const std::int64_t mp = (5 * day_of_year + 2) / 153;
  CivilTime t;
  t.day = static_cast<int>(day_of_year - (153 * mp + 2) / 5 + 1);
  t.month = static_cast<int>(mp < 10 ? mp + 3 : mp - 9);
  t.year = static_cast<int>(year_of_era + era * 400 + (t.month <= 2 ? 1 : 0));
  t.hour = static_cast<int>(rest / 3600);
  t.minute = static_cast<int>(rest / 60 % 60);
  t.second = static_cast<int>(rest % 60);
  return t;
}

std::string formatStampSeconds(std::int64_t seconds) {
  const CivilTime t = civilFromSeconds(seconds);
  char text[64];
  std::snprintf(text, sizeof text, "%04d-%02d-%02d %02d:%02d:%02d", t.year, t.month, t.day, t.hour,
                t.minute, t.second);
  return text;
}

int parseStampText(const std::string& text, std::int64_t* seconds) {
  // Exactly "YYYY-MM-DD HH:MM:SS".
  static constexpr char kShape[] = "dddd-dd-dd dd:dd:dd";
  if (text.size() != sizeof kShape - 1) return kFormatsErrArgument;
  for (std::size_t i = 0; i < text.size(); ++i) {
    const bool digit = text[i] >= '0' && text[i] <= '9';
    if (kShape[i] == 'd' ? !digit : text[i] != kShape[i]) return kFormatsErrArgument;
  }
  auto number = [&text](std::size_t at, std::size_t width) {
    int value = 0;
    for (std::size_t i = 0; i < width; ++i) value = value * 10 + (text[at + i] - '0');
    return value;
  };
  const int year = number(0, 4), month = number(5, 2), day = number(8, 2);
  const int hour = number(11, 2), minute = number(14, 2), second = number(17, 2);
  if (month < 1 || month > 12 || day < 1 || day > daysInMonth(year, month) || hour > 23 ||
      minute > 59 || second > 59) {
    return kFormatsErrArgument;
  }
  *seconds = stampSeconds(year, month, day, hour, minute, second);
  return 1;
}

std::int64_t RecordTime(const FrameHeader& h) {
  return stampSeconds(h.year, h.month, h.day, h.hour, h.minute, h.second);
}

std::int64_t stampDifferenceMs(const RecordStamp& earlier, const RecordStamp& later) {
  return ((std::int64_t{later.time_seconds} - earlier.time_seconds) * 100 + later.hundredths -
          earlier.hundredths) *
         10;
}

RecordItems FindRecordItems(std::span<const std::uint8_t> record) {
  RecordItems items;
  std::uint16_t app_length = 0;
  if (readBe16(record, kOffAppLength, &app_length) != 1) return items;
  const std::size_t end = std::min<std::size_t>(app_length, record.size());
  for (std::size_t i = 0; i < end; ++i) {
    if (record[i] == kServerNameItem) items.server_offset = static_cast<std::ptrdiff_t>(i);
    if (record[i] == kCameraNameItem) items.camera_offset = static_cast<std::ptrdiff_t>(i);
  }
  return items;
}

std::string recordItemText(std::span<const std::uint8_t> record, std::ptrdiff_t item_offset) {
  if (item_offset < 0) return {};
  const std::size_t start = static_cast<std::size_t>(item_offset) + 2;
  std::string text;
  for (std::size_t i = start; i < record.size() && record[i] != 0; ++i) {
    text.push_back(static_cast<char>(record[i]));
  }
  return text;
}

int FormatRecordTitle(std::span<const std::uint8_t> record, std::string* title) {
  FrameHeader h;
  if (parseFrameHeader(record, &h) != 1) return 0;
  const RecordItems items = FindRecordItems(record);
  if (items.server_offset < 0 || items.camera_offset < 0) return 0;
  const std::string server = recordItemText(record, items.server_offset);
  const std::string camera = recordItemText(record, items.camera_offset);
  std::string text = server + " " + camera;
  char stamp[64];
  std::snprintf(stamp, sizeof stamp, " %04d/%02d/%02d %02d:%02d:%02d", h.year, h.month, h.day,
                h.hour, h.minute, h.second);
  text += stamp;
  if (text.size() > kTitleCapacity - 1) text.resize(kTitleCapacity - 1);
  *title = std::move(text);
  return 1;
}

}  // namespace kv4r::formats
