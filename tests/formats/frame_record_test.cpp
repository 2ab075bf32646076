#include "formats/frame_record.h"

#include <gtest/gtest.h>

#include "formats/formats_codes.h"
#include "tests/formats/clip_fixture.h"

namespace kv4r::formats {
namespace {

using testing::Bytes;
using testing::kStamp2004;
using testing::syntheticRecord;

// Appends name items to a synthetic record's APPn and fixes both lengths.
Bytes withItems(Bytes record, const Bytes& items) {
  record.insert(record.begin() + kRecordFixedSize, items.begin(), items.end());
  (void)writeBe16(record, kOffAppLength, static_cast<std::uint16_t>(56 + items.size()));
  (void)writeBe32(record, kOffRecordLength, static_cast<std::uint32_t>(record.size()));
  return record;
}

Bytes item(std::uint8_t type, const std::string& text) {
  Bytes bytes(text.size() + 3, 0);
  bytes[0] = type;
  std::copy(text.begin(), text.end(), bytes.begin() + 2);
  return bytes;
}

TEST(RecordTimeTest, StampIsTakenAsUtcWithoutTimeZoneState) {
  setenv("TZ", "Asia/Kolkata", 1);  // must not matter
  tzset();
  Bytes record = syntheticRecord(100, 1, kStamp2004, 10);
  FrameHeader header;
  ASSERT_EQ(parseFrameHeader(record, &header), 1);
  EXPECT_EQ(header.year, 2004);
  EXPECT_EQ(header.month, 5);
  EXPECT_EQ(RecordTime(header), 1083827289);
  unsetenv("TZ");
  tzset();

  // 07:08:09.10 and 07:08:10.00 are 900 ms apart.
  FrameHeader later;
  Bytes next = syntheticRecord(100, 1, kStamp2004 + 1, 0);
  ASSERT_EQ(parseFrameHeader(next, &later), 1);
  const RecordStamp a{static_cast<std::int32_t>(RecordTime(header)), header.hundredths};
  const RecordStamp b{static_cast<std::int32_t>(RecordTime(later)), later.hundredths};
  EXPECT_EQ(stampDifferenceMs(a, b), 900);
  EXPECT_EQ(stampDifferenceMs(b, a), -900);
}

TEST(RecordTimeTest, CivilConversionsRoundTripAcrossLeapYearsAndEpochEdges) {
  EXPECT_EQ(stampSeconds(1970, 1, 1, 0, 0, 0), 0);
  EXPECT_EQ(stampSeconds(2000, 2, 29, 23, 59, 59), 951868799);
  EXPECT_EQ(stampSeconds(1969, 12, 31, 23, 59, 59), -1);
  EXPECT_EQ(stampSeconds(2004, 13, 1, 0, 0, 0), stampSeconds(2005, 1, 1, 0, 0, 0));
  for (std::int64_t s : {std::int64_t{-86401}, std::int64_t{0}, std::int64_t{951868799}, kStamp2004,
                         std::int64_t{4102444800}}) {
    const CivilTime t = civilFromSeconds(s);
    EXPECT_EQ(stampSeconds(t.year, t.month, t.day, t.hour, t.minute, t.second), s) << s;
  }
  EXPECT_EQ(formatStampSeconds(kStamp2004), "2004-05-06 07:08:09");
}

TEST(RecordTimeTest, StampTextIsStrict) {
  std::int64_t s = 0;
  ASSERT_EQ(parseStampText("2004-05-06 07:08:09", &s), 1);
  EXPECT_EQ(s, kStamp2004);
  for (const char* bad :
       {"2004-05-06", "2004-5-06 07:08:09", "2004-02-30 00:00:00", "2004-05-06 24:00:00",
        "2004-05-06T07:08:09", "2004-05-06 07:08:09 ", "2004-13-01 00:00:00", ""}) {
    EXPECT_EQ(parseStampText(bad, &s), kFormatsErrArgument) << bad;
  }
  EXPECT_EQ(parseStampText("2004-02-29 00:00:00", &s), 1);
  EXPECT_EQ(parseStampText("2003-02-29 00:00:00", &s), kFormatsErrArgument);
}

TEST(FieldAccessTest, ReadsAndWritesAreBoundedByTheSpan) {
  Bytes bytes{0x12, 0x34, 0x56};
  std::uint16_t v16 = 7;
  std::uint32_t v32 = 7;
  EXPECT_EQ(readBe16(bytes, 1, &v16), 1);
  EXPECT_EQ(v16, 0x3456);
  EXPECT_EQ(readBe16(bytes, 2, &v16), kFormatsErrTooShort);
  EXPECT_EQ(readBe16(bytes, SIZE_MAX, &v16), kFormatsErrTooShort);
  EXPECT_EQ(readBe32(bytes, 0, &v32), kFormatsErrTooShort);
  EXPECT_EQ(v32, 7u);
  EXPECT_EQ(writeBe16(bytes, 2, 1), kFormatsErrTooShort);
  EXPECT_EQ(bytes[2], 0x56);

  FrameHeader header;
  EXPECT_EQ(parseFrameHeader(std::span(bytes), &header), kFormatsErrTooShort);
  const Bytes record = syntheticRecord(100);
  EXPECT_EQ(parseFrameHeader(std::span(record).first(59), &header), kFormatsErrTooShort);
}

TEST(RecordItemsTest, TitleFromServerAndCameraItems) {
  const Bytes record = withItems(syntheticRecord(200, 1, kStamp2004, 10),
                                 testing::concat({item(4, "Office"), item(5, "Door")}));
  std::string title;
  ASSERT_EQ(FormatRecordTitle(record, &title), 1);
  EXPECT_EQ(title, "Office Door 2004/05/06 07:08:09");
  EXPECT_EQ(checkFrameRecord(record), 1);
}

TEST(RecordItemsTest, ScanStartsAtOffsetZeroAndTheLastItemWins) {
  // Month 5 sits at offset 34: without a camera item it reads as one.
  const Bytes server_only = withItems(syntheticRecord(200), item(4, "Office"));
  RecordItems items = FindRecordItems(server_only);
  EXPECT_EQ(items.camera_offset, 34);
  EXPECT_EQ(items.server_offset, 60);

  const Bytes both =
      withItems(syntheticRecord(200), testing::concat({item(4, "A1"), item(5, "Door")}));
  items = FindRecordItems(both);
  EXPECT_EQ(items.camera_offset, 65);
  EXPECT_EQ(recordItemText(both, items.camera_offset), "Door");
}

TEST(RecordItemsTest, MissingItemsAndTruncationLeaveTheTitleAlone) {
  Bytes record = syntheticRecord(200, 1, stampSeconds(2004, 1, 6, 7, 8, 9));  // no byte 5 anywhere
  std::string title = "untouched";
  EXPECT_EQ(FormatRecordTitle(record, &title), 0);
  EXPECT_EQ(title, "untouched");

  const std::string long_name(200, 'x');
  record = withItems(syntheticRecord(400), testing::concat({item(4, long_name), item(5, "Door")}));
  ASSERT_EQ(FormatRecordTitle(record, &title), 1);
  EXPECT_EQ(title.size(), kTitleCapacity - 1);
}

TEST(RecordItemsTest, TextWithoutTerminatorStopsAtTheRecordEnd) {
  // An item whose text runs to the end of the record: nothing is read past the span.
  Bytes record = syntheticRecord(64);
  record[62] = 4;
  record[63] = 0;
  const std::span<const std::uint8_t> cut(record.data(), 64);
  (void)writeBe16(record, kOffAppLength, 0xFFFF);  // app_length lies
  const RecordItems items = FindRecordItems(cut);
  EXPECT_EQ(items.server_offset, 62);
  EXPECT_EQ(recordItemText(cut, items.server_offset), "");
  EXPECT_EQ(recordItemText(cut, 63), "");
}

TEST(CheckRecordTest, NamesTheFault) {
  const Bytes good = syntheticRecord(100);
  EXPECT_EQ(checkFrameRecord(good), 1);
  std::string why;
  Bytes bad = good;
  bad[1] = 0;
  EXPECT_EQ(checkFrameRecord(bad, &why), kFormatsErrBadRecord);
  EXPECT_EQ(why, "no start marker");
  bad = good;
  bad[99] = 0;
  EXPECT_EQ(checkFrameRecord(bad, &why), kFormatsErrBadRecord);
  EXPECT_EQ(why, "no end marker");
  bad = good;
  bad[kOffCodingFlags + 1] = 2;
  EXPECT_EQ(checkFrameRecord(bad, &why), kFormatsErrBadRecord);
  EXPECT_EQ(why, "coding bits 0-1 set");
  bad = good;
  (void)writeBe32(bad, kOffRecordLength, 101);
  EXPECT_EQ(checkFrameRecord(bad, &why), kFormatsErrBadRecord);
}

}  // namespace
}  // namespace kv4r::formats
